#pragma once

#include <QString>
#include <QWidget>
#include <string_view>

namespace widgets {

// The program's tables keep their texts as UTF-8.
inline QString utf8Text(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

// A control's hint is its tool tip and, while the mouse rests on it, the status bar's text.
inline void setHint(QWidget* control, const QString& hint) {
    control->setToolTip(hint);
    control->setStatusTip(hint);
}

}  // namespace widgets
