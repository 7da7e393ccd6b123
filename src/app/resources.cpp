#include "app/resources.h"

#include <QFile>
#include <QtGlobal>

#include "app/jpeg_image.h"

// Q_INIT_RESOURCE declares the registration function in the enclosing namespace, so it is
// called from the global one.
static bool registerResources() {
    Q_INIT_RESOURCE(quillmor);
    return true;
}

namespace app {

QString resourcePath(const char* name) {
    static const bool registered = registerResources();
    Q_UNUSED(registered);
    return QStringLiteral(":/quillmor/") + QLatin1String(name);
}

QPixmap jpegPicture(const char* name) {
    QFile picture(resourcePath(name));
    if (!picture.open(QIODevice::ReadOnly)) return {};
    return QPixmap::fromImage(decodeJpeg(picture.readAll()));
}

}  // namespace app
