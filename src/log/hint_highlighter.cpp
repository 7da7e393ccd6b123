#include "log/hint_highlighter.h"

#include <QApplication>
#include <QHash>
#include <QLabel>
#include <QPalette>
#include <QTimer>
#include <QWidget>

#include "widgets/command.h"

namespace logs {

namespace {

enum class Look { BlackCaption, MaroonCaption, FaceBackground };

const QHash<QString, Look>& listedControls() {
    static const QHash<QString, Look> controls = [] {
        QHash<QString, Look> listed;
        for (const char* name :
             {"SpeedButton1", "SpeedButton3", "SpeedButton4", "SpeedButton23", "SpeedButton24",
              "RadioButton1", "RadioButton2", "CheckBox2", "CheckBox3"})
            listed.insert(QString::fromLatin1(name), Look::BlackCaption);
        for (int number = 7; number <= 22; ++number)
            listed.insert(QStringLiteral("SpeedButton%1").arg(number), Look::BlackCaption);
        listed.insert(QStringLiteral("SpeedButton2"), Look::MaroonCaption);
        for (const char* name : {"ComboBox1", "ComboBaudrate", "ComboBox2", "ComboBox3",
                                 "ComboBox4", "ComboBox5", "ComboBox6", "Edit43", "Edit1", "Edit2"})
            listed.insert(QString::fromLatin1(name), Look::FaceBackground);
        return listed;
    }();
    return controls;
}

// Changes the palette only when a colour differs: most ticks change nothing, and a new
// palette repaints the control.
void setColour(QWidget& control, std::initializer_list<QPalette::ColorRole> roles,
               const QColor& colour) {
    QPalette palette = control.palette();
    bool changed = false;
    for (QPalette::ColorRole role : roles) {
        if (palette.color(role) == colour) continue;
        palette.setColor(role, colour);
        changed = true;
    }
    if (changed) control.setPalette(palette);
}

void showLook(QWidget& control, Look look, bool highlighted) {
    switch (look) {
        case Look::BlackCaption:
        case Look::MaroonCaption: {
            const QColor normal =
                look == Look::BlackCaption ? QColor(Qt::black) : QColor(128, 0, 0);
            setColour(control, {QPalette::WindowText, QPalette::ButtonText},
                      highlighted ? QColor(Qt::red) : normal);
            break;
        }
        case Look::FaceBackground:
            setColour(
                control, {QPalette::Base, QPalette::Button},
                highlighted ? QColor(Qt::cyan) : QApplication::palette().color(QPalette::Button));
            break;
    }
}

}  // namespace

HintHighlighter::HintHighlighter(QWidget& form, const QLabel& hintPanel, QObject& timerOwner)
    : QObject(&timerOwner), form_(&form), hintPanel_(&hintPanel) {
    setObjectName(QStringLiteral("HintHighlighter"));
    Timer1_ = new QTimer(&timerOwner);
    Timer1_->setObjectName(QStringLiteral("Timer1"));
    Timer1_->setInterval(100);
    connect(Timer1_, &QTimer::timeout, this,
            [this] { widgets::runCommand([this] { Timer1Timer(); }); });
    Timer1_->start();
}

void HintHighlighter::Timer1Timer() {
    if (!form_ || !hintPanel_) return;
    const QString hint = hintPanel_->text();
    const QHash<QString, Look>& listed = listedControls();
    for (QWidget* control : form_->findChildren<QWidget*>()) {
        const auto entry = listed.constFind(control->objectName());
        if (entry == listed.cend() || control->window() != form_) continue;
        // An empty panel is the pointer over no hint at all, never a control's hint.
        showLook(*control, *entry, !hint.isEmpty() && control->statusTip() == hint);
    }
}

}  // namespace logs
