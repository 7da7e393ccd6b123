#pragma once

#include <QDialog>
#include <QPixmap>
#include <QString>
#include <functional>

#include "platform/driver_places.h"
#include "platform/port_helper.h"
#include "platform/port_trouble.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;

namespace logs {
class TForm2;
}
namespace portio {
class TPortIO;
}
namespace widgets {
class TGauge;
}

namespace driver {

// What status bar panel 1 says of register input.
enum class RegisterInput { Allowed, Forbidden, Impossible };

// What the installation window reaches on the main window.
struct MainWindowLinks {
    // PortIO1; null once the main window has destroyed it at close.
    std::function<portio::TPortIO*()> PortIO1;
    // Status bar panel 1, the state of register input.
    std::function<void(RegisterInput)> showRegisterInput;
    // The caption of the menu item N19 that opens and closes the driver.
    std::function<void(const QString&)> setN19Caption;
    // Why the driver did not open, for one more line of the process log (after a failed
    // connect, and when the window shows); empty: no line.
    std::function<QString()> driverTrouble = [] { return QString(); };
};

// Why real ports cannot be reached and what the user can do about it, one line in the
// window's language; empty when nothing stands in the way.
QString portTroubleText(const platform::PortTrouble& trouble);

// The places the window works on and the message boxes it shows; tests put their own.
struct Places {
    std::function<platform::WindowsRoots()> readRoots = platform::windowsRootsFromEnvironment;
    // A plain modal message box: the text, an OK button, the application title as caption.
    std::function<void(QWidget* owner, const QString& text)> showMessage = showPlainMessage;
    // Gives the port helper its group and capability (true) or takes them away (false); empty
    // where the system has no port helper.
    std::function<platform::PortHelperSetup(bool install)> setUpPortHelper =
        platform::setUpPortHelper;

    static void showPlainMessage(QWidget* owner, const QString& text);
};

// One Windows family's driver file and the texts that speak of it; defined with the window.
struct DriverFamily;

// The driver installation window "Установка драйвера". Its install button finds which Windows
// family runs, copies the driver file of that family from "Drivers" into the system folder
// unless it is there already, and reconnects PortIO1; its remove button deletes the copied
// files. Each step goes into the process log Memo1 and onto the 7-step gauge Gauge1; the log,
// the root boxes and the gauge keep their contents from run to run, since the window is only
// hidden between showings. Every procedure runs to its end inside the button's click.
//
// Removal runs the Windows NT part even when the 9x root is empty, so that on an NT system
// the button deletes the NT driver file.
//
// On Linux the port driver is the port helper: after the Windows families, the install gives it
// its group and capability and reconnects PortIO1, the removal takes them away; each says in
// one line of the log what was done or why not.
class TForm5 : public QDialog {
    Q_OBJECT
public:
    // The viewer shows the help text; it must outlive the window.
    TForm5(MainWindowLinks mainWindow, logs::TForm2& viewer, Places places = {},
           QWidget* parent = nullptr);

    // The decorative picture down the left side.
    void setPicture(const QPixmap& picture);

    // Install, remove and help.
    void SpeedButton1Click();
    void SpeedButton2Click();
    void BitBtn2Click();

    QPlainTextEdit& Memo1() const { return *Memo1_; }
    widgets::TGauge& Gauge1() const { return *Gauge1_; }

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void buildControls();
    void addLine(const QString& line);
    void gaugeStep(int step);
    platform::WindowsRoots readRoots();
    void installIfMissing(const DriverFamily& family, const std::string& root);
    void removeIfPresent(const DriverFamily& family, const std::string& root);
    void connectDriver(bool full);
    bool setUpPortHelper(bool install);
    void tellTrouble(const QString& trouble);

    MainWindowLinks mainWindow_;
    logs::TForm2& viewer_;
    Places places_;
    bool memoHasLines_ = false;
    // The reason last written into the log, so that showing the window again does not repeat it.
    QString toldTrouble_;

    QLabel* Image1 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QLineEdit* Edit2 = nullptr;
    QPlainTextEdit* Memo1_ = nullptr;
    widgets::TGauge* Gauge1_ = nullptr;
    QLabel* statusPanel_ = nullptr;
};

}  // namespace driver
