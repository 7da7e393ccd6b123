// Which port is which, on a real kernel: the guest has QEMU's USB serial adapter (an FTDI FT232
// to the guest, driven by ftdi_sio, its line a loopback wire on the host side) and a PCI card
// with two 16550A UARTs (pci-serial-2x, driven by 8250_pci). COM3 of the guest is wired to
// QEMU's monitor, so the test itself pulls the adapter out and plugs adapters in. The guest
// runs the tests twice: without systemd-udevd, where there are no /dev/serial links and the
// program knows the adapter again by its vendor, product and serial number, and with it, where
// the adapter is opened and known again by its by-id link.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "app/log_pane.h"
#include "app/main_window.h"
#include "comm/comm_error.h"
#include "dataview/data_view_window.h"
#include "monitor/register_monitor.h"
#include "monitor/register_table.h"
#include "platform/linux_driver_host.h"
#include "platform/port_catalog.h"
#include "ports/port_texts.h"
#include "ports/port_watcher.h"
#include "terminal/terminal_page.h"
#include "widgets/command.h"

inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

QString qs(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

constexpr unsigned kMonitorWire = 0x3E8;  // COM3: QEMU's monitor on the far end
const std::string kAdapterSerial = "QM0001";
const std::string kOtherSerial = "QM0002";

const platform::PortInfo* adapter(const std::vector<platform::PortInfo>& ports,
                                  const std::string& serial) {
    for (const platform::PortInfo& port : ports)
        if (port.vendorId == "0403" && port.serial == serial) return &port;
    return nullptr;
}

std::vector<platform::PortInfo> pciUarts(const std::vector<platform::PortInfo>& ports) {
    std::vector<platform::PortInfo> uarts;
    for (const platform::PortInfo& port : ports)
        if (port.isUart() && port.pciCard.find("[1b36:0003]") != std::string::npos)
            uarts.push_back(port);
    return uarts;
}

// One command to QEMU's monitor, through the guest's own 8250 driver on COM3. The line is raw,
// so what the monitor prints back is never echoed to it as input.
bool qemuMonitor(const std::string& command) {
    const platform::PortInfo* wire = nullptr;
    const auto ports = platform::listPorts();
    for (const platform::PortInfo& port : ports)
        if (port.ioPort == kMonitorWire) wire = &port;
    if (!wire) return false;
    // The wire has no carrier: opened without waiting for one, and told to need none.
    const int fd = ::open(wire->device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return false;
    termios raw{};
    ::tcgetattr(fd, &raw);
    ::cfmakeraw(&raw);
    raw.c_cflag |= CLOCAL;
    raw.c_cflag &= ~CRTSCTS;
    ::cfsetspeed(&raw, B115200);
    ::tcsetattr(fd, TCSANOW, &raw);
    const std::string line = command + "\n";
    const bool written = ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    ::tcdrain(fd);
    ::close(fd);
    return written;
}

bool udevdRuns() {
    return std::filesystem::exists("/run/udev/control");
}

double processCpuMs() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](const timeval& t) { return t.tv_sec * 1e3 + t.tv_usec * 1e-3; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

TEST(GuestPorts, ListsTheUsbAdapterAndBothUartsOfThePciCard) {
    const auto ports = platform::listPorts();
    for (const platform::PortInfo& port : ports)
        std::printf("listed: %s\n", ports::portLine(port).toStdString().c_str());
    const platform::PortInfo* ftdi = adapter(ports, kAdapterSerial);
    ASSERT_NE(ftdi, nullptr);
    EXPECT_EQ(ftdi->productId, "6001");
    EXPECT_EQ(ftdi->driver, "ftdi_sio");
    EXPECT_FALSE(ftdi->product.empty());
    EXPECT_TRUE(ftdi->device.starts_with("/dev/ttyUSB"));
    if (udevdRuns()) {
        ASSERT_FALSE(ftdi->byId.empty());
        EXPECT_NE(ftdi->byId.front().find(kAdapterSerial), std::string::npos) << ftdi->byId.front();
    }
    const auto uarts = pciUarts(ports);
    ASSERT_EQ(uarts.size(), 2u);
    EXPECT_EQ(uarts[0].pciCard, uarts[1].pciCard);
    EXPECT_NE(uarts[0].ioPort, uarts[1].ioPort);
    for (const platform::PortInfo& uart : uarts) {
        EXPECT_EQ(uart.uartType, "16550A");
        EXPECT_GE(uart.ioPort, 0x1000u) << "a PCI card's I/O BAR, not an ISA address";
    }
}

// The program's main window off screen, on the guest's real ports, without tones.
class PortsInGuest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(settings.isValid());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());
        QSettings(settings.filePath("Quillmor/user.ini"), QSettings::IniFormat)
            .setValue("Speeker", 0);
        window = std::make_unique<app::TForm1>(
            host, [] { return std::vector<std::string>{}; },
            [] {
                return monitor::TimeOfDay{12, 34, 56};
            });
        // The refusal of a busy port would wait in a message box for a user.
        widgets::setErrorHandler([this](std::exception_ptr error) {
            try {
                std::rethrow_exception(error);
            } catch (const comm::ECommError& e) {
                errors << QString::fromStdString(e.what());
            } catch (...) {
            }
        });
        window->show();
        QTest::qWait(50);
    }
    void TearDown() override { widgets::setErrorHandler({}); }

    template <class T>
    T* child(std::string_view name) {
        T* found = window->findChild<T*>(qs(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QStringList memo(std::string_view name) { return child<terminal::TerminalMemo>(name)->lines(); }
    // Picks the chooser's entry whose line begins with the port's node.
    bool pickFromChooser(std::string_view chooser, const platform::PortInfo& port) {
        for (QAction* entry : child<QToolButton>(chooser)->menu()->actions()) {
            if (!entry->text().startsWith(QString::fromStdString(port.device) + ":")) continue;
            entry->trigger();
            return true;
        }
        return false;
    }
    void pickItem(std::string_view box, const char* item) {
        auto* combo = child<QComboBox>(box);
        const int index = combo->findText(qs(item));
        ASSERT_GE(index, 0) << item;
        combo->setCurrentIndex(index);
        emit combo->activated(index);
    }
    static bool waitFor(const std::function<bool()>& done, int limitMs) {
        QElapsedTimer since;
        since.start();
        while (!done() && since.elapsed() < limitMs) QTest::qWait(10);
        return done();
    }
    // Sends the text through the page and waits for its loopback to come back as a line, or
    // as the end of one, after the part of a line that a lost device left unfinished.
    bool sendAndSeeReturn(const QString& text) {
        const auto copies = [&] {
            const QStringList lines = memo("Memo2");
            return std::count_if(lines.begin(), lines.end(),
                                 [&](const QString& line) { return line.endsWith(text); });
        };
        const qsizetype before = copies();
        child<QLineEdit>("Edit43")->setText(text);
        QTest::mouseClick(child<QToolButton>("SpeedButton2"), Qt::LeftButton);
        return waitFor([&] { return copies() == before + 1; }, 5000);
    }
    terminal::TerminalPage& page() { return window->terminalPage(); }

    QTemporaryDir settings;
    platform::LinuxDriverHost host{platform::PortBackend::DevPort};
    std::unique_ptr<app::TForm1> window;
    QStringList errors;
};

// Every printable character, twice over, at 115200 baud through ftdi_sio and back.
QString everyPrintableCharacter() {
    QString text;
    for (int round = 0; round < 2; ++round)
        for (char c = '!'; c <= '~'; ++c) text += QChar(c);
    return text;
}

TEST_F(PortsInGuest, AdapterCarriesDataIsKnownAgainAfterReplugAndNamesWhoHoldsIt) {
    const platform::PortInfo* listed =
        adapter(ports::PortWatcher::shared().ports(), kAdapterSerial);
    ASSERT_NE(listed, nullptr);
    const platform::PortInfo ftdi = *listed;
    ASSERT_TRUE(pickFromChooser("PortChooser", ftdi));
    // By its by-id link where udev made one, else by its node.
    EXPECT_EQ(child<QComboBox>("ComboBox2")->currentText(),
              QString::fromStdString(ftdi.stableName()));
    EXPECT_EQ(ftdi.byId.empty(), !udevdRuns());
    pickItem("ComboBaudrate", "cbr115200");
    pickItem("ComboBox6", "Нет");

    // Another program has the adapter locked: the opening is refused and Memo1 names it.
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t holder = ::fork();
    if (holder == 0) {
        const int fd = ::open(ftdi.device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ::flock(fd, LOCK_EX | LOCK_NB);
        [[maybe_unused]] ssize_t sent = ::write(ready[1], "x", 1);
        ::pause();
        ::_exit(0);
    }
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    QTest::mouseClick(child<QToolButton>("SpeedButton1"), Qt::LeftButton);
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    EXPECT_FALSE(page().Comm1().IsOpen());
    EXPECT_EQ(errors, QStringList{"Error accessing specified device (Error: 16) "});
    EXPECT_EQ(memo("Memo1").filter(QStringLiteral("(pid %1)").arg(holder)).size(), 1)
        << memo("Memo1").join('\n').toStdString();

    QTest::mouseClick(child<QToolButton>("SpeedButton1"), Qt::LeftButton);
    ASSERT_TRUE(page().Comm1().IsOpen());
    const QString text = everyPrintableCharacter();
    ASSERT_TRUE(sendAndSeeReturn(text));

    // RTS and DTR switched from the data view while the port is open go through ftdi_sio to
    // the adapter: QEMU's FTDI model gets each as a modem-control request (FTDI's set bit and
    // level bit for the line). It has no modem lines of its own to show them on, so the host's
    // script finds the requests in QEMU's trace, in the order announced here.
    auto dataView = std::make_unique<dataview::DataViewWindow>(page().Comm1(), window->menu());
    dataView->show();
    for (const auto& [box, setBit] : {std::pair{"rts", 0x200u}, std::pair{"dtr", 0x100u}}) {
        auto* line = dataView->findChild<QCheckBox*>(qs(box));
        ASSERT_NE(line, nullptr) << box;
        for (int change = 0; change < 2; ++change) {
            line->click();
            const unsigned level = line->isChecked() ? setBit >> 8 : 0;
            std::printf("QUILLMOR-MODEM-CONTROL 0x%x\n", setBit | level);
            std::fflush(stdout);
        }
    }

    // Pulled out in the middle of a file going out through the data view and coming back. The
    // poll stops first, so the CPU time measured while the page waits is the waiting's own.
    QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("lines.txt"));
    {
        std::ofstream out(file.toStdString(), std::ios::binary);
        for (int n = 0; n < 1000; ++n)
            out << "FILE LINE " << n << " " << std::string(40, 'x') << "\r\n";
    }
    window->registerMonitor().timer()->stop();
    const qsizetype linesBefore = memo("Memo2").filter(qs("FILE LINE ")).size();
    // A pause after each line makes the sending last seconds: the adapter itself takes bytes
    // as fast as USB carries them.
    dataView->findChild<QSpinBox*>(qs("lineDelay"))->setValue(5);
    dataView->sendFile(file);
    ASSERT_TRUE(waitFor(
        [&] { return memo("Memo2").filter(qs("FILE LINE ")).size() >= linesBefore + 20; }, 10'000));
    ASSERT_TRUE(qemuMonitor("device_del ftdi1"));
    ASSERT_TRUE(waitFor([&] { return !page().Comm1().IsOpen(); }, 10'000));
    EXPECT_EQ(memo("Memo1").count(qs("Ошибка I/O произошла в течение связи с устройством.")), 1);
    // The sending ended with the port, short of the whole file.
    auto* sendStatus = dataView->findChild<QLabel*>(qs("sendStatus"));
    ASSERT_TRUE(waitFor(
        [&] { return dataView->findChild<QPushButton*>(qs("sendFile"))->isEnabled(); }, 5'000))
        << sendStatus->text().toStdString();
    EXPECT_FALSE(sendStatus->text().startsWith(qs("отправлено")))
        << sendStatus->text().toStdString();
    dataView.reset();
    // Event loops of their own: QTest::qWait would wake the test every 10 ms. The first
    // seconds take in the device's removal (the list read again); the next are the waiting.
    double waitingCpuMs = 0;
    for (const char* when : {"the 2 s after the loss", "the 2 s after that"}) {
        const double cpu0 = processCpuMs();
        QEventLoop idle;
        QTimer::singleShot(2000, &idle, &QEventLoop::quit);
        idle.exec();
        waitingCpuMs = processCpuMs() - cpu0;
        std::printf("CPU while waiting for the adapter, %s: %.1f ms\n", when, waitingCpuMs);
    }
    // Anything that spins would take most of the 2 s.
    EXPECT_LT(waitingCpuMs, 200);

    // Another adapter, of the same kind but another serial number, is not taken for it.
    ASSERT_TRUE(qemuMonitor(
        "device_add usb-serial,id=ftdi2,bus=xhci.0,chardev=usb2,serial=QM0002,always-plugged=on"));
    ASSERT_TRUE(waitFor(
        [&] { return adapter(ports::PortWatcher::shared().ports(), kOtherSerial) != nullptr; },
        10'000));
    QTest::qWait(200);
    EXPECT_FALSE(page().Comm1().IsOpen());

    ASSERT_TRUE(qemuMonitor(
        "device_add usb-serial,id=ftdi1,bus=xhci.0,chardev=usb1,serial=QM0001,always-plugged=on"));
    ASSERT_TRUE(waitFor([&] { return page().Comm1().IsOpen(); }, 15'000));
    const platform::PortInfo* back = adapter(ports::PortWatcher::shared().ports(), kAdapterSerial);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(page().Comm1().DeviceName(), udevdRuns() ? ftdi.stableName() : back->device);
    std::printf("the adapter came back as %s, the other one is %s\n", back->device.c_str(),
                adapter(ports::PortWatcher::shared().ports(), kOtherSerial)->device.c_str());
    EXPECT_EQ(memo("Memo1").filter(qs("Устройство вернулось, подключено к : ")).size(), 1);
    EXPECT_TRUE(sendAndSeeReturn(text));
    QTest::mouseClick(child<QToolButton>("SpeedButton1"), Qt::LeftButton);
}

// A UART of the PCI card picked to monitor: its registers read through /dev/port with the
// values QEMU resets them to, and what the kernel's driver does to it shows in the monitor.
TEST_F(PortsInGuest, PciUartPickedToMonitorShowsItsRegistersAndItsDriver) {
    const auto uarts = pciUarts(ports::PortWatcher::shared().ports());
    ASSERT_EQ(uarts.size(), 2u);
    const platform::PortInfo& uart = uarts[0];
    ASSERT_TRUE(pickFromChooser("UartChooser", uart));
    EXPECT_EQ(window->registerMonitor().baseAddress(), static_cast<int32_t>(uart.ioPort));
    const auto lineStatus = [&] { return child<QLineEdit>("Edit27")->text(); };
    EXPECT_TRUE(waitFor([&] { return lineStatus() == "$60"; }, 5000)) << lineStatus().toStdString();

    // The driver's hand on the chip, seen through /dev/port: after a program has opened the
    // tty, sent on it and closed it, the driver's shutdown leaves the interrupts disabled. The
    // bit records of the change log stay with the COM presets, as for any address typed with
    // "НОВЫЙ"; the register's view shows it.
    const auto interruptEnable = [&] {
        return child<QLineEdit>(monitor::kRegisterRows[1].hexReadBack)->text();
    };
    std::printf(
        "%s before any opening here: IER %s, MCR %s\n", uart.device.c_str(),
        interruptEnable().toStdString().c_str(),
        child<QLineEdit>(monitor::kRegisterRows[4].hexReadBack)->text().toStdString().c_str());
    const int fd = ::open(uart.device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(::write(fd, "hello", 5), 5);
    EXPECT_TRUE(waitFor([&] { return interruptEnable() != "$00"; }, 5000))
        << interruptEnable().toStdString();
    window->rightLog().clearPane();
    ASSERT_TRUE(pickFromChooser("UartChooser", uart));
    EXPECT_TRUE(window->rightLog().toPlainText().contains(qs(" открыт (")))
        << window->rightLog().toPlainText().toStdString();
    ::close(fd);
    EXPECT_TRUE(waitFor([&] { return interruptEnable() == "$00"; }, 5000))
        << interruptEnable().toStdString();
}

}  // namespace
