#include "log/hint_highlighter.h"

#include <QApplication>
#include <QLabel>
#include <QPalette>
#include <QTimer>
#include <QWidget>

#include "widgets/command.h"

namespace logs {

namespace {

using widgets::HintLook;

// Changes the palette only when a colour differs: most ticks change nothing, and a new
// palette repaints the control. The disabled colours stay the style's, so a control that is
// disabled (the write buttons under the input lock) still looks disabled.
void setColour(QWidget& control, std::initializer_list<QPalette::ColorRole> roles,
               const QColor& colour) {
    QPalette palette = control.palette();
    bool changed = false;
    for (QPalette::ColorRole role : roles) {
        for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
            if (palette.color(group, role) == colour) continue;
            palette.setColor(group, role, colour);
            changed = true;
        }
    }
    if (changed) control.setPalette(palette);
}

void showLook(QWidget& control, HintLook look, bool highlighted) {
    switch (look) {
        case HintLook::BlackCaption:
        case HintLook::MaroonCaption: {
            const QColor normal =
                look == HintLook::BlackCaption ? QColor(Qt::black) : QColor(128, 0, 0);
            setColour(control, {QPalette::WindowText, QPalette::ButtonText},
                      highlighted ? QColor(Qt::red) : normal);
            break;
        }
        case HintLook::FaceBackground:
            setColour(
                control, {QPalette::Base, QPalette::Button},
                highlighted ? QColor(Qt::cyan) : QApplication::palette().color(QPalette::Button));
            break;
    }
}

}  // namespace

HintHighlighter::HintHighlighter(const widgets::HintedControls& controls, const QLabel& hintPanel,
                                 QObject& timerOwner)
    : QObject(&timerOwner), hintPanel_(&hintPanel) {
    for (const widgets::HintedControl& hinted : controls)
        controls_.emplace_back(hinted.control, hinted.look);
    setObjectName(QStringLiteral("HintHighlighter"));
    Timer1_ = new QTimer(&timerOwner);
    Timer1_->setObjectName(QStringLiteral("Timer1"));
    Timer1_->setInterval(100);
    connect(Timer1_, &QTimer::timeout, this,
            [this] { widgets::runCommand([this] { Timer1Timer(); }); });
    Timer1_->start();
}

void HintHighlighter::Timer1Timer() {
    if (!hintPanel_) return;
    const QString hint = hintPanel_->text();
    for (const auto& [control, look] : controls_) {
        if (!control) continue;
        // An empty panel is the pointer over no hint at all, never a control's hint.
        showLook(*control, look, !hint.isEmpty() && control->statusTip() == hint);
    }
}

}  // namespace logs
