#pragma once

#include <QColor>
#include <QString>

#include "monitor/register_table.h"

class QLabel;
class QWidget;

namespace monitor {

QColor colour(Rgb rgb);

// A new light: a framed 32 x 17 label with its caption centred, shown unlit.
QLabel* newLight(const QString& caption, const QString& name, int frameStyle, const QColor& unlit,
                 QWidget* parent);

// A light is a framed label whose background shows a signal. Setting the colour it already
// has does nothing, so a poll that repaints every tick costs no redraw while nothing changes.
void setLight(QLabel* light, const QColor& colour);

}  // namespace monitor
