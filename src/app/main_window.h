#pragma once

#include <QElapsedTimer>
#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <QWindow>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "driver/driver_window.h"
#include "monitor/change_log.h"
#include "platform/driver_host.h"
#include "platform/port_backend.h"
#include "widgets/main_menu.h"

class QAction;
class QCheckBox;
class QLabel;
class QTabWidget;
class QTimer;

namespace driver {
class TForm5;
}
namespace monitor {
class RegisterMonitor;
}
namespace portio {
class TPortIO;
}
namespace terminal {
class TerminalPage;
}

namespace app {

class LogPane;

// The main window: the register monitor along the top, the page control with the terminal,
// the UART lights and the tools, the two log panes, the status bar and the menu bar. It owns
// the port-I/O component PortIO1, the monitor with its poll timer and the terminal page with
// its serial port component Comm1.
//
// Its life cycle: creating it installs the application-wide error handler (FormCreate);
// showing it opens the driver, reads the user settings and lists the serial ports (FormShow),
// then takes the base from the preset and starts the poll; each time it becomes the program's
// active window it re-evaluates the base port (FormActivate); closing it saves the settings,
// sounds three tones, closes Comm1 and destroys PortIO1 (FormClose), then emits closed().
//
// The menu item N25 locks and unlocks the register panels against input; N19 opens and closes
// the driver, N20 shows the driver installation window and N22 switches the confirmation
// tones.
class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    using SerialPortSource = std::function<std::vector<std::string>()>;

    // The host must outlive the window. serialPorts lists the machine's serial ports for the
    // log at show; now gives the change log its time stamps.
    explicit TForm1(
        platform::DriverHost& host,
        SerialPortSource serialPorts = defaultSerialPorts(platform::PortBackend::Simulated),
        monitor::TimeSource now = localTime(), QWidget* parent = nullptr);
    ~TForm1() override;

    // The confirmation tone: sounds only while N22 is checked and the driver opens, and
    // blocks for the duration.
    void ConfirmTone(int hz, int ms);
    // The machine's serial ports with those of the backend chosen at start-up.
    static SerialPortSource defaultSerialPorts(platform::PortBackend backend);
    // Reopens the driver; false once PortIO1 is gone.
    bool OpenDriver();

    portio::TPortIO* PortIO1() const { return PortIO1_.get(); }
    monitor::RegisterMonitor& registerMonitor() const { return *monitor_; }
    terminal::TerminalPage& terminalPage() const { return *terminal_; }
    LogPane& leftLog() const { return *RichEdit2; }
    LogPane& rightLog() const { return *RichEdit1; }
    // The menu items, for the parts that own their commands.
    const widgets::MainMenu& menu() const { return menu_; }
    // The page "Инстр", where the base-port group and the log tools stand.
    QWidget& toolsPage() const { return *TabSheet3; }
    // The modal switch on the tools page, which the log tools take into their pane selector.
    QCheckBox& checkBox3() const { return *CheckBox3; }
    // Status bar panel 0 (the hint under the mouse), 1 (register input), 2 (serial line).
    QLabel& statusPanel(int index) const;

    void FormCreate();
    void FormShow();
    void FormActivate();
    void FormClose();
    // Closes the window as its own close does, but without the closing tones: the program is
    // being told to end from outside (a signal), perhaps by a session that is going away.
    void closeQuietly();
    // Runs when N25 is triggered. Qt has inverted the item's check mark by then, so this only
    // follows it.
    void N25Click();
    void N19Click();
    void N20Click();
    // Runs the tone with the check mark as it was before the item was chosen, then inverts it.
    void N22Click();

    // What the driver installation window needs of this window.
    driver::MainWindowLinks driverLinks();
    // The window N20 shows; until it is set, N20 does nothing.
    void setDriverWindow(driver::TForm5* window);

    // The program's other windows in the sense of the activation: coming back to this window
    // from one of them is an activation. The dialogs (find, file, message boxes) are not among
    // them.
    void setProgramWindows(QList<QPointer<QWidget>> windows);
    // The program's focus window changed (null: another program has the focus).
    void focusWindowChanged(QWindow* focused);

signals:
    void closed();

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    static monitor::TimeSource localTime();

    void buildMenus();
    void buildPanels();
    void buildStatusBar();
    void buildToolsPage();
    void saveSettings();
    // The one place that words status bar panel 1.
    static QString registerInputText(driver::RegisterInput state);
    void showRegisterInput(driver::RegisterInput state);
    void holdStatusPanels();
    static void holdPanelWidth(QLabel& panel, const QStringList& texts);
    LogPane& logPane(monitor::LogPane pane) const;
    void focusLogPane(monitor::LogPane pane);

    platform::DriverHost& host_;
    SerialPortSource serialPorts_;
    std::unique_ptr<portio::TPortIO> PortIO1_;
    std::unique_ptr<monitor::RegisterMonitor> monitor_;
    // After the monitor, so it goes first: its light step reads through the monitor.
    std::unique_ptr<terminal::TerminalPage> terminal_;

    QWidget* Panel2 = nullptr;
    QWidget* Panel3 = nullptr;
    QWidget* Panel4 = nullptr;
    QWidget* Panel5 = nullptr;
    QTabWidget* PageControl1 = nullptr;
    QWidget* TabSheet1 = nullptr;
    QWidget* TabSheet2 = nullptr;
    QWidget* TabSheet3 = nullptr;
    QCheckBox* CheckBox3 = nullptr;
    LogPane* RichEdit1 = nullptr;
    LogPane* RichEdit2 = nullptr;
    QLabel* statusPanels_[3] = {};
    widgets::MainMenu menu_;

    // The window that was last the program's active one; switching to another program and
    // back does not change it, so that return is no activation.
    QPointer<QWindow> lastActive_;
    QList<QPointer<QWidget>> programWindows_;
    QPointer<driver::TForm5> driverWindow_;
    // Repaints of the window are held to the display's pace, however fast the poll changes it.
    QElapsedTimer sincePaint_;
    QTimer* paintLater_ = nullptr;
    bool closing_ = false;
    bool quietClose_ = false;
};

}  // namespace app
