#pragma once

#include <QColor>
#include <QString>

#include "monitor/register_table.h"

class QLabel;
class QWidget;

namespace monitor {

QColor colour(Rgb rgb);

// A new light: a framed label of at least 32 x 17 with its caption centred, shown unlit. It is
// as large as its caption needs when lit, so lighting it never moves its neighbours.
QLabel* newLight(const QString& caption, const QString& name, int frameStyle, const QColor& unlit,
                 QWidget* parent);

// A light is a framed label whose background shows a signal. The lit colours are all pale
// against the unlit button face and some look unlit to colour-blind eyes, so a lit light also
// draws its caption bold inside a heavier frame. Setting the state it already shows does
// nothing, so a poll that repaints every tick costs no redraw while nothing changes.
void setLight(QLabel* light, const QColor& colour, bool lit);

}  // namespace monitor
