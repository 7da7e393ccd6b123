#include "monitor/light.h"

#include <QLabel>
#include <QPalette>

namespace monitor {

QColor colour(Rgb rgb) {
    return QColor(rgb.red, rgb.green, rgb.blue);
}

QLabel* newLight(const QString& caption, const QString& name, int frameStyle, const QColor& unlit,
                 QWidget* parent) {
    auto* light = new QLabel(caption, parent);
    light->setObjectName(name);
    light->setFrameStyle(frameStyle);
    light->setAlignment(Qt::AlignCenter);
    light->setFixedSize(32, 17);
    light->setAutoFillBackground(true);
    light->setBackgroundRole(QPalette::Window);
    setLight(light, unlit);
    return light;
}

void setLight(QLabel* light, const QColor& colour) {
    if (light->palette().color(QPalette::Window) == colour) return;
    QPalette palette = light->palette();
    palette.setColor(QPalette::Window, colour);
    light->setPalette(palette);
}

}  // namespace monitor
