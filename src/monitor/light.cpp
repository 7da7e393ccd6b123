#include "monitor/light.h"

#include <QLabel>
#include <QPalette>

namespace monitor {

QColor colour(Rgb rgb) {
    return QColor(rgb.red, rgb.green, rgb.blue);
}

void setLight(QLabel* light, const QColor& colour) {
    if (light->palette().color(QPalette::Window) == colour) return;
    QPalette palette = light->palette();
    palette.setColor(QPalette::Window, colour);
    light->setPalette(palette);
}

}  // namespace monitor
