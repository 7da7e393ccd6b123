#include "app/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPixmap>
#include <QScreen>
#include <QScrollArea>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTabWidget>
#include <QTime>
#include <QTimer>
#include <QToolTip>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>
#include <tuple>
#include <utility>

#include "app/error_handler.h"
#include "app/log_pane.h"
#include "app/resources.h"
#include "app/user_settings.h"
#include "driver/driver_window.h"
#include "monitor/register_monitor.h"
#include "platform/serial_port_list.h"
#include "portio/port_io.h"
#include "ports/port_texts.h"
#include "ports/port_watcher.h"
#include "terminal/terminal_page.h"
#include "widgets/command.h"
#include "widgets/hint.h"
#include "widgets/tab_order.h"

namespace app {

namespace {

enum class Kind { Command, Unchecked, Checked, Separator, Submenu };

// One row of the menu bar: a menu, a separator or an item. Items whose commands belong to
// other parts of the window exist here with their names, captions and shortcuts; those parts
// connect them.
struct MenuEntry {
    Kind kind;
    const char* name = "";
    const char* caption = "";
    const char* shortcut = "";
    std::vector<MenuEntry> entries = {};
    // Where the item is handed out; menus and separators have no place.
    QAction* widgets::MainMenu::*place = nullptr;
};

const MenuEntry kSeparator{Kind::Separator};

constexpr qint64 kFrameMs = 16;

const std::vector<MenuEntry>& menuBarEntries() {
    static const std::vector<MenuEntry> entries = {
        {Kind::Submenu,
         "N1",
         "Файл",
         "",
         {{Kind::Command, "N5", "Открыть LOG файл", "Ctrl+O", {}, &widgets::MainMenu::N5},
          {Kind::Command, "LOG1", "Сохранить LOG как...", "Ctrl+S", {}, &widgets::MainMenu::LOG1},
          kSeparator,
          {Kind::Command, "N6", "Выход", "Ctrl+X", {}, &widgets::MainMenu::N6}}},
        {Kind::Submenu,
         "N8",
         "Правка",
         "",
         {{Kind::Command, "CLOG1", "Cмотреть LOG", "F2", {}, &widgets::MainMenu::CLOG1},
          {Kind::Command, "N9", "Поиск", "Ctrl+F", {}, &widgets::MainMenu::N9},
          kSeparator,
          {Kind::Command, "LOG2", "Очистить LOG", "Ctrl+Del", {}, &widgets::MainMenu::LOG2},
          kSeparator,
          {Kind::Command, "N24", "Изменить размер", "Ctrl+R", {}, &widgets::MainMenu::N24}}},
        {Kind::Submenu,
         "N2",
         "Порт",
         "",
         {{Kind::Unchecked,
           "N25",
           "Запретить ввод с контроллера",
           "Shift+F12",
           {},
           &widgets::MainMenu::N25}}},
        {Kind::Submenu,
         "N3",
         "Управление",
         "",
         {kSeparator,
          {Kind::Command,
           "N11",
           "Подключить / отключить приёмопередатчик к COM ",
           "Ins",
           {},
           &widgets::MainMenu::N11},
          kSeparator,
          {Kind::Command, "N14", "Передача", "F12", {}, &widgets::MainMenu::N14},
          kSeparator,
          {Kind::Command, "XON1", "XON", "Ctrl+Alt+X", {}, &widgets::MainMenu::XON1},
          {Kind::Command, "BREK1", "BREK", "Ctrl+Alt+B", {}, &widgets::MainMenu::BREK1},
          kSeparator,
          {Kind::Submenu,
           "N18",
           "Активировать при подключении сигналы ",
           "",
           {{Kind::Unchecked, "NRTS", "RTS", "", {}, &widgets::MainMenu::NRTS},
            {Kind::Unchecked, "NDTR", "DTR", "", {}, &widgets::MainMenu::NDTR}}},
          {Kind::Command, "N19", "Открыть  драйвер", "", {}, &widgets::MainMenu::N19},
          {Kind::Command, "N20", "Переустановить драйвер", "", {}, &widgets::MainMenu::N20},
          kSeparator,
          {Kind::Checked,
           "N22",
           "Использов. звуковые подтвержд.",
           "F4",
           {},
           &widgets::MainMenu::N22}}},
        {Kind::Submenu,
         "NData",
         QT_TRANSLATE_NOOP("MainMenu", "Данные"),
         "",
         {{Kind::Command,
           "DataView",
           QT_TRANSLATE_NOOP("MainMenu", "Окно данных порта"),
           "Ctrl+D",
           {},
           &widgets::MainMenu::DataView},
          {Kind::Command,
           "NTimeline",
           QT_TRANSLATE_NOOP("MainMenu", "Временная диаграмма"),
           "Ctrl+T",
           {},
           &widgets::MainMenu::Timeline}}},
        {Kind::Submenu,
         "N4",
         "Помощь",
         "",
         {{Kind::Command, "Help1", "Help", "", {}, &widgets::MainMenu::Help1},
          {Kind::Command, "N16", "О программе", "", {}, &widgets::MainMenu::N16},
          {Kind::Command, "N26", "Обратная связь", "", {}, &widgets::MainMenu::N26},
          {Kind::Command, "N27", "Благодарности", "", {}, &widgets::MainMenu::N27},
          {Kind::Command, "N28", "Срытый", "F1", {}, &widgets::MainMenu::N28}}},
    };
    return entries;
}

// Captions pass through the translation call: the program's own texts come out as they stand
// until a translation for the context "MainMenu" is installed.
QString menuCaption(const MenuEntry& entry) {
    return QCoreApplication::translate("MainMenu", entry.caption);
}

// Adds the entries to a menu bar or a menu; both take actions the same way.
void addMenuEntries(QWidget* menu, QWidget* owner, const std::vector<MenuEntry>& entries,
                    widgets::MainMenu& items) {
    for (const MenuEntry& entry : entries) {
        if (entry.kind == Kind::Separator) {
            auto* separator = new QAction(owner);
            separator->setSeparator(true);
            menu->addAction(separator);
            continue;
        }
        QAction* action = nullptr;
        if (entry.kind == Kind::Submenu) {
            auto* submenu = new QMenu(menuCaption(entry), owner);
            submenu->setObjectName(QString::fromUtf8(entry.name));
            // The menus keep their separators exactly where they stand, a leading one included.
            submenu->setSeparatorsCollapsible(false);
            addMenuEntries(submenu, owner, entry.entries, items);
            action = submenu->menuAction();
        } else {
            action = new QAction(menuCaption(entry), owner);
            action->setObjectName(QString::fromUtf8(entry.name));
            action->setShortcut(QKeySequence(QString::fromUtf8(entry.shortcut)));
            action->setCheckable(entry.kind != Kind::Command);
            action->setChecked(entry.kind == Kind::Checked);
            items.*entry.place = action;
        }
        menu->addAction(action);
    }
}

QFrame* framePanel(QFrame* panel, const char* name, QFrame::Shadow shadow) {
    panel->setObjectName(QString::fromUtf8(name));
    panel->setFrameStyle(QFrame::Panel | shadow);
    return panel;
}

QFrame* newPanel(const char* name, QWidget* parent) {
    return framePanel(new QFrame(parent), name, QFrame::Raised);
}

// The area that fills the window and holds the panel with all the rest. Automatic sizing fixes
// the window at the size its contents ask for, which may be more than the screen has: the area
// asks for no more than the room the screen leaves it beside the window's frame, menu bar and
// status bar. Where the window is smaller than the panel's layout can shrink to (a small screen,
// large fonts), the area scrolls instead of cutting off what does not fit; where there is room,
// the panel fills it and shows its layout unchanged.
//
// The window manager's frame changes with the window's state (a maximised window has no
// borders), and the room with it; the new frame is told some time after the window has moved,
// with no event of its own, so it is looked at again once the window has been still a moment.
class ClientArea : public QScrollArea {
public:
    ClientArea(QMainWindow* form, QWidget* panel)
        : QScrollArea(form), form_(form), frameCheck_(new QTimer(this)) {
        setFrameShape(QFrame::NoFrame);
        setWidgetResizable(true);
        setWidget(panel);
        frameCheck_->setSingleShot(true);
        frameCheck_->setInterval(kFrameSettleMs);
        connect(frameCheck_, &QTimer::timeout, this, [this] {
            if (windowFrame() != usedFrame_) updateGeometry();
        });
        form->installEventFilter(this);
    }

    // The panel's own wish, not the scroll area's habit of asking for a few dozen lines of text.
    QSize sizeHint() const override {
        const QSize wanted = widget()->sizeHint();
        const QScreen* desktop = form_->screen();
        if (!desktop) return wanted;
        usedFrame_ = windowFrame();
        const int bars =
            form_->menuBar()->sizeHint().height() + form_->statusBar()->sizeHint().height();
        return wanted.boundedTo(desktop->availableSize() - usedFrame_ - QSize(0, bars));
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == form_ && (event->type() == QEvent::Move || event->type() == QEvent::Resize))
            frameCheck_->start();
        return QScrollArea::eventFilter(watched, event);
    }

private:
    static constexpr int kFrameSettleMs = 200;

    QSize windowFrame() const { return form_->frameGeometry().size() - form_->size(); }

    const QMainWindow* form_;
    QTimer* frameCheck_;
    mutable QSize usedFrame_;
};

QLabel* newPicture(const char* name, const char* resource, QSize size, QWidget* parent) {
    auto* picture = new QLabel(parent);
    picture->setObjectName(QString::fromUtf8(name));
    picture->setFixedSize(size);
    picture->setPixmap(QPixmap(resourcePath(resource)));
    return picture;
}

using widgets::setHint;

}  // namespace

// The names first, as the list of installed ports has them; then a line for each port that
// says what it is.
TForm1::SerialPortSource TForm1::defaultSerialPorts(platform::PortBackend backend) {
    return [backend] {
        std::vector<std::string> lines = platform::installedSerialPorts(backend);
        for (const platform::PortInfo& port : ports::PortWatcher::shared().ports())
            lines.push_back(ports::portLine(port).toStdString());
        return lines;
    };
}

// Each question for the local time makes the C library look at the time zone file again, and a
// register storm asks for dozens of time stamps per tick. Within a second the answer follows
// from a monotonic clock, so the system is asked again only once the second may have changed.
monitor::TimeSource TForm1::localTime() {
    struct Clock {
        QTime time;
        QElapsedTimer since;
    };
    return [clock = std::make_shared<Clock>()] {
        if (!clock->since.isValid() || clock->time.msec() + clock->since.elapsed() >= 1000) {
            clock->time = QTime::currentTime();
            clock->since.start();
        }
        return monitor::TimeOfDay{clock->time.hour(), clock->time.minute(), clock->time.second()};
    };
}

TForm1::TForm1(platform::DriverHost& host, SerialPortSource serialPorts, monitor::TimeSource now,
               QWidget* parent)
    : QMainWindow(parent),
      host_(host),
      serialPorts_(std::move(serialPorts)),
      PortIO1_(std::make_unique<portio::TPortIO>(host)) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("  QUILLMOR"));
    // Maximised by the window manager; where there is none, the desktop's size does the same.
    if (const QScreen* desktop = screen()) setGeometry(desktop->availableGeometry());
    setWindowState(Qt::WindowMaximized);
    buildMenus();
    buildPanels();
    buildStatusBar();
    buildToolsPage();
    monitor_ = std::make_unique<monitor::RegisterMonitor>(
        this, monitor::MonitorHosts{Panel2, Panel3, Panel4, Panel5, TabSheet2, TabSheet3},
        *PortIO1_,
        monitor::LogHooks{[this](monitor::LogPane pane, const QStringList& lines) {
                              logPane(pane).appendLines(lines);
                          },
                          [this](monitor::LogPane pane) { focusLogPane(pane); }, std::move(now)},
        [this](int hz, int ms) { ConfirmTone(hz, ms); });
    terminal_ = std::make_unique<terminal::TerminalPage>(
        this, TabSheet1, *monitor_, statusPanels_[2], menu_,
        terminal::TerminalHooks{[this](int hz, int ms) { ConfirmTone(hz, ms); },
                                [this](int hz, int ms) {
                                    if (PortIO1_) PortIO1_->Sound(static_cast<uint16_t>(hz), ms);
                                },
                                [this](monitor::LogPane pane, const QStringList& lines) {
                                    logPane(pane).appendLines(lines);
                                }});
    connect(qGuiApp, &QGuiApplication::focusWindowChanged, this, &TForm1::focusWindowChanged);
    paintLater_ = new QTimer(this);
    paintLater_->setSingleShot(true);
    connect(paintLater_, &QTimer::timeout, this,
            [this] { QCoreApplication::postEvent(this, new QEvent(QEvent::UpdateRequest)); });
    FormCreate();
}

TForm1::~TForm1() = default;

void TForm1::buildMenus() {
    menuBar()->setObjectName(QStringLiteral("MainMenu1"));
    addMenuEntries(menuBar(), this, menuBarEntries(), menu_);
    connect(menu_.N25, &QAction::triggered, this,
            [this] { widgets::runCommand([this] { N25Click(); }); });
    connect(menu_.N19, &QAction::triggered, this,
            [this] { widgets::runCommand([this] { N19Click(); }); });
    connect(menu_.N20, &QAction::triggered, this,
            [this] { widgets::runCommand([this] { N20Click(); }); });
    // Qt has inverted the check mark before the item's command runs; the command wants the
    // mark as the user saw it, so the inversion is undone first and done again by the command.
    connect(menu_.N22, &QAction::triggered, this, [this] {
        menu_.N22->setChecked(!menu_.N22->isChecked());
        widgets::runCommand([this] { N22Click(); });
    });
}

void TForm1::buildPanels() {
    QFrame* Panel1 = framePanel(new QFrame, "Panel1", QFrame::Sunken);
    setCentralWidget(new ClientArea(this, Panel1));
    auto* rows = new QVBoxLayout(Panel1);

    auto* top = new QHBoxLayout;
    rows->addLayout(top, 1);
    const std::pair<QWidget**, const char*> monitorPanels[] = {
        {&Panel2, "Panel2"}, {&Panel3, "Panel3"}, {&Panel4, "Panel4"}, {&Panel5, "Panel5"}};
    for (const auto& [panel, name] : monitorPanels) {
        *panel = newPanel(name, Panel1);
        // The register views keep their size; the page control takes the room left.
        (*panel)->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Preferred);
        top->addWidget(*panel);
    }
    QFrame* Panel6 = newPanel("Panel6", Panel1);
    top->addWidget(Panel6, 1);
    PageControl1 = new QTabWidget(Panel6);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    (new QVBoxLayout(Panel6))->addWidget(PageControl1);
    const std::tuple<QWidget**, const char*, const char*> pages[] = {
        {&TabSheet1, "TabSheet1", "Тест"},
        {&TabSheet2, "TabSheet2", "UART контр."},
        {&TabSheet3, "TabSheet3", "Инстр"}};
    for (const auto& [page, name, caption] : pages) {
        *page = new QWidget(PageControl1);
        (*page)->setObjectName(QString::fromUtf8(name));
        PageControl1->addTab(*page, QString::fromUtf8(caption));
    }
    PageControl1->setCurrentWidget(TabSheet1);

    QFrame* Panel7 = newPanel("Panel7", Panel1);
    rows->addWidget(Panel7);
    auto* panes = new QHBoxLayout(Panel7);
    RichEdit2 = new LogPane(QStringLiteral("RichEdit2"), Panel7);
    RichEdit1 = new LogPane(QStringLiteral("RichEdit1"), Panel7);
    for (LogPane* pane : {RichEdit2, RichEdit1}) pane->setMinimumHeight(151);
    panes->addWidget(RichEdit2, 393);
    panes->addWidget(RichEdit1, 374);
}

void TForm1::buildStatusBar() {
    statusBar()->setObjectName(QStringLiteral("StatusBar1"));
    statusBar()->setSizeGripEnabled(false);
    const int widths[] = {330, 220, 300};
    for (int index = 0; index < 3; ++index) {
        auto* panel = new QLabel(statusBar());
        // The widths suit the font the panels were laid out for; a text that the font at hand
        // makes wider widens its panel rather than losing its ends.
        panel->setMinimumWidth(widths[index]);
        panel->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Preferred);
        panel->setContentsMargins(3, 0, 3, 0);
        panel->setAlignment(Qt::AlignCenter);
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        statusBar()->addWidget(panel);
        statusPanels_[index] = panel;
    }
}

// The monitor puts its base-port group on top of this page; the modal-viewer switch follows
// it, and the two pictures stand at the foot.
void TForm1::buildToolsPage() {
    auto* page = new QVBoxLayout(TabSheet3);
    CheckBox3 = new QCheckBox(QStringLiteral("Mодал. окно"), TabSheet3);
    CheckBox3->setObjectName(QStringLiteral("CheckBox3"));
    CheckBox3->setChecked(true);
    setHint(CheckBox3, QStringLiteral("Смотреть LOG файл в модальном окне"));
    page->addWidget(CheckBox3);
    page->addStretch(1);
    auto* foot = new QHBoxLayout;
    foot->addWidget(newPicture("Image1", "icon.png", QSize(32, 32), TabSheet3));
    foot->addWidget(newPicture("Image2", "title.png", QSize(132, 34), TabSheet3));
    foot->addStretch(1);
    page->addLayout(foot);
}

QLabel& TForm1::statusPanel(int index) const {
    return *statusPanels_[index];
}

LogPane& TForm1::logPane(monitor::LogPane pane) const {
    return pane == monitor::LogPane::Left ? *RichEdit2 : *RichEdit1;
}

// A record brings the main window back when another window of the program (the viewer, say)
// was active, but never takes the focus away from another program, nor from a modal window
// that the main window waits for.
void TForm1::focusLogPane(monitor::LogPane pane) {
    const QWidget* active = QApplication::activeWindow();
    if (active && active != this && !QApplication::activeModalWidget()) activateWindow();
    logPane(pane).focusPane();
}

void TForm1::ConfirmTone(int hz, int ms) {
    if (PortIO1_ && menu_.N22->isChecked() && PortIO1_->OpenDriver())
        PortIO1_->Sound(static_cast<uint16_t>(hz), ms);
}

bool TForm1::OpenDriver() {
    return PortIO1_ && PortIO1_->OpenDriver();
}

void TForm1::FormCreate() {
    widgets::setErrorHandler(makeErrorHandler(showErrorBox));
}

void TForm1::FormShow() {
    if (PortIO1_->OpenDriver()) {
        menu_.N19->setText(QStringLiteral("Закрыть драйвер"));
        showRegisterInput(driver::RegisterInput::Allowed);
    } else {
        menu_.N19->setText(QStringLiteral("Открыть драйвер"));
        showRegisterInput(driver::RegisterInput::Forbidden);
    }
    {
        UserSettingsKey key;
        if (!key.openOrCreate()) return;
        if (const auto speaker = key.readBool(QStringLiteral("Speeker")))
            menu_.N22->setChecked(*speaker);
        if (const auto dataControl = key.readBool(QStringLiteral("DataControl")))
            monitor_->dataControl().setChecked(*dataControl);
        if (const auto modalShow = key.readBool(QStringLiteral("ModalShow")))
            CheckBox3->setChecked(*modalShow);
    }
    RichEdit1->appendLine(QStringLiteral("Колличество установленных СОМ портов:"));
    for (const std::string& port : serialPorts_())
        RichEdit1->appendLine(QString::fromStdString(port));
}

void TForm1::FormActivate() {
    monitor_->GCP();
    QPalette hints = QToolTip::palette();
    hints.setColor(QPalette::ToolTipBase, QColor(0, 255, 0));
    QToolTip::setPalette(hints);
}

void TForm1::FormClose() {
    saveSettings();
    if (!quietClose_) {
        ConfirmTone(200, 150);
        ConfirmTone(600, 150);
        ConfirmTone(400, 150);
    }
    terminal_->Close();
    // The poll reads through PortIO1, so it stops before the component goes.
    monitor_->timer()->stop();
    PortIO1_.reset();
}

void TForm1::closeQuietly() {
    quietClose_ = true;
    close();
}

void TForm1::N25Click() {
    const bool locked = menu_.N25->isChecked();
    for (QWidget* panel : {Panel2, Panel3, Panel4, Panel5}) panel->setEnabled(!locked);
    if (locked) {
        ConfirmTone(350, 400);
        ConfirmTone(1400, 150);
        showRegisterInput(driver::RegisterInput::Forbidden);
    } else {
        ConfirmTone(1000, 200);
        ConfirmTone(600, 100);
        showRegisterInput(driver::RegisterInput::Allowed);
    }
}

void TForm1::N19Click() {
    if (!PortIO1_) return;
    if (PortIO1_->Opened()) {
        PortIO1_->SetOpened(false);
        menu_.N19->setText(QStringLiteral("Открыть драйвер"));
        showRegisterInput(driver::RegisterInput::Impossible);
    } else {
        PortIO1_->SetOpened(true);
    }
    if (!PortIO1_->Opened()) return;
    menu_.N19->setText(QStringLiteral("Закрыть драйвер"));
    if (!menu_.N25->isChecked()) showRegisterInput(driver::RegisterInput::Allowed);
    ConfirmTone(1000, 200);
    ConfirmTone(600, 100);
}

void TForm1::N20Click() {
    if (driverWindow_) driverWindow_->exec();
}

void TForm1::N22Click() {
    ConfirmTone(1600, 60);
    menu_.N22->setChecked(!menu_.N22->isChecked());
}

QString TForm1::registerInputText(driver::RegisterInput state) {
    switch (state) {
        case driver::RegisterInput::Allowed:
            return QStringLiteral("Ввод данных в регистры доступен");
        case driver::RegisterInput::Forbidden:
            return QStringLiteral("Ввод данных в регистры запрещён");
        case driver::RegisterInput::Impossible:
            break;
    }
    return QStringLiteral("Ввод данных в регистры невозможен !");
}

void TForm1::showRegisterInput(driver::RegisterInput state) {
    statusPanels_[1]->setText(registerInputText(state));
}

// A panel that sized itself to each text would push the panels after it sideways whenever its
// text changed: panel 0 with every hint, panel 1 with the state of register input. Each is held
// at the width of the widest text it will show, known once the window's controls all exist.
void TForm1::holdStatusPanels() {
    QStringList hints;
    for (const QWidget* control : findChildren<QWidget*>())
        if (!control->statusTip().isEmpty()) hints << control->statusTip();
    holdPanelWidth(*statusPanels_[0], hints);
    holdPanelWidth(*statusPanels_[1], {registerInputText(driver::RegisterInput::Allowed),
                                       registerInputText(driver::RegisterInput::Forbidden),
                                       registerInputText(driver::RegisterInput::Impossible)});
}

// Widens the panel, never narrows it, so that each of the texts shows whole in it.
void TForm1::holdPanelWidth(QLabel& panel, const QStringList& texts) {
    const QMargins margins = panel.contentsMargins();
    const int border = margins.left() + margins.right() + 2 * panel.frameWidth();
    int width = panel.minimumWidth();
    for (const QString& text : texts)
        width = std::max(width, panel.fontMetrics().horizontalAdvance(text) + border);
    if (panel.maximumWidth() != width) panel.setFixedWidth(width);
}

driver::MainWindowLinks TForm1::driverLinks() {
    return {[this] { return PortIO1_.get(); },
            [this](driver::RegisterInput state) { showRegisterInput(state); },
            [this](const QString& caption) { menu_.N19->setText(caption); },
            [this] { return driver::portTroubleText(host_.openTrouble()); }};
}

void TForm1::setDriverWindow(driver::TForm5* window) {
    driverWindow_ = window;
}

// A settings file that cannot be written must not keep the program from closing: the values
// are lost, said once on stderr, and the close goes on.
void TForm1::saveSettings() {
    UserSettingsKey key;
    key.writeBool(QStringLiteral("Speeker"), menu_.N22->isChecked());
    key.writeBool(QStringLiteral("DataControl"), monitor_->dataControl().isChecked());
    key.writeBool(QStringLiteral("ModalShow"), CheckBox3->isChecked());
    if (!key.save())
        qWarning("quillmor: the settings could not be saved to %s", qPrintable(key.fileName()));
}

// The poll may change the register views a thousand times a second, but a screen shows some
// sixty pictures in that time: painting every change would spend the poll's time on pictures
// nobody sees. A repair that comes too soon after the last one waits for the next frame; the
// toolkit keeps collecting what needs repainting meanwhile.
bool TForm1::event(QEvent* event) {
    if (event->type() == QEvent::UpdateRequest) {
        if (sincePaint_.isValid() && sincePaint_.elapsed() < kFrameMs) {
            if (!paintLater_->isActive())
                paintLater_->start(static_cast<int>(kFrameMs - sincePaint_.elapsed()));
            return true;
        }
        sincePaint_.start();
    }
    if (event->type() == QEvent::StatusTip) {
        const QString& hint = static_cast<QStatusTipEvent*>(event)->tip();
        holdPanelWidth(*statusPanels_[0], {hint});
        statusPanels_[0]->setText(hint);
        return true;
    }
    return QMainWindow::event(event);
}

// Without a window manager nobody hands out the focus, so the window asks for it itself. The
// poll does not wait for that activation: a window manager that keeps new windows from taking
// the focus may give it late or never. Nor may it read ports 0-7 (a PC's DMA controller) for
// want of a base, so the preset is taken first; quietly, as the activation logs the base.
void TForm1::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (event->spontaneous()) return;
    holdStatusPanels();
    widgets::runCommand([this] { FormShow(); });
    widgets::runCommand([this] {
        monitor_->applyPreset();
        monitor_->timer()->start();
    });
    // Every part has built its controls by now. The focus starts on the first control, not in a
    // log pane.
    const QList<QWidget*> tabOrder = widgets::orderTabsByLayout(*centralWidget());
    if (!tabOrder.isEmpty()) tabOrder.first()->setFocus(Qt::OtherFocusReason);
    activateWindow();
}

void TForm1::closeEvent(QCloseEvent* event) {
    event->accept();
    if (closing_) return;
    closing_ = true;
    widgets::runCommand([this] { FormClose(); });
    emit closed();
}

void TForm1::setProgramWindows(QList<QPointer<QWidget>> windows) {
    programWindows_ = std::move(windows);
}

// The program's active window changes only between its own windows: a null focus window means
// another program has the focus, and coming back from it activates nothing. A dialog, a popup
// or a tool tip is no window of the program either: the find dialog in particular must not
// re-log the base over the match it has just selected in a pane.
void TForm1::focusWindowChanged(QWindow* focused) {
    const auto ownWindow = [focused](const QWidget* window) {
        return window && window->windowHandle() == focused;
    };
    if (!focused || (!ownWindow(this) &&
                     std::none_of(programWindows_.cbegin(), programWindows_.cend(), ownWindow)))
        return;
    if (focused == lastActive_) return;
    lastActive_ = focused;
    if (focused != windowHandle() || closing_) return;
    widgets::runCommand([this] { FormActivate(); });
}

}  // namespace app
