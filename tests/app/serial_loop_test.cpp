// The terminal and the register monitor together on the simulated PC, as a user first tries
// them: the terminal's Com2 is wired to COM1, which the monitor shows, by the simulated
// null-modem cable.
#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QStringList>
#include <QTimer>
#include <QToolButton>
#include <functional>
#include <memory>
#include <vector>

#include "app/main_window.h"
#include "app_fixture.h"
#include "comm/comm.h"
#include "monitor/register_monitor.h"
#include "platform/linux_driver_host.h"
#include "terminal/terminal_page.h"

namespace {

class SerialLoop : public app_test::AppFixture {
protected:
    void SetUp() override {
        AppFixture::SetUp();
        window =
            std::make_unique<app::TForm1>(simulatedPc, [] { return std::vector<std::string>{}; });
        window->show();
        settle();
        ASSERT_TRUE(window->registerMonitor().timer()->isActive()) << "the poll runs";
        // The tones block for their durations and tell this test nothing.
        child<QAction>("N22")->setChecked(false);
    }

    template <class T>
    T* child(const char* name) {
        T* widget = window->findChild<T*>(QString::fromUtf8(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    void click(const char* button) { child<QToolButton>(button)->click(); }
    void pick(const char* box, const QString& item) {
        QComboBox* list = child<QComboBox>(box);
        list->setCurrentIndex(list->findText(item));
        emit list->activated(list->currentIndex());
    }
    // Types the text into a write box of the monitor and presses its write button.
    void writeRegister(const char* box, const char* button, const char* text) {
        child<QLineEdit>(box)->setText(QString::fromLatin1(text));
        click(button);
    }
    QStringList memo(const char* name) { return child<terminal::TerminalMemo>(name)->lines(); }
    static bool pumpUntil(const std::function<bool()>& done) {
        QElapsedTimer since;
        since.start();
        while (!done()) {
            if (since.elapsed() > 5000) return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        return true;
    }

    platform::LinuxDriverHost simulatedPc{platform::LinuxDriverHostConfig{}};
    std::unique_ptr<app::TForm1> window;
};

TEST_F(SerialLoop, SentTextArrivesInCom1AndCom1WritesBecomeALineOfMemo2) {
    // Flow control off: COM1 has no program raising its RTS, so Com2 would wait for CTS. The
    // slowest line, so that even a poll held up by a loaded machine reads every byte before the
    // next one comes: the poll reads the receiver buffer once per view, so two bytes waiting at
    // one tick show as one.
    pick("ComboBox6", QStringLiteral("Нет"));
    pick("ComboBaudrate", QStringLiteral("cbr110"));
    child<QAction>("NRTS")->setChecked(true);
    child<QAction>("NDTR")->setChecked(true);
    child<QComboBox>("ComboBox2")->setEditText(QStringLiteral("Com2"));
    click("SpeedButton1");
    ASSERT_TRUE(window->terminalPage().Comm1().IsOpen()) << memo("Memo1").join('\n').toStdString();

    // COM1's modem status: CTS from Com2's RTS, DSR and DCD from its DTR.
    EXPECT_TRUE(pumpUntil([&] {
        return (child<QLineEdit>("Edit31")->text().mid(1).toInt(nullptr, 16) & 0xB0) == 0xB0;
    })) << child<QLineEdit>("Edit31")->text().toStdString();

    // COM1 set to Com2's speed (divisor 1047) and frame (8 data bits, no parity) with its FIFO
    // on. The poll reads COM1's receiver buffer each tick, so the data box steps through the
    // bytes.
    writeRegister("Edit19", "SpeedButton13", "$83");
    writeRegister("Edit5", "SpeedButton7", "$17");
    writeRegister("Edit9", "SpeedButton9", "$04");
    writeRegister("Edit19", "SpeedButton13", "$03");
    writeRegister("Edit15", "SpeedButton11", "$01");
    QStringList dataBox;
    QObject::connect(child<QLineEdit>("Edit3"), &QLineEdit::textChanged,
                     [&](const QString& text) { dataBox << text; });
    child<QLineEdit>("Edit43")->setText(QStringLiteral("AT"));
    click("SpeedButton2");
    EXPECT_EQ(memo("Memo1").last(), QStringLiteral("Передано 4 Cимволов"));
    EXPECT_TRUE(pumpUntil([&] { return dataBox.size() >= 4; }));
    EXPECT_EQ(dataBox, QStringList({"$41", "$54", "$0D", "$0A"}));

    // "A" and a carriage return written into COM1's data register from the monitor.
    writeRegister("Edit5", "SpeedButton7", "$41");
    writeRegister("Edit5", "SpeedButton7", "$0D");
    EXPECT_TRUE(pumpUntil([&] { return !memo("Memo2").isEmpty(); }));
    EXPECT_EQ(memo("Memo2"), QStringList{QStringLiteral("A")});
    EXPECT_TRUE(window->terminalPage().RxLine().isEmpty());
}

}  // namespace
