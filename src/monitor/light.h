#pragma once

#include <QColor>

#include "monitor/register_table.h"

class QLabel;

namespace monitor {

QColor colour(Rgb rgb);

// A light is a framed label whose background shows a signal. Setting the colour it already
// has does nothing, so a poll that repaints every tick costs no redraw while nothing changes.
void setLight(QLabel* light, const QColor& colour);

}  // namespace monitor
