#include "app/splash_window.h"

#include <QCloseEvent>
#include <QDialog>
#include <QLabel>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <utility>

#include "app/resources.h"
#include "widgets/command.h"

namespace app {

namespace {
constexpr int kSplashMs = 5000;
const QSize kPictureSize(404, 302);
}  // namespace

TForm4::TForm4(QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      Image1(new QLabel(this)),
      Timer1(new QTimer(this)) {
    setObjectName(QStringLiteral("Form4"));
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);
    setAutoFillBackground(true);

    Image1->setObjectName(QStringLiteral("Image1"));
    const QPixmap picture = jpegPicture("splash.jpg");
    Image1->setPixmap(picture);
    setFixedSize(picture.isNull() ? kPictureSize : picture.size());
    Image1->setGeometry(rect());
    if (const QScreen* desktop = screen())
        move(desktop->availableGeometry().center() - rect().center());

    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(kSplashMs);
    // A coarse timer may fire up to 5 % early; the splash stays its full 5 s.
    Timer1->setTimerType(Qt::PreciseTimer);
    connect(Timer1, &QTimer::timeout, this,
            [this] { widgets::runCommand([this] { Timer1Timer(); }); });
    Timer1->start();
}

void TForm4::link(Links links) {
    links_ = std::move(links);
}

void TForm4::Timer1Timer() {
    Timer1->stop();
    if (links_.mainWindow && links_.mainWindow->isVisible()) close();
}

void TForm4::dismiss() {
    Timer1->stop();
    hide();
}

// The splash stays on top of every window: it goes before FormClose may bring up the modal
// installer, which it would cover for as long as the user looks at it.
void TForm4::closeEvent(QCloseEvent* event) {
    event->accept();
    hide();
    widgets::runCommand([this] { FormClose(); });
}

void TForm4::FormClose() {
    if (links_.openDriver && !links_.openDriver() && links_.driverWindow)
        links_.driverWindow->exec();
}

}  // namespace app
