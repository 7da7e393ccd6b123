#pragma once

#include <QObject>
#include <QPointer>
#include <utility>
#include <vector>

#include "widgets/hint.h"

class QLabel;
class QTimer;
class QWidget;

namespace logs {

// Highlights the main window's principal control under the mouse: every 100 ms the hint in
// status panel 0 is compared with the current hint of each control it was handed, and a
// control whose hint it is gets its caption in red or its background in aqua; every other one
// gets its normal look. The timer belongs to the viewer, which lives from start to end, and
// runs whether or not the viewer is ever shown; a control that is gone is left out.
class HintHighlighter : public QObject {
    Q_OBJECT
public:
    // timerOwner owns this object and its timer Timer1.
    HintHighlighter(const widgets::HintedControls& controls, const QLabel& hintPanel,
                    QObject& timerOwner);

    QTimer& Timer1() const { return *Timer1_; }
    void Timer1Timer();

private:
    std::vector<std::pair<QPointer<QWidget>, widgets::HintLook>> controls_;
    QPointer<const QLabel> hintPanel_;
    QTimer* Timer1_ = nullptr;
};

}  // namespace logs
