#pragma once

#include <QPixmap>
#include <QString>

namespace app {

// The path of a picture embedded in the program, e.g. resourcePath("splash.jpg"). The first
// call registers the embedded resources, which a static library cannot do on its own.
QString resourcePath(const char* name);

// An embedded JPEG picture, decoded with libjpeg; a null pixmap where it cannot be decoded.
QPixmap jpegPicture(const char* name);

}  // namespace app
