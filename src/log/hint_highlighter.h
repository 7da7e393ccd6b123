#pragma once

#include <QObject>
#include <QPointer>

class QLabel;
class QTimer;
class QWidget;

namespace logs {

// Highlights the main window's principal control under the mouse: every 100 ms the hint in
// status panel 0 is compared with the current hint of each listed control, and a control whose
// hint it is gets its caption in red or its background in aqua; every other listed control
// gets its normal look. The timer belongs to the viewer, which lives from start to end, and
// runs whether or not the viewer is ever shown.
//
// The controls are looked up by name on each tick, so one that does not exist (yet) is simply
// left out, and one of another window with the same name (the driver window has its own
// Edit1 and SpeedButton1) is never touched.
class HintHighlighter : public QObject {
    Q_OBJECT
public:
    // timerOwner owns this object and its timer Timer1.
    HintHighlighter(QWidget& form, const QLabel& hintPanel, QObject& timerOwner);

    QTimer& Timer1() const { return *Timer1_; }
    void Timer1Timer();

private:
    QPointer<QWidget> form_;
    QPointer<const QLabel> hintPanel_;
    QTimer* Timer1_ = nullptr;
};

}  // namespace logs
