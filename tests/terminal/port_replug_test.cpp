// The machine's ports as the page offers them, an adapter pulled out and plugged in again, and
// a port that another program holds. The adapters are the kernel's pseudo-terminals behind
// by-id links in a /dev of the test's own, as udev's rules would link a USB adapter.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>

#include <QMenu>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <filesystem>
#include <fstream>

#include "dataview/data_view_window.h"
#include "ports/port_watcher.h"
#include "terminal_fixture.h"

namespace terminal_test {
namespace {

namespace fs = std::filesystem;

class PortReplug : public TerminalTest {
protected:
    void SetUp() override {
        QStandardPaths::setTestModeEnabled(true);
        root_ = fs::temp_directory_path() / ("quillmor-replug-" + std::to_string(::getpid()));
        fs::remove_all(root_);
        fs::create_directories(root_ / "serial" / "by-id");
        ports::PortWatcher::shared().setPlaces({root_.string(), false});
        TerminalTest::SetUp();
        child<QAction>("WaitForPort")->setChecked(true);
    }
    void TearDown() override {
        TerminalTest::TearDown();
        fs::remove_all(root_);
        ports::PortWatcher::shared().setPlaces({});
    }

    // Plugs an adapter in: its line and its by-id link, once the page's list shows it.
    std::string plug(commtest::PseudoTerminal& line, const std::string& serial) {
        const fs::path link =
            root_ / "serial" / "by-id" / ("usb-FTDI_FT232R_USB_UART_" + serial + "-if00-port0");
        fs::create_symlink(line.path, link);
        EXPECT_TRUE(pumpUntil([&] {
            return platform::findPort(ports::PortWatcher::shared().ports(), link.string());
        }));
        return link.string();
    }
    // Pulls it out: the line hangs up and the link goes.
    static void unplug(commtest::PseudoTerminal& line, const std::string& link) {
        ::close(line.master);
        ::close(line.slave);
        line.master = line.slave = -1;
        fs::remove(link);
    }
    bool memoHas(std::string_view name, const QString& line) {
        return memo(name)->lines().contains(line);
    }

    fs::path root_;
};

TEST_F(PortReplug, SameAdapterIsOpenedAgainAfterUnplugAndAnotherIsNotTaken) {
    commtest::PseudoTerminal first;
    const std::string link = plug(first, "A1B2C3");

    // The chooser lists the adapter by its node and puts its stable name into the port box.
    QMenu* chooser = button("PortChooser")->menu();
    ASSERT_NE(chooser, nullptr);
    QAction* entry = chooser->actions().value(0);
    ASSERT_NE(entry, nullptr);
    EXPECT_TRUE(entry->text().startsWith(QString::fromStdString(first.path)))
        << entry->text().toStdString();
    entry->trigger();
    EXPECT_EQ(combo("ComboBox2")->currentText(), QString::fromStdString(link));

    click("SpeedButton1");
    ASSERT_TRUE(page->Comm1().IsOpen());
    ASSERT_TRUE(first.send("before\r"));
    ASSERT_TRUE(pumpUntil([&] { return memoHas("Memo2", "before"); }));

    // Pulled out while a file goes out through the data view: the sending ends with the port.
    QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("lines.txt"));
    {
        std::ofstream out(file.toStdString(), std::ios::binary);
        for (int n = 0; n < 1000; ++n) out << "line " << n << "\r\n";
    }
    dataview::DataViewWindow dataView(page->Comm1(), widgets::MainMenu{});
    dataView.show();
    dataView.findChild<QSpinBox*>(QStringLiteral("lineDelay"))->setValue(5);
    dataView.sendFile(file);
    std::string arrived;
    ASSERT_TRUE(pumpUntil([&] {
        char buffer[256];
        const ssize_t n = ::read(first.master, buffer, sizeof buffer);
        if (n > 0) arrived.append(buffer, static_cast<size_t>(n));
        return arrived.find("line 20\r\n") != std::string::npos;
    }));
    unplug(first, link);
    ASSERT_TRUE(pumpUntil([&] { return !page->Comm1().IsOpen(); }));
    EXPECT_EQ(
        memo("Memo1")->lines().count(qs("Ошибка I/O произошла в течение связи с устройством.")), 1);
    EXPECT_EQ(button("SpeedButton1")->text(), "CLOSE");
    ASSERT_TRUE(pumpUntil(
        [&] { return dataView.findChild<QPushButton*>(QStringLiteral("sendFile"))->isEnabled(); }));
    EXPECT_FALSE(dataView.findChild<QLabel*>(QStringLiteral("sendStatus"))
                     ->text()
                     .startsWith(qs("отправлено")));

    commtest::PseudoTerminal other;
    plug(other, "Z9Y8X7");
    QCoreApplication::processEvents();
    EXPECT_FALSE(page->Comm1().IsOpen());

    commtest::PseudoTerminal back;
    plug(back, "A1B2C3");
    ASSERT_TRUE(pumpUntil([&] { return page->Comm1().IsOpen(); }));
    EXPECT_EQ(page->Comm1().DeviceName(), link);
    EXPECT_TRUE(memoHas(
        "Memo1", qs("Устройство вернулось, подключено к : ") + QString::fromStdString(link)));
    ASSERT_TRUE(back.send("after\r"));
    ASSERT_TRUE(pumpUntil([&] { return memoHas("Memo2", "after"); }));

    click("SpeedButton1");
    EXPECT_FALSE(page->Comm1().IsOpen());
    EXPECT_EQ(button("SpeedButton1")->text(), "OPEN");
}

// An adapter picked from the chooser and pulled out before OPEN: the opening is refused as for
// any name that leads nowhere, the page stays closed, and the chooser no longer offers it.
TEST_F(PortReplug, AdapterGoneBetweenChoosingAndOpeningIsRefusedAndNoLongerOffered) {
    commtest::PseudoTerminal adapter;
    const std::string link = plug(adapter, "A1B2C3");
    QMenu* chooser = button("PortChooser")->menu();
    ASSERT_FALSE(chooser->actions().isEmpty());
    chooser->actions().first()->trigger();
    ASSERT_EQ(combo("ComboBox2")->currentText(), QString::fromStdString(link));

    unplug(adapter, link);
    click("SpeedButton1");
    EXPECT_FALSE(page->Comm1().IsOpen());
    EXPECT_EQ(button("SpeedButton1")->text(), "OPEN");
    EXPECT_TRUE(calls.contains(qs("Ошибка: Error accessing specified device (Error: 2) ")))
        << calls.join('\n').toStdString();
    ASSERT_TRUE(pumpUntil([&] { return ports::PortWatcher::shared().ports().empty(); }));
    for (const QAction* entry : chooser->actions())
        EXPECT_FALSE(entry->text().startsWith(QString::fromStdString(adapter.path)))
            << entry->text().toStdString();
}

// Closing the port while it waits ends the waiting: the adapter's return opens nothing.
TEST_F(PortReplug, ClosingWhileWaitingEndsTheWait) {
    commtest::PseudoTerminal first;
    const std::string link = plug(first, "A1B2C3");
    combo("ComboBox2")->setEditText(QString::fromStdString(link));
    click("SpeedButton1");
    unplug(first, link);
    ASSERT_TRUE(pumpUntil([&] { return !page->Comm1().IsOpen(); }));
    click("SpeedButton1");
    EXPECT_EQ(button("SpeedButton1")->text(), "OPEN");

    commtest::PseudoTerminal back;
    plug(back, "A1B2C3");
    QCoreApplication::processEvents();
    EXPECT_FALSE(page->Comm1().IsOpen());
}

// Waiting switched off: the loss is reported as before and the port stays as it was; the choice
// is kept in a group of its own in the user's settings file.
TEST_F(PortReplug, WaitingSwitchedOffIsRememberedAndNothingIsReopened) {
    child<QAction>("WaitForPort")->setChecked(false);
    const QSettings stored(QSettings::IniFormat, QSettings::UserScope, "Quillmor", "user");
    EXPECT_EQ(stored.value("Ports/WaitForReturn").toString(), "false");

    commtest::PseudoTerminal first;
    const std::string link = plug(first, "A1B2C3");
    combo("ComboBox2")->setEditText(QString::fromStdString(link));
    click("SpeedButton1");
    unplug(first, link);
    ASSERT_TRUE(pumpUntil([&] {
        return memoHas("Memo1", qs("Ошибка I/O произошла в течение связи с устройством."));
    }));
    commtest::PseudoTerminal back;
    plug(back, "A1B2C3");
    QCoreApplication::processEvents();
    EXPECT_FALSE(memoHas(
        "Memo1", qs("Устройство вернулось, подключено к : ") + QString::fromStdString(link)));
    EXPECT_EQ(button("SpeedButton1")->text(), "CLOSE");
    click("SpeedButton1");
    EXPECT_EQ(button("SpeedButton1")->text(), "OPEN");
}

// Another program has the port locked, as tio locks it: the opening fails as busy and Memo1
// names that program's process.
TEST_F(PortReplug, BusyPortNamesTheProcessHoldingIt) {
    commtest::PseudoTerminal line;
    commtest::LockingProcess locker(line.path);
    ASSERT_TRUE(locker.locked);
    const pid_t holder = locker.pid;
    combo("ComboBox2")->setEditText(QString::fromStdString(line.path));
    click("SpeedButton1");

    EXPECT_FALSE(page->Comm1().IsOpen());
    EXPECT_TRUE(calls.contains(qs("Ошибка: Error accessing specified device (Error: 16) ")))
        << calls.join('\n').toStdString();
    const QStringList busy = memo("Memo1")->lines().filter(qs("занят"));
    ASSERT_EQ(busy.size(), 1);
    EXPECT_TRUE(busy[0].contains(QStringLiteral("pid %1").arg(holder))) << busy[0].toStdString();
}

}  // namespace
}  // namespace terminal_test
