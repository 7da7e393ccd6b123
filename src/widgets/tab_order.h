#pragma once

#include <QList>

class QWidget;

namespace widgets {

// Sets the order in which Tab walks the controls under root to the order of their layouts:
// a box layout's items in turn, a grid's row by row, a page control's tab bar and then its
// pages, a scroll area's contents. So the order follows what the eye sees, and a control that
// joins a layout later joins the walk at its place once this runs again. Returns the controls
// that Tab reaches, in that order.
QList<QWidget*> orderTabsByLayout(QWidget& root);

}  // namespace widgets
