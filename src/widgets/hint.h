#pragma once

#include <QString>
#include <QWidget>
#include <string_view>
#include <vector>

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

// How a principal control shows that its hint is the one under the mouse: its caption turns
// red from black or maroon, or its background turns aqua from the button face.
enum class HintLook { BlackCaption, MaroonCaption, FaceBackground };

struct HintedControl {
    QWidget* control;
    HintLook look;
};
using HintedControls = std::vector<HintedControl>;

}  // namespace widgets
