#include "monitor/light.h"

#include <QFontMetrics>
#include <QLabel>
#include <QPalette>

namespace monitor {

namespace {
constexpr int kUnlitFrameWidth = 1;
constexpr int kLitFrameWidth = 2;
const QSize kLightSize(32, 17);
}  // namespace

QColor colour(Rgb rgb) {
    return QColor(rgb.red, rgb.green, rgb.blue);
}

QLabel* newLight(const QString& caption, const QString& name, int frameStyle, const QColor& unlit,
                 QWidget* parent) {
    auto* light = new QLabel(caption, parent);
    light->setObjectName(name);
    light->setFrameStyle(frameStyle);
    light->setAlignment(Qt::AlignCenter);
    QFont bold = light->font();
    bold.setBold(true);
    const QSize litCaption = QFontMetrics(bold).size(Qt::TextSingleLine, caption) +
                             QSize(2 * kLitFrameWidth + 2, 2 * kLitFrameWidth);
    light->setFixedSize(kLightSize.expandedTo(litCaption));
    light->setAutoFillBackground(true);
    light->setBackgroundRole(QPalette::Window);
    light->setLineWidth(kUnlitFrameWidth);
    setLight(light, unlit, false);
    return light;
}

void setLight(QLabel* light, const QColor& colour, bool lit) {
    if (light->palette().color(QPalette::Window) != colour) {
        QPalette palette = light->palette();
        palette.setColor(QPalette::Window, colour);
        light->setPalette(palette);
    }
    if (light->font().bold() == lit) return;
    QFont caption = light->font();
    caption.setBold(lit);
    light->setFont(caption);
    light->setLineWidth(lit ? kLitFrameWidth : kUnlitFrameWidth);
}

}  // namespace monitor
