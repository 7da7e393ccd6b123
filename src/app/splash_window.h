#pragma once

#include <QWidget>
#include <functional>

class QDialog;
class QLabel;
class QTimer;

namespace app {

// The splash window: frameless, always on top, white, centred, sized to its picture. It stays
// up about five seconds over the main window; once it closes the driver is tried again, and if
// it still does not open the driver installation window comes up modally.
class TForm4 : public QWidget {
    Q_OBJECT
public:
    explicit TForm4(QWidget* parent = nullptr);

    // The windows created after the splash that it works with when it closes.
    struct Links {
        QWidget* mainWindow = nullptr;
        std::function<bool()> openDriver;
        QDialog* driverWindow = nullptr;
    };
    void link(Links links);

    // Five seconds after creation: stops the timer, and closes the splash if the main window
    // is visible by then. If it is not, the splash stays; nothing closes it later.
    void Timer1Timer();
    // The program is ending: the splash goes at once, without its timer and without the driver
    // check of its close, which is for a program that goes on running.
    void dismiss();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void FormClose();

    QLabel* Image1;
    QTimer* Timer1;
    Links links_;
};

}  // namespace app
