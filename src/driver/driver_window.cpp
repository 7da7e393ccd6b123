#include "driver/driver_window.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QShowEvent>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QStyle>
#include <QTextCursor>
#include <QToolButton>
#include <QVBoxLayout>
#include <utility>

#include "help/help_commands.h"
#include "log/viewer_window.h"
#include "portio/port_io.h"
#include "widgets/command.h"
#include "widgets/gauge.h"
#include "widgets/hint.h"

namespace driver {

struct DriverFamily {
    const char* systemFolder;
    const char* driverName;
    const char* source;
    // The name the file is looked for by once it has been copied.
    const char* copiedName;
    const char* installedLine;
    const char* notRunningLine;
    const char* copiedLine;
    const char* foundLine;
    const char* absentBefore;
    const char* absentAfter;

    std::string driverFile(const std::string& root) const {
        return root + systemFolder + driverName;
    }
};

namespace {

constexpr int kLastStep = 7;
const QSize kClientSize(447, 288);
constexpr int kStatusBarHeight = 19;
const QSize kButtonSize(77, 26);
const QSize kIconSize(16, 16);

using widgets::setHint;
using widgets::utf8Text;

const DriverFamily kWin9x{"\\SYSTEM\\",
                          "zevado.vxd",
                          "Drivers\\zevado.vxd",
                          "zevado.vxd",
                          "Windows 9x - драйвер уже установлен, установка не требуется.",
                          "Windows 9x - не загружена, используемая платформа - Windows NT  ",
                          "Windows 9x - драйвер скопирован ",
                          "Windows 9x - Драйвер обнаружен... ",
                          "Драйвер отсутствует, в   ",
                          "  удаление не требуется. "};

const DriverFamily kNt{"\\SYSTEM32\\",
                       "Zevado.sys",
                       "Drivers\\Zevado.sys",
                       "ZEVADO.SYS",
                       "Windows NT/2000/XP - драйвер уже установлен, установка не требуется. ",
                       "Windows NT/2000/XP  - не загружена, используемая ОС - Windows 9x . ",
                       "Windows NT/2000/XP - драйвер скопирован ",
                       "Windows NT/2000/XP - Драйвер обнаружен... ",
                       "Драйвер отсутствует, в ",
                       "   удаление не требуется.  "};

}  // namespace

void Places::showPlainMessage(QWidget* owner, const QString& message) {
    QMessageBox box(QMessageBox::NoIcon, QCoreApplication::applicationName(), message,
                    QMessageBox::Ok, owner);
    box.exec();
}

TForm5::TForm5(MainWindowLinks mainWindow, logs::TForm2& viewer, Places places, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      mainWindow_(std::move(mainWindow)),
      viewer_(viewer),
      places_(std::move(places)) {
    setObjectName(QStringLiteral("Form5"));
    // The leading blanks push the title towards the middle of the title bar.
    setWindowTitle(QString(46, QLatin1Char(' ')) + QStringLiteral("Установка драйвера"));
    setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
    buildControls();
    setFixedSize(kClientSize);
    if (const QScreen* desktop = screen())
        move(desktop->availableGeometry().center() - rect().center());
}

void TForm5::buildControls() {
    auto* rows = new QVBoxLayout(this);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(0);

    auto* Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    rows->addWidget(Panel1, 1);

    Image1 = new QLabel(Panel1);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(6, 3, 120, 260);
    Image1->setScaledContents(true);

    auto* Label1 = new QLabel(QStringLiteral("Информация о процессах"), Panel1);
    Label1->setObjectName(QStringLiteral("Label1"));
    QFont heading(QStringLiteral("MS Sans Serif"));
    heading.setPixelSize(16);
    Label1->setFont(heading);
    QPalette blue = Label1->palette();
    blue.setColor(QPalette::WindowText, Qt::blue);
    Label1->setPalette(blue);
    Label1->move(178, 3);
    Label1->adjustSize();

    const std::pair<QLineEdit**, const char*> roots[] = {{&Edit1, "Edit1"}, {&Edit2, "Edit2"}};
    int top = 26;
    for (const auto& [edit, name] : roots) {
        *edit = new QLineEdit(Panel1);
        (*edit)->setObjectName(utf8Text(name));
        (*edit)->setReadOnly(true);
        (*edit)->setGeometry(131, top, 305, 21);
        top += 21;
    }

    // Only the procedures write the process log, so it is read-only and its lines are theirs.
    Memo1_ = new QPlainTextEdit(Panel1);
    Memo1_->setObjectName(QStringLiteral("Memo1"));
    Memo1_->setReadOnly(true);
    Memo1_->setUndoRedoEnabled(false);
    Memo1_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1_->setGeometry(131, 72, 308, 135);

    // A plain row rather than a QToolBar: a tool bar's handle, margins and spacing leave less
    // than four buttons' width, and it hides what does not fit behind an overflow arrow.
    auto* ToolBar1 = new QWidget(Panel1);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setGeometry(131, 206, 310, 33);
    auto* buttons = new QHBoxLayout(ToolBar1);
    buttons->setContentsMargins(0, 0, 0, 0);
    buttons->setSpacing(0);
    const auto addButton = [buttons](QAbstractButton* button, const char* name, const char* caption,
                                     const char* hint, QStyle::StandardPixmap picture) {
        button->setObjectName(utf8Text(name));
        button->setText(utf8Text(caption));
        button->setIcon(button->style()->standardIcon(picture));
        button->setIconSize(kIconSize);
        button->setFixedSize(kButtonSize);
        setHint(button, hint);
        buttons->addWidget(button, 0, Qt::AlignTop);
    };
    const auto newSpeedButton = [ToolBar1] {
        auto* button = new QToolButton(ToolBar1);
        button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        button->setAutoRaise(true);
        return button;
    };
    auto* SpeedButton1 = newSpeedButton();
    addButton(SpeedButton1, "SpeedButton1", "Установ.", "Для установки драйвера нажмите эту кнопку",
              QStyle::SP_DriveHDIcon);
    auto* SpeedButton2 = newSpeedButton();
    addButton(SpeedButton2, "SpeedButton2", "Удалить", "Удалить драйвер", QStyle::SP_TrashIcon);
    auto* BitBtn1 = new QPushButton(ToolBar1);
    addButton(BitBtn1, "BitBtn1", "Закрыть", "Закрыть это окно", QStyle::SP_DialogCancelButton);
    auto* BitBtn2 = new QPushButton(ToolBar1);
    addButton(BitBtn2, "BitBtn2", "&Help", "Помощь", QStyle::SP_DialogHelpButton);
    BitBtn1->setAutoDefault(false);
    BitBtn2->setAutoDefault(false);

    connect(SpeedButton1, &QToolButton::clicked, this,
            [this] { widgets::runCommand([this] { SpeedButton1Click(); }); });
    connect(SpeedButton2, &QToolButton::clicked, this,
            [this] { widgets::runCommand([this] { SpeedButton2Click(); }); });
    connect(BitBtn1, &QPushButton::clicked, this, &QDialog::reject);
    connect(BitBtn2, &QPushButton::clicked, this,
            [this] { widgets::runCommand([this] { BitBtn2Click(); }); });

    Gauge1_ = new widgets::TGauge(Panel1);
    Gauge1_->setObjectName(QStringLiteral("Gauge1"));
    Gauge1_->setGeometry(131, 240, 310, 22);
    Gauge1_->SetForeColor(Qt::blue);
    Gauge1_->SetMaxValue(kLastStep);

    // One panel; as the last panel of the bar it takes the bar's whole width.
    auto* StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setSizeGripEnabled(false);
    StatusBar1->setFixedHeight(kStatusBarHeight);
    statusPanel_ = new QLabel(StatusBar1);
    statusPanel_->setMinimumWidth(50);
    statusPanel_->setAlignment(Qt::AlignCenter);
    StatusBar1->addWidget(statusPanel_, 1);
    rows->addWidget(StatusBar1);
}

void TForm5::setPicture(const QPixmap& picture) {
    Image1->setPixmap(picture);
}

void TForm5::addLine(const QString& line) {
    QTextCursor end(Memo1_->document());
    end.movePosition(QTextCursor::End);
    if (memoHasLines_) end.insertBlock();
    end.insertText(line);
    memoHasLines_ = true;
    Memo1_->verticalScrollBar()->setValue(Memo1_->verticalScrollBar()->maximum());
}

void TForm5::gaugeStep(int step) {
    Gauge1_->SetProgress(step);
}

platform::WindowsRoots TForm5::readRoots() {
    platform::WindowsRoots roots = places_.readRoots();
    Edit1->setText(utf8Text(roots.win9x));
    Edit2->setText(utf8Text(roots.nt));
    return roots;
}

void TForm5::SpeedButton1Click() {
    addLine(QString());
    addLine(QStringLiteral("Определение загруженной ОС ..."));
    gaugeStep(1);
    const platform::WindowsRoots roots = readRoots();
    // A root that is empty still gets its file tested: the path then starts at the root of
    // the file system, as the program has always done.
    for (const auto& [family, root] : {std::pair{&kWin9x, &roots.win9x}, {&kNt, &roots.nt}}) {
        if (!platform::windowsFileExists(family->driverFile(*root))) continue;
        addLine(utf8Text(family->installedLine));
        gaugeStep(4);
        connectDriver(false);
    }
    installIfMissing(kWin9x, roots.win9x);
    installIfMissing(kNt, roots.nt);
    if (setUpPortHelper(true)) connectDriver(true);
}

bool TForm5::setUpPortHelper(bool install) {
    if (!places_.setUpPortHelper) return false;
    const platform::PortHelperSetup setup = places_.setUpPortHelper(install);
    addLine(utf8Text(setup.line));
    return setup.done;
}

void TForm5::installIfMissing(const DriverFamily& family, const std::string& root) {
    if (root.empty()) {
        addLine(utf8Text(family.notRunningLine));
        return;
    }
    if (platform::windowsFileExists(family.driverFile(root))) return;
    addLine(QStringLiteral("Копирование драйвера в ") + utf8Text(root + family.systemFolder));
    gaugeStep(3);
    platform::copyWindowsFile(family.source, family.driverFile(root));
    if (platform::windowsFileExists(root + family.systemFolder + family.copiedName))
        addLine(utf8Text(family.copiedLine));
    gaugeStep(4);
    connectDriver(true);
}

void TForm5::connectDriver(bool full) {
    addLine(QStringLiteral(" "));
    addLine(QStringLiteral("Попытка подключения к драйверу... "));
    gaugeStep(5);
    portio::TPortIO* port = mainWindow_.PortIO1();
    bool opened = false;
    if (port) {
        port->SetOpened(true);
        opened = port->OpenDriver();
    }
    if (!opened) {
        addLine(QStringLiteral("Проблема! Невозможно открыть драйвер! "));
        tellTrouble(mainWindow_.driverTrouble());
        return;
    }
    addLine(QStringLiteral("Драйвер успешно открыт "));
    if (full) {
        mainWindow_.showRegisterInput(RegisterInput::Allowed);
        // Played whatever the confirmation switch says: this is the install's own signal.
        port->Sound(200, 150);
        port->Sound(600, 150);
        port->Sound(400, 150);
    }
    mainWindow_.setN19Caption(QStringLiteral("Закрыть драйвер"));
    gaugeStep(kLastStep);
}

void TForm5::SpeedButton2Click() {
    addLine(QString());
    addLine(QStringLiteral("Подготовка к удалению драйвера..."));
    addLine(QStringLiteral("Определение загруженной ОС ..."));
    gaugeStep(1);
    const platform::WindowsRoots roots = readRoots();
    gaugeStep(2);
    addLine(QStringLiteral("Поиск драйвера... "));
    if (!roots.win9x.empty()) removeIfPresent(kWin9x, roots.win9x);
    setUpPortHelper(false);
    if (roots.nt.empty()) {
        addLine(QStringLiteral("Выход ! "));
        return;
    }
    removeIfPresent(kNt, roots.nt);
}

// Only the file goes: the driver stays open and its service registered, as the success line
// tells the user.
void TForm5::removeIfPresent(const DriverFamily& family, const std::string& root) {
    const std::string file = family.driverFile(root);
    if (!platform::windowsFileExists(file)) {
        places_.showMessage(
            this, utf8Text(family.absentBefore) + utf8Text(file) + utf8Text(family.absentAfter));
        return;
    }
    gaugeStep(3);
    addLine(utf8Text(family.foundLine));
    addLine(QStringLiteral("Попытка удаления драйвера  ") + utf8Text(file) + QStringLiteral("..."));
    if (platform::deleteWindowsFile(file))
        addLine(
            QStringLiteral("Драйвер успешно удалён, но остаётся в памяти до следующего "
                           "перезапуска программы .  "));
    else
        places_.showMessage(this, QStringLiteral("Ошибка удаления !"));
    gaugeStep(kLastStep);
}

void TForm5::BitBtn2Click() {
    help::showHelpText(viewer_, help::kInstallHelp,
                       QCoreApplication::applicationDirPath().toStdString());
}

bool TForm5::event(QEvent* event) {
    if (event->type() == QEvent::StatusTip) {
        statusPanel_->setText(static_cast<QStatusTipEvent*>(event)->tip());
        return true;
    }
    return QDialog::event(event);
}

void TForm5::tellTrouble(const QString& trouble) {
    if (trouble.isEmpty()) return;
    addLine(trouble);
    toldTrouble_ = trouble;
}

// The window comes up by itself when the driver does not open at start: the user is told why
// at once, not only after trying the install.
void TForm5::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous()) return;
    QApplication::beep();
    if (const QString trouble = mainWindow_.driverTrouble(); trouble != toldTrouble_)
        tellTrouble(trouble);
}

QString portTroubleText(const platform::PortTrouble& trouble) {
    const QString device = utf8Text(trouble.device);
    const QString head = TForm5::tr("Реальные порты недоступны: ");
    switch (trouble.obstacle) {
        case platform::PortObstacle::None:
            return {};
        case platform::PortObstacle::NoDevice:
            return head + TForm5::tr(
                              "%1 нет в этом ядре или контейнере. В контейнере порты ввода-вывода "
                              "недоступны: запустите программу на самой машине.")
                              .arg(device);
        case platform::PortObstacle::Lockdown:
            return head + TForm5::tr(
                              "ядро в режиме блокировки (lockdown: %1) запрещает %2 всем, даже "
                              "root. Отключите блокировку (её включает, например, Secure Boot) "
                              "или работайте с имитацией ПК.")
                              .arg(utf8Text(trouble.detail), device);
        case platform::PortObstacle::NoRawIo:
            return head + TForm5::tr(
                              "у процесса root нет права CAP_SYS_RAWIO (так бывает в "
                              "контейнере). Запустите программу на самой машине или дайте "
                              "контейнеру это право.");
        case platform::PortObstacle::NoHelper:
            return head + TForm5::tr(
                              "открыть %1 может только root, а помощник портов не установлен. "
                              "Установите пакет quillmor (или помощник из сборки, см. README), "
                              "затем: sudo adduser $USER quillmor, выйдите из системы и "
                              "войдите снова.")
                              .arg(device);
        case platform::PortObstacle::HelperNotSetUp:
            return head + TForm5::tr(
                              "помощник портов не настроен: нет группы quillmor. Нажмите "
                              "«Установ.» или выполните: sudo %1 install.")
                              .arg(utf8Text(platform::kPortHelperSetup));
        case platform::PortObstacle::NotInGroup:
            return head + TForm5::tr(
                              "вы не в группе quillmor. Выполните: sudo adduser $USER "
                              "quillmor, затем выйдите из системы и войдите снова.");
        case platform::PortObstacle::GroupNotActive:
            return head + TForm5::tr(
                              "вы в группе quillmor, но этот сеанс начат раньше. Выйдите из "
                              "системы и войдите снова.");
        case platform::PortObstacle::HelperFailed:
            return head + TForm5::tr(
                              "помощник портов не смог открыть %1 (его причина выведена в "
                              "стандартный поток ошибок). Нажмите «Установ.», чтобы настроить "
                              "его заново.")
                              .arg(device);
        case platform::PortObstacle::Other:
            return head + QStringLiteral("%1: %2.").arg(device, utf8Text(trouble.detail));
    }
    return {};
}

}  // namespace driver
