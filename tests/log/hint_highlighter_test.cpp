#include "log/hint_highlighter.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

// A main window holding some of the controls the highlighter is handed and one it is not, a
// control of the same name in a window of its own, and the status panel that shows the hint
// under the mouse.
class HintHighlighterTest : public ::testing::Test {
protected:
    HintHighlighterTest() {
        auto* central = new QWidget(&form);
        form.setCentralWidget(central);
        auto* layout = new QVBoxLayout(central);
        open = add<QToolButton>(layout, "SpeedButton1", "Подключиться к COM порту");
        close = add<QToolButton>(layout, "SpeedButton2", "Отключиться");
        write = add<QToolButton>(layout, "SpeedButton15", "Записать в регистр +4");
        modal = add<QCheckBox>(layout, "CheckBox3", "Смотреть LOG файл в модальном окне");
        port = add<QComboBox>(layout, "ComboBox1", "Адрес исследоваемого  базового порта ");
        hex = add<QLineEdit>(layout, "Edit1", "Введите адрес порта в hex");
        unlisted = add<QToolButton>(layout, "SpeedButton30", "Открыть LOG файл");
        layout->addWidget(&panel);
        driverButton = new QToolButton(&driverWindow);
        driverButton->setObjectName(QStringLiteral("SpeedButton1"));
        driverButton->setStatusTip(open->statusTip());
        using widgets::HintLook;
        highlighter = new logs::HintHighlighter({{open, HintLook::BlackCaption},
                                                 {close, HintLook::MaroonCaption},
                                                 {write, HintLook::BlackCaption},
                                                 {modal, HintLook::BlackCaption},
                                                 {port, HintLook::FaceBackground},
                                                 {hex, HintLook::FaceBackground}},
                                                panel, viewer);
    }
    template <typename T>
    T* add(QVBoxLayout* layout, const char* name, const char* hint) {
        auto* control = new T(layout->parentWidget());
        control->setObjectName(QString::fromLatin1(name));
        control->setStatusTip(QString::fromUtf8(hint));
        layout->addWidget(control);
        return control;
    }
    void hover(const QWidget* control) {
        panel.setText(control ? control->statusTip() : QString());
        highlighter->Timer1Timer();
    }
    static QColor caption(const QWidget* control) {
        return control->palette().color(control->foregroundRole());
    }
    static QColor background(const QWidget* control) {
        return control->palette().color(QPalette::Base);
    }
    static QColor face() { return QApplication::palette().color(QPalette::Button); }

    QObject viewer;
    QMainWindow form;
    QLabel panel;
    QDialog driverWindow{&form};
    QToolButton *open, *close, *write, *unlisted, *driverButton;
    QCheckBox* modal;
    QComboBox* port;
    QLineEdit* hex;
    logs::HintHighlighter* highlighter = nullptr;
};

TEST_F(HintHighlighterTest, RunsEvery100MsFromCreationOnATimerOfTheViewer) {
    QTimer& timer = highlighter->Timer1();
    EXPECT_TRUE(timer.isActive());
    EXPECT_EQ(timer.interval(), 100);
    EXPECT_EQ(timer.parent(), &viewer);
    EXPECT_EQ(highlighter->parent(), &viewer);
}

TEST_F(HintHighlighterTest, FirstTickGivesEveryListedControlItsNormalLook) {
    modal->setPalette(QPalette(Qt::green));
    hover(nullptr);
    EXPECT_EQ(caption(open), QColor(Qt::black));
    EXPECT_EQ(caption(close), QColor(128, 0, 0));
    EXPECT_EQ(caption(write), QColor(Qt::black));
    EXPECT_EQ(caption(modal), QColor(Qt::black));
    EXPECT_EQ(background(port), face());
    EXPECT_EQ(background(hex), face());
}

TEST_F(HintHighlighterTest, ControlWhoseHintIsShownLightsUpAndGoesBackWhenThePointerLeaves) {
    hover(open);
    EXPECT_EQ(caption(open), QColor(Qt::red));
    EXPECT_EQ(caption(write), QColor(Qt::black));
    hover(close);
    EXPECT_EQ(caption(open), QColor(Qt::black));
    EXPECT_EQ(caption(close), QColor(Qt::red));
    hover(port);
    EXPECT_EQ(caption(close), QColor(128, 0, 0));
    EXPECT_EQ(background(port), QColor(Qt::cyan));
    EXPECT_EQ(port->palette().color(QPalette::Button), QColor(Qt::cyan));
    hover(nullptr);
    EXPECT_EQ(background(port), face());
}

TEST_F(HintHighlighterTest, ComparesWithTheCurrentHintExactly) {
    open->setStatusTip(QStringLiteral("Отключиться от COM порта"));
    panel.setText(QStringLiteral("Подключиться к COM порту"));
    highlighter->Timer1Timer();
    EXPECT_EQ(caption(open), QColor(Qt::black));
    hover(open);
    EXPECT_EQ(caption(open), QColor(Qt::red));
    panel.setText(open->statusTip().toLower());
    highlighter->Timer1Timer();
    EXPECT_EQ(caption(open), QColor(Qt::black));
}

TEST_F(HintHighlighterTest, EmptyPanelLightsNoControlWithoutAHint) {
    hex->setStatusTip(QString());
    hover(nullptr);
    EXPECT_EQ(background(hex), face());
}

TEST_F(HintHighlighterTest, LeavesUnlistedControlsAndOtherWindowsAlone) {
    const QColor unlistedBefore = caption(unlisted);
    const QColor driverBefore = caption(driverButton);
    hover(unlisted);
    hover(open);
    EXPECT_EQ(caption(unlisted), unlistedBefore);
    EXPECT_EQ(caption(driverButton), driverBefore);
}

// The timer belongs to the viewer, which outlives the main window's controls.
TEST_F(HintHighlighterTest, ControlThatIsGoneIsLeftOutAndTheOthersStillLightUp) {
    auto* baud = new QComboBox(form.centralWidget());
    baud->setObjectName(QStringLiteral("ComboBaudrate"));
    baud->setStatusTip(QStringLiteral("Скорость"));
    auto* gone = new QToolButton(form.centralWidget());
    gone->setStatusTip(baud->statusTip());
    highlighter = new logs::HintHighlighter(
        {{gone, widgets::HintLook::BlackCaption}, {baud, widgets::HintLook::FaceBackground}}, panel,
        viewer);
    delete gone;
    hover(baud);
    EXPECT_EQ(background(baud), QColor(Qt::cyan));
}

}  // namespace
