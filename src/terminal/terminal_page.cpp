#include "terminal/terminal_page.h"

#include <QAction>
#include <QBoxLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPointer>
#include <QRegularExpression>
#include <QSignalBlocker>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <algorithm>
#include <cerrno>
#include <functional>
#include <limits>
#include <string_view>
#include <utility>
#include <vector>

#include "monitor/light.h"
#include "monitor/register_monitor.h"
#include "monitor/register_table.h"
#include "platform/port_catalog.h"
#include "ports/port_chooser.h"
#include "ports/port_texts.h"
#include "ports/port_watcher.h"
#include "terminal/ansi_code_page.h"
#include "terminal/owner_thread.h"
#include "terminal/port_reconnect.h"
#include "uart/registers.h"
#include "widgets/command.h"
#include "widgets/hint.h"

namespace terminal {

namespace {

using monitor::colour;
using monitor::setLight;
using widgets::setHint;
using widgets::utf8Text;

// The on/off state of the XON and BRK buttons lives in the button itself, in its "Transparent"
// property, like the window's other small per-control state.
constexpr const char* kStateProperty = "Transparent";

bool flipState(QToolButton* button) {
    const bool state = !button->property(kStateProperty).toBool();
    button->setProperty(kStateProperty, state);
    return state;
}

// StaticText1 to StaticText5.
constexpr std::array<const char*, 5> kLightCaptions = {"RTS", "DTR", "XON", "BRK", "LOP"};
enum LightIndex { kRtsLight, kDtrLight, kXonLight, kBrkLight, kLopLight };

struct LightBit {
    LightIndex light;
    int offset;
    uint8_t bit;
    monitor::Rgb lit;
};
// In the order the poll reads them.
constexpr std::array<LightBit, 4> kLightBits = {
    {{kBrkLight, uart::reg::kLcr, uart::kLcrBreak, monitor::kYellow},
     {kRtsLight, uart::reg::kMcr, uart::kMcrRts, monitor::kLime},
     {kDtrLight, uart::reg::kMcr, uart::kMcrDtr, monitor::kAqua},
     {kLopLight, uart::reg::kMcr, uart::kMcrLoop, monitor::kLime}}};

struct ErrorText {
    uint32_t flag;
    std::array<const char*, 3> lines;  // unused places are null
};
// Tested in this order; each flag that is set adds its lines.
constexpr std::array<ErrorText, 11> kErrorTexts = {{
    {comm::CE_BREAK, {"Аппаратными средствами обнаружено условие запроса прерывания"}},
    {comm::CE_DNS, {"Windows 95 only: параллельное устройство не выбрано."}},
    {comm::CE_FRAME, {"Аппаратные Средства обнаружили ошибку конфигурации."}},
    {comm::CE_IOE, {"Ошибка I/O произошла в течение связи с устройством."}},
    {comm::CE_MODE,
     {"Неподдерживаемый способ запроса или  hFile параметр",
      "is invalid. Если этот параметр определяется - это единственная рабочая ошибка"}},
    {comm::CE_OOP, {"Windows 95 only: Принтер - проблеммы с бумагой."}},
    {comm::CE_OVERRUN, {"Символьное-буферное превышение. Следующий символ потерян."}},
    {comm::CE_PTO, {"Windows 95 only: Задержка произошла на параллельном устройстве."}},
    {comm::CE_RXOVER,
     {"Произошло входное буферное переполнение .",
      "разместите входной буфер, или символ был получен впоследствии",
      "конец--файла (EOF) символа"}},
    {comm::CE_RXPARITY, {"Аппаратными средствами обнаружина ошибка четности.."}},
    {comm::CE_TXFULL, {"Приложение пыталось передать символ, но выход", "буфер был полным."}},
}};

QString signalLine(const char* prefix, bool on) {
    return utf8Text(prefix) + (on ? QStringLiteral("On") : QStringLiteral("Off"));
}

bool menuChecked(const QAction* item) {
    return item && item->isChecked();
}

constexpr uint8_t kNul = 0;
constexpr uint8_t kLf = 10;
constexpr uint8_t kCr = 13;

void keepNewest(QString& line, qsizetype limit) {
    if (line.size() > limit) line.remove(0, line.size() - limit);
}

// One line-setting box: its items, the ordinal each position hands to the component, and the
// property it sets.
struct LineSetting {
    const char* name;
    const char* hint;
    const char* initialText;
    std::vector<const char*> items;
    std::vector<int> ordinals;  // one per item; -1 for an item that names no setting
    const char* prefix;
    void (*apply)(comm::TComm& comm, int ordinal);
};

enum SettingIndex { kBaudRate, kDatabits, kStopbits, kParity, kFlowControl };

// The empty last items of the speed and data-bits boxes name no setting. The flow-control box
// selects the preset its item names: "CTS" and "RTS" both name the RTS/CTS handshake, "Нет"
// none and "Прогр." the software handshake, so the box's first item, shown at start, is the
// component's fcCTS.
const std::array<LineSetting, 5>& lineSettings() {
    static const std::array<LineSetting, 5> settings = {{
        {"ComboBaudrate",
         "Битрейт",
         "br9600",
         {"cbr110", "cbr300", "cbr600", "cbr1200", "cbr2400", "cbr4800", "cbr9600", "cbr14400",
          "cbr19200", "cbr38400", "cbr56000", "cbr57600", "cbr115200", "cbr128000", "cbr256000",
          ""},
         {comm::br110, comm::br300, comm::br600, comm::br1200, comm::br2400, comm::br4800,
          comm::br9600, comm::br14400, comm::br19200, comm::br38400, comm::br56000, comm::br57600,
          comm::br115200, comm::br128000, comm::br256000, -1},
         "Скорость: ",
         // A pick from the list ends a typed speed.
         [](comm::TComm& c, int v) {
             c.SetBaudRate(static_cast<comm::TBaudrate>(v));
             c.SetCustomBaudRate(0);
         }},
        {"ComboBox3",
         "Биты данных",
         "8",
         {"--", "5", "6", "7", "8", ""},
         {comm::da4, comm::da5, comm::da6, comm::da7, comm::da8, -1},
         "Битов данных: ",
         [](comm::TComm& c, int v) { c.SetDatabits(static_cast<comm::TDatabits>(v)); }},
        {"ComboBox4",
         "Стоп бит",
         "10",
         {"10", "15", "20"},
         {comm::sb10, comm::sb15, comm::sb20},
         "Стоп бит: ",
         [](comm::TComm& c, int v) { c.SetStopbits(static_cast<comm::TStopbits>(v)); }},
        {"ComboBox5",
         "Проверка чётности",
         "    Нет ",
         {"Нет", "Нечётн. ", "Чётная", "только 1", "только 0"},
         {comm::paNone, comm::paOdd, comm::paEven, comm::paMark, comm::paSpace},
         "Пров.чётности: ",
         [](comm::TComm& c, int v) { c.SetParity(static_cast<comm::TParity>(v)); }},
        {"ComboBox6",
         "Контроль ошибок",
         "CTS",
         {"CTS", "RTS", "DTR", "Нет", "Прогр."},
         {comm::fcCTS, comm::fcCTS, comm::fcDTR, comm::fcNone, comm::fcSoftware},
         "Конроль: ",
         [](comm::TComm& c, int v) { c.SetFlowControl(static_cast<comm::TFlowControl>(v)); }},
    }};
    return settings;
}

// Said after the box's text when its position names no setting.
constexpr const char* kSettingKept = " (не применено, оставлено прежнее)";

// A speed typed into the speed box: a whole number of bits per second, with the real rate in
// brackets after it that the box itself may show ("115200 (115384)"). 0 when it is none.
uint32_t typedBitsPerSecond(const QString& text) {
    static const QRegularExpression kSpeed(QStringLiteral(R"(^\s*(\d{1,10})\s*(\(\d*\))?\s*$)"));
    const QRegularExpressionMatch match = kSpeed.match(text);
    if (!match.hasMatch()) return 0;
    const qulonglong rate = match.captured(1).toULongLong();
    return rate <= std::numeric_limits<uint32_t>::max() ? static_cast<uint32_t>(rate) : 0;
}

}  // namespace

TerminalMemo::TerminalMemo(const QString& objectName, int maximumLines, QWidget* parent)
    : widgets::BoundedTextView({{widgets::TextBound::Unit::Lines, maximumLines}, false, true},
                               parent) {
    setObjectName(objectName);
}

TerminalPage::TerminalPage(QMainWindow* form, QWidget* page, monitor::RegisterMonitor& monitor,
                           QLabel* statusPanel2, const widgets::MainMenu& menu, TerminalHooks hooks)
    : QObject(form),
      form_(form),
      menu_(menu),
      monitor_(monitor),
      statusPanel2_(statusPanel2),
      hooks_(std::move(hooks)),
      Comm1_(makeRunOnOwner()) {
    setObjectName(QStringLiteral("TerminalPage"));
    Comm1_.SetDeviceName("Com1");
    Comm1_.SetMonitorEvents(comm::TCommEventTypes::all());
    Comm1_.SetOptions(comm::TCommOptions::all());
    Comm1_.SetFlowControl(comm::fcCTS);
    // The boxes' initial texts name these settings.
    for (int setting = 0; setting < static_cast<int>(shownOrdinals_.size()); ++setting)
        shownOrdinals_[static_cast<size_t>(setting)] = componentOrdinal(setting);
    reconnect_ = new PortReconnect(
        ports::PortWatcher::shared(), [this](const std::string& name) { return reopen(name); },
        this);
    buildGroup(page);
    connectMenu();
    connectEvents();
    monitor_.setTerminalLightStep([self = QPointer<TerminalPage>(this)] {
        if (self) self->lightStep();
    });
}

TerminalPage::~TerminalPage() = default;

void TerminalPage::buildGroup(QWidget* page) {
    auto* group = new QGroupBox(QStringLiteral("UART приёмопередатчик"), page);
    group->setObjectName(QStringLiteral("GroupBox19"));
    group->setMinimumSize(162, 312);
    auto* column = new QVBoxLayout(group);

    auto* top = new QHBoxLayout;
    column->addLayout(top);
    auto* boxes = new QGridLayout;
    top->addLayout(boxes, 1);

    ComboBox2 = new QComboBox(group);
    ComboBox2->setObjectName(QStringLiteral("ComboBox2"));
    ComboBox2->setEditable(true);
    ComboBox2->setInsertPolicy(QComboBox::NoInsert);
    ComboBox2->addItems({QStringLiteral("Com1"), QStringLiteral("Com2"), QStringLiteral("Com3"),
                         QStringLiteral("Com4")});
    ComboBox2->setCurrentIndex(0);
    setHint(ComboBox2, QStringLiteral("Выберите порт"));
    // The machine's ports with their descriptions; a pick puts its stable name into the box.
    portChooser_ = new ports::PortChooser(
        ports::PortWatcher::shared(), [](const platform::PortInfo&) { return true; },
        [this](const platform::PortInfo& port) {
            if (ComboBox2->isEnabled())
                ComboBox2->setEditText(QString::fromStdString(port.stableName()));
        },
        group);
    portChooser_->setObjectName(QStringLiteral("PortChooser"));
    setHint(portChooser_, QCoreApplication::translate("ports", "Порты этого компьютера"));
    portChooser_->addFixedAction(reconnect_->waitSwitch());
    for (int setting = 0; setting < static_cast<int>(lineSettingBoxes_.size()); ++setting)
        lineSettingBoxes_[static_cast<size_t>(setting)] = newLineSettingBox(setting, group);

    auto* label27 = new QLabel(QStringLiteral("Биты     Скорость"), group);
    label27->setObjectName(QStringLiteral("Label27"));
    SpeedButton23 = new QToolButton(group);
    SpeedButton23->setObjectName(QStringLiteral("SpeedButton23"));
    SpeedButton23->setText(QStringLiteral("?"));
    SpeedButton23->setAutoRaise(true);
    SpeedButton23->setFixedSize(16, 15);
    setHint(SpeedButton23, QStringLiteral("Инструкция"));
    auto* label28 = new QLabel(QStringLiteral("Стоп бит Чётность"), group);
    label28->setObjectName(QStringLiteral("Label28"));

    auto* labelRow = new QHBoxLayout;
    labelRow->addWidget(label27, 1);
    labelRow->addWidget(SpeedButton23);
    auto* portRow = new QHBoxLayout;
    portRow->addWidget(ComboBox2, 1);
    portRow->addWidget(portChooser_);
    boxes->addLayout(portRow, 0, 0);
    boxes->addWidget(lineSettingBoxes_[kFlowControl], 0, 1);
    boxes->addLayout(labelRow, 1, 0, 1, 2);
    boxes->addWidget(lineSettingBoxes_[kDatabits], 2, 0);
    boxes->addWidget(lineSettingBoxes_[kBaudRate], 2, 1);
    boxes->addWidget(label28, 3, 0, 1, 2);
    boxes->addWidget(lineSettingBoxes_[kStopbits], 4, 0);
    boxes->addWidget(lineSettingBoxes_[kParity], 4, 1);

    auto* bevel = new QFrame(group);
    bevel->setObjectName(QStringLiteral("Bevel1"));
    bevel->setFrameStyle(QFrame::Box | QFrame::Sunken);
    auto* lightColumn = new QVBoxLayout(bevel);
    for (size_t i = 0; i < kLightCaptions.size(); ++i) {
        QLabel* light = monitor::newLight(QString::fromLatin1(kLightCaptions[i]),
                                          QStringLiteral("StaticText%1").arg(i + 1),
                                          QFrame::Box | QFrame::Plain, unlit(), bevel);
        lightColumn->addWidget(light);
        lights_[i] = light;
    }
    setHint(lights_[kLopLight], QStringLiteral("LOOP : Обратная связь"));
    top->addWidget(bevel);

    auto* toolBar = new QToolBar(group);
    toolBar->setObjectName(QStringLiteral("ToolBar9"));
    const auto newButton = [&](const char* name, const char* caption, const char* hint) {
        auto* button = new QToolButton(toolBar);
        button->setObjectName(QString::fromLatin1(name));
        button->setText(QString::fromLatin1(caption));
        setHint(button, utf8Text(hint));
        toolBar->addWidget(button);
        return button;
    };
    SpeedButton2 = newButton("SpeedButton2", "SEND", "Передача");
    SpeedButton4 = newButton("SpeedButton4", "XON", "XON");
    SpeedButton3 = newButton("SpeedButton3", "BRK", "BRK");
    SpeedButton1 = newButton("SpeedButton1", "OPEN", "Подключиться к порту");
    // Beside the specified buttons, after them: the window with every byte of the port.
    dataViewButton_ = new QToolButton(toolBar);
    dataViewButton_->setObjectName(QStringLiteral("DataViewButton"));
    dataViewButton_->setText(QStringLiteral("HEX"));
    setHint(dataViewButton_, tr("Окно данных порта"));
    toolBar->addWidget(dataViewButton_);
    QPalette maroon = SpeedButton2->palette();
    maroon.setColor(QPalette::ButtonText, QColor(128, 0, 0));
    SpeedButton2->setPalette(maroon);
    SpeedButton4->setProperty(kStateProperty, true);
    SpeedButton3->setProperty(kStateProperty, false);
    column->addWidget(toolBar);

    Edit43 = new QLineEdit(QStringLiteral("AT Z E1 H1  test"), group);
    Edit43->setObjectName(QStringLiteral("Edit43"));
    // The hint is only for the status bar: the box shows no tool tip.
    Edit43->setStatusTip(QStringLiteral("Введите данные или команды модема"));
    column->addWidget(Edit43);

    Memo1 = new TerminalMemo(QStringLiteral("Memo1"), kStatusMemoLines, group);
    Memo2 = new TerminalMemo(QStringLiteral("Memo2"), kReceivedMemoLines, group);
    column->addWidget(Memo1, 1);
    column->addWidget(Memo2, 1);

    CheckBox1 = new QCheckBox(QStringLiteral("Монитор"), group);
    CheckBox1->setObjectName(QStringLiteral("CheckBox1"));
    CheckBox1->setChecked(true);
    CheckBox1->setVisible(false);

    if (!page->layout()) new QVBoxLayout(page);
    page->layout()->addWidget(group);

    const auto run = [this](void (TerminalPage::*handler)()) {
        return [this, handler] { widgets::runCommand([this, handler] { (this->*handler)(); }); };
    };
    connect(SpeedButton1, &QToolButton::clicked, this, run(&TerminalPage::SpeedButton1Click));
    connect(SpeedButton2, &QToolButton::clicked, this, run(&TerminalPage::SpeedButton2Click));
    connect(SpeedButton3, &QToolButton::clicked, this, run(&TerminalPage::SpeedButton3Click));
    connect(SpeedButton4, &QToolButton::clicked, this, run(&TerminalPage::SpeedButton4Click));
    // Enter in the text box sends it, as SEND does.
    connect(Edit43, &QLineEdit::returnPressed, SpeedButton2, &QToolButton::click);
}

// A pick from the list hands over its position; a typed text has none.
QComboBox* TerminalPage::newLineSettingBox(int setting, QWidget* parent) {
    const LineSetting& table = lineSettings()[static_cast<size_t>(setting)];
    auto* box = new QComboBox(parent);
    box->setObjectName(utf8Text(table.name));
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
    for (const char* item : table.items) box->addItem(utf8Text(item));
    const int shown = box->findText(utf8Text(table.initialText), Qt::MatchExactly);
    box->setCurrentIndex(shown);
    if (shown < 0) box->setEditText(utf8Text(table.initialText));
    if (setting == kBaudRate) shownSpeedText_ = box->currentText();
    setHint(box, utf8Text(table.hint));
    // In the order of the settings table.
    static constexpr std::array<void (TerminalPage::*)(int), 5> kChangeHandlers = {
        &TerminalPage::ComboBaudrateChange, &TerminalPage::ComboBox3Change,
        &TerminalPage::ComboBox4Change, &TerminalPage::ComboBox5Change,
        &TerminalPage::ComboBox6Change};
    const auto change = kChangeHandlers[static_cast<size_t>(setting)];
    connect(box, &QComboBox::activated, this, [this, change](int position) {
        widgets::runCommand([this, change, position] { (this->*change)(position); });
    });
    if (setting == kBaudRate) {
        // A speed is typed digit by digit: it is set when the typing ends, not at each key.
        connect(box->lineEdit(), &QLineEdit::editingFinished, this,
                [this] { widgets::runCommand([this] { ComboBaudrateTyped(); }); });
    } else {
        connect(box->lineEdit(), &QLineEdit::textEdited, this,
                [this, change] { widgets::runCommand([this, change] { (this->*change)(-1); }); });
    }
    return box;
}

void TerminalPage::connectMenu() {
    const auto clickOnTrigger = [this](QAction* item, QToolButton* button) {
        if (item) connect(item, &QAction::triggered, button, &QToolButton::click);
    };
    clickOnTrigger(menu_.N11, SpeedButton1);
    // The register monitor's decimal write button of +2.
    clickOnTrigger(menu_.N14, &monitor_.decimalWriteButton(2));
    clickOnTrigger(menu_.XON1, SpeedButton4);
    clickOnTrigger(menu_.BREK1, SpeedButton3);
    // NRTS and NDTR are check marks that Qt flips itself; they are read when the port opens.
}

void TerminalPage::connectEvents() {
    Comm1_.OnBreak = [this](comm::TCustomComm*) { Comm1Break(); };
    Comm1_.OnCts = [this](comm::TCustomComm*) { Comm1Cts(); };
    Comm1_.OnDsr = [this](comm::TCustomComm*) { Comm1Dsr(); };
    Comm1_.OnRing = [this](comm::TCustomComm*) { Comm1Ring(); };
    Comm1_.OnRlsd = [this](comm::TCustomComm*) { Comm1Rlsd(); };
    Comm1_.OnError = [this](comm::TCustomComm*, int32_t errors) { Comm1Error(errors); };
    Comm1_.OnRxChar = [this](comm::TCustomComm*, int32_t count) { Comm1RxChar(count); };
    Comm1_.OnRxFlag = [this](comm::TCustomComm*) { Comm1RxFlag(); };
    Comm1_.OnTxEmpty = [this](comm::TCustomComm*) { Comm1TxEmpty(); };
}

widgets::HintedControls TerminalPage::hintedControls() const {
    using widgets::HintLook;
    widgets::HintedControls hinted{{SpeedButton2, HintLook::MaroonCaption},
                                   {ComboBox2, HintLook::FaceBackground},
                                   {Edit43, HintLook::FaceBackground}};
    for (QWidget* button : {SpeedButton1, SpeedButton3, SpeedButton4, SpeedButton23})
        hinted.push_back({button, HintLook::BlackCaption});
    for (QWidget* box : lineSettingBoxes_) hinted.push_back({box, HintLook::FaceBackground});
    return hinted;
}

void TerminalPage::Close() {
    Comm1_.Close();
}

QString TerminalPage::deviceName() const {
    return QString::fromStdString(Comm1_.DeviceName());
}

bool TerminalPage::speakerOn() const {
    return menuChecked(menu_.N22);
}

// An unlit light looks like the window's buttons, whatever palette the window has by now.
QColor TerminalPage::unlit() const {
    return form_->palette().color(QPalette::Button);
}

void TerminalPage::lightStep() {
    if (Comm1_.IsOpen()) {
        for (const LightBit& light : kLightBits) {
            const bool lit = (monitor_.readRegister(light.offset) & light.bit) != 0;
            setLight(lights_[light.light], lit ? colour(light.lit) : unlit(), lit);
        }
        closedLightsShown_ = 0;
        return;
    }
    const QColor off = unlit();
    if (off.rgba() == closedLightsShown_) return;
    for (LightIndex light : {kRtsLight, kDtrLight, kXonLight, kBrkLight})
        setLight(lights_[light], off, false);
    closedLightsShown_ = off.rgba();
}

void TerminalPage::SpeedButton1Click() {
    // While the page waits for an unplugged port the port is closed, but the page is connected.
    if (!Comm1_.IsOpen() && !reconnect_->waiting()) {
        connectPort();
        return;
    }
    reconnect_->stop();
    Comm1_.Close();
    if (speakerOn() && !Comm1_.IsOpen()) hooks_.sound(800, 150);
    showComponentLine();
    const QString name = deviceName();
    // "oтключён" begins with a Latin o in the status bar, "Oтключён" with a Latin O in the left
    // pane; the other two notes are all Cyrillic.
    statusPanel2_->setText(QStringLiteral("UART - oтключён от : ") + name);
    Memo1->appendLine(QStringLiteral("Отключён от : ") + name);
    hooks_.appendLog(monitor::LogPane::Left, {QString(), QStringLiteral("Oтключён от : ") + name});
    hooks_.appendLog(monitor::LogPane::Right,
                     {QString(), QStringLiteral(" Отключён от : ") + name, QString()});
    SpeedButton1->setText(QStringLiteral("OPEN"));
    ComboBox2->setEnabled(true);
    setHint(SpeedButton1, QStringLiteral("Подключиться к порту"));
}

// Whatever fails while connecting leaves the port closed (the component closes a port it could
// not set up; one whose RTS or DTR cannot be raised is closed here) and the status bar as it
// was, so the button, the status bar and the component always agree whether a port is
// connected. Either way the boxes then show the line the component holds, which follows what
// the port took.
void TerminalPage::connectPort() {
    const QString statusBefore = statusPanel2_->text();
    try {
        Comm1_.SetDeviceName(ComboBox2->currentText().toStdString());
        try {
            Comm1_.Open();
        } catch (const comm::ECommError& error) {
            noteBusyPort(error);
            throw;
        }
        if (speakerOn() && Comm1_.IsOpen()) hooks_.sound(500, 200);
        statusPanel2_->setText(QStringLiteral("UART - подключен к : ") + deviceName());
        rtsAtOpen_ = menuChecked(menu_.NRTS);
        dtrAtOpen_ = menuChecked(menu_.NDTR);
        if (rtsAtOpen_) Comm1_.SetRts(true);
        if (dtrAtOpen_) Comm1_.SetDtr(true);
    } catch (...) {
        Comm1_.Close();
        statusPanel2_->setText(statusBefore);
        showComponentLine();
        throw;
    }
    showComponentLine();
    reconnect_->opened(Comm1_.DeviceName());
    const QString name = deviceName();
    Memo1->appendLine(QStringLiteral("Подключено к : ") + name);
    hooks_.appendLog(monitor::LogPane::Left,
                     {QString(), QStringLiteral(" Подключено к : ") + name});
    hooks_.appendLog(monitor::LogPane::Right,
                     {QString(), QStringLiteral(" Подключено к : ") + name, QString()});
    Memo1->appendLine(QString::fromStdString(comm::ProviderTypeName(Comm1_.ProviderType())));
    setLight(lights_[kXonLight], colour(monitor::kLime), true);
    closedLightsShown_ = 0;
    SpeedButton1->setText(QStringLiteral("CLOSE"));
    ComboBox2->setEnabled(false);
    setHint(SpeedButton1, QStringLiteral("Отключиться от порта"));
}

void TerminalPage::SpeedButton2Click() {
    if (!Comm1_.IsOpen()) return;
    hooks_.confirmTone(1300, 50);
    QByteArray bytes = AnsiCodePage::instance().encode(Edit43->text());
    if (CheckBox1->isChecked()) bytes.append("\r\n");
    const int32_t n = Comm1_.Write(bytes.constData(), static_cast<int32_t>(bytes.size()));
    if (n == -1) {
        if (speakerOn() && Comm1_.IsOpen()) hooks_.sound(200, 200);
        Memo1->appendLine(QStringLiteral("Ошибка записи в : ") + deviceName());
        return;
    }
    // The C of "Cимволов" is Latin.
    Memo1->appendLine(QStringLiteral("Передано %1 Cимволов").arg(n));
}

void TerminalPage::SpeedButton3Click() {
    if (!Comm1_.IsOpen()) return;
    Comm1_.SetBreak(flipState(SpeedButton3));
    hooks_.confirmTone(1300, 50);
}

void TerminalPage::SpeedButton4Click() {
    if (!Comm1_.IsOpen()) return;
    const bool on = flipState(SpeedButton4);
    Comm1_.SetXon(on);
    setLight(lights_[kXonLight], on ? colour(monitor::kLime) : unlit(), on);
    closedLightsShown_ = 0;
    hooks_.confirmTone(1300, 50);
}

void TerminalPage::ComboBaudrateChange(int position) {
    lineSettingChange(kBaudRate, position);
}
void TerminalPage::ComboBox3Change(int position) {
    lineSettingChange(kDatabits, position);
}
void TerminalPage::ComboBox4Change(int position) {
    lineSettingChange(kStopbits, position);
}
void TerminalPage::ComboBox5Change(int position) {
    lineSettingChange(kParity, position);
}
void TerminalPage::ComboBox6Change(int position) {
    lineSettingChange(kFlowControl, position);
}

// A position that names no setting (an empty item, a typed text) leaves the component as it
// was, and the line says so. After a setting the port refused, the boxes show the line the
// component kept, which is the port's.
void TerminalPage::lineSettingChange(int setting, int position) {
    const LineSetting& table = lineSettings()[static_cast<size_t>(setting)];
    QComboBox* box = lineSettingBoxes_[static_cast<size_t>(setting)];
    const bool named = position >= 0 && position < static_cast<int>(table.ordinals.size()) &&
                       table.ordinals[static_cast<size_t>(position)] >= 0;
    if (!named) {
        Memo1->appendLine(utf8Text(table.prefix) + box->currentText() + utf8Text(kSettingKept));
        return;
    }
    const int ordinal = table.ordinals[static_cast<size_t>(position)];
    shownOrdinals_[static_cast<size_t>(setting)] = ordinal;
    if (setting == kBaudRate) {
        shownTypedRate_ = 0;
        shownSpeedText_ = box->itemText(position);
    }
    try {
        table.apply(Comm1_, ordinal);
    } catch (...) {
        showComponentLine();
        throw;
    }
    showComponentLine();
    Memo1->appendLine(utf8Text(table.prefix) + box->currentText());
}

// The typing in the speed box has ended (Enter, or the box left; Qt may say so twice). The
// text the box already shows changes nothing; an item's text is a pick of that item; a number
// of bits per second is set as it is (the port may refuse it, as any setting); anything else is
// a typed text the component does not take, and the box goes back to the speed it has.
void TerminalPage::ComboBaudrateTyped() {
    QComboBox* box = lineSettingBoxes_[kBaudRate];
    const QString text = box->currentText();
    if (text == shownSpeedText_ + realSpeedSuffix()) return;
    const int item = box->findText(text.trimmed(), Qt::MatchExactly);
    if (item >= 0) {
        const QSignalBlocker quiet(box);
        box->setCurrentIndex(item);
        ComboBaudrateChange(item);
        return;
    }
    const uint32_t rate = typedBitsPerSecond(text);
    if (rate == 0) {
        ComboBaudrateChange(-1);
        showComponentLine();
        return;
    }
    try {
        Comm1_.SetCustomBaudRate(rate);
    } catch (...) {
        showComponentLine();
        throw;
    }
    showComponentLine();
    Memo1->appendLine(utf8Text(lineSettings()[kBaudRate].prefix) + box->currentText());
}

int TerminalPage::componentOrdinal(int setting) const {
    switch (setting) {
        case kBaudRate:
            return Comm1_.BaudRate();
        case kDatabits:
            return Comm1_.Databits();
        case kStopbits:
            return Comm1_.Stopbits();
        case kParity:
            return Comm1_.Parity();
        default:
            return Comm1_.FlowControl();
    }
}

// Each box that names another value than the component holds shows the component's value (the
// first item that names it); a box that already names it keeps its text ("RTS" and "CTS" both
// name the RTS/CTS handshake). The speed box shows a typed speed as its number, and while the
// port runs at another rate than the one asked, the real one after it in brackets.
void TerminalPage::showComponentLine() {
    for (int setting = 0; setting < static_cast<int>(lineSettingBoxes_.size()); ++setting) {
        QComboBox* box = lineSettingBoxes_[static_cast<size_t>(setting)];
        const LineSetting& table = lineSettings()[static_cast<size_t>(setting)];
        const int value = componentOrdinal(setting);
        int& shown = shownOrdinals_[static_cast<size_t>(setting)];
        const bool typedSpeedChanged =
            setting == kBaudRate && Comm1_.CustomBaudRate() != shownTypedRate_;
        const auto item = std::find(table.ordinals.begin(), table.ordinals.end(), value);
        if ((value == shown && !typedSpeedChanged) || item == table.ordinals.end()) continue;
        shown = value;
        const QSignalBlocker quiet(box);
        box->setCurrentIndex(static_cast<int>(item - table.ordinals.begin()));
        if (setting == kBaudRate) shownSpeedText_ = box->currentText();
    }
    QComboBox* speedBox = lineSettingBoxes_[kBaudRate];
    shownTypedRate_ = Comm1_.CustomBaudRate();
    if (shownTypedRate_ != 0) shownSpeedText_ = QString::number(shownTypedRate_);
    const QString text = shownSpeedText_ + realSpeedSuffix();
    if (speedBox->currentText() != text) {
        const QSignalBlocker quiet(speedBox);
        if (shownTypedRate_ != 0) speedBox->setCurrentIndex(-1);
        speedBox->setEditText(text);
    }
}

// " (115384)" while the open port runs at another rate than the component asked of it.
QString TerminalPage::realSpeedSuffix() const {
    const uint32_t real = Comm1_.ActualBaudRate();
    const uint32_t asked = Comm1_.CustomBaudRate() != 0 ? Comm1_.CustomBaudRate()
                                                        : comm::bitsPerSecond(Comm1_.BaudRate());
    if (real == 0 || real == asked) return {};
    return QStringLiteral(" (%1)").arg(real);
}

void TerminalPage::Comm1Break() {
    Memo1->appendLine(QStringLiteral("Break: Обнаружен сигнал прерывания..."));
}
void TerminalPage::Comm1Cts() {
    Memo1->appendLine(signalLine("CTS: ", Comm1_.ModemSignal(1)));
}
void TerminalPage::Comm1Dsr() {
    Memo1->appendLine(signalLine("DSR: ", Comm1_.ModemSignal(2)));
}
void TerminalPage::Comm1Ring() {
    Memo1->appendLine(signalLine("RING: ", Comm1_.ModemSignal(3)));
}
void TerminalPage::Comm1Rlsd() {
    Memo1->appendLine(signalLine("RLSD: ", Comm1_.ModemSignal(4)));
}
void TerminalPage::Comm1RxFlag() {
    Memo1->appendLine(QStringLiteral("RX: Сигнал RX обнаружен..."));
}
void TerminalPage::Comm1TxEmpty() {
    // A Cyrillic Т before a Latin X, in both places.
    Memo1->appendLine(QStringLiteral("ТX: Сигнал ТX обнаружен..."));
}

void TerminalPage::Comm1Error(int32_t Errors) {
    QStringList lines;
    for (const ErrorText& error : kErrorTexts) {
        if ((static_cast<uint32_t>(Errors) & error.flag) == 0) continue;
        for (const char* line : error.lines)
            if (line) lines << utf8Text(line);
    }
    if (!lines.isEmpty()) Memo1->appendLines(lines);
    // The device is gone. The port is closed once the watcher is back from this handler, and
    // the page waits for the same device, unless the user closes the port meanwhile.
    if ((static_cast<uint32_t>(Errors) & comm::CE_IOE) && reconnect_->lost()) {
        QTimer::singleShot(0, this, [this] {
            if (!reconnect_->waiting()) return;
            Comm1_.Close();
            Memo1->appendLine(QCoreApplication::translate(
                                  "ports", "Устройство отключено, ждём его возвращения: ") +
                              deviceName());
        });
    }
}

bool TerminalPage::reopen(const std::string& name) {
    try {
        Comm1_.Close();
        Comm1_.SetDeviceName(name);
        Comm1_.Open();
        if (rtsAtOpen_) Comm1_.SetRts(true);
        if (dtrAtOpen_) Comm1_.SetDtr(true);
        if (!SpeedButton4->property(kStateProperty).toBool()) Comm1_.SetXon(false);
    } catch (const comm::ECommError&) {
        Comm1_.Close();
        return false;
    }
    statusPanel2_->setText(QStringLiteral("UART - подключен к : ") + deviceName());
    Memo1->appendLine(
        QCoreApplication::translate("ports", "Устройство вернулось, подключено к : ") +
        deviceName());
    return true;
}

// EBUSY: the kernel refused a second opening, or another program holds the lock.
void TerminalPage::noteBusyPort(const comm::ECommError& error) {
    if (error.ErrorCode != EBUSY) return;
    const std::string name = Comm1_.DeviceName();
    const QString holders = ports::holdersText(platform::portHolders(platform::devicePath(name)));
    if (holders.isEmpty()) return;
    Memo1->appendLine(QCoreApplication::translate("ports", "Порт %1 занят: %2")
                          .arg(QString::fromStdString(name), holders));
}

// The input queue may hold more than the buffer; it is read a buffer at a time, so nothing is
// written past the buffer and nothing is left behind for an event that may never come. Between
// buffers the window's own events go on, so a queue of many buffers never holds up the poll's
// ticks or a click for longer than one buffer takes; a click that closed the port ends the read.
void TerminalPage::Comm1RxChar(int32_t Count) {
    std::vector<uint8_t> buffer(static_cast<size_t>(std::max<int32_t>(Comm1_.ReadBufSize(), 1)), 0);
    Memo1->appendLine(QStringLiteral("Сигнал RX обнаружен..."));
    int32_t left = Count;
    do {
        const int32_t wanted = std::min(left, static_cast<int32_t>(buffer.size()));
        const int32_t n = Comm1_.Read(buffer.data(), wanted);
        if (n == -1) {
            Memo1->appendLine(QStringLiteral("Ошибка чтения полученных данных..."));
            break;
        }
        Memo1->appendLine(QStringLiteral("Чтение %1 символов").arg(n));
        takeReceived(std::span<const uint8_t>(buffer.data(), static_cast<size_t>(n)));
        left -= n;
        if (n < wanted || left <= 0) break;
        QCoreApplication::processEvents();
    } while (Comm1_.IsOpen());
    // Clicks, menu commands and poll ticks go on while the watcher waits for this handler.
    QCoreApplication::processEvents();
}

// The bytes up to each CR go into RxLine in one piece, so a line costs one allocation, not one
// per character.
void TerminalPage::takeReceived(std::span<const uint8_t> bytes) {
    const AnsiCodePage& codePage = AnsiCodePage::instance();
    QStringList lines;
    for (auto from = bytes.begin(); from != bytes.end();) {
        const auto cr = std::find(from, bytes.end(), kCr);
        const qsizetype kept = RxLine_.size();
        RxLine_.resize(kept + (cr - from));
        QChar* out = RxLine_.data() + kept;
        for (auto byte = from; byte != cr; ++byte)
            if (*byte != kNul && *byte != kLf) *out++ = codePage.toChar(*byte);
        RxLine_.truncate(out - RxLine_.constData());
        // Trimmed in steps, so a long run without CR costs no more than a short one.
        if (RxLine_.size() >= 2 * kRxLineLimit) keepNewest(RxLine_, kRxLineLimit);
        if (cr == bytes.end()) break;
        keepNewest(RxLine_, kRxLineLimit);
        lines << std::exchange(RxLine_, QString());
        from = cr + 1;
    }
    keepNewest(RxLine_, kRxLineLimit);
    if (!lines.isEmpty()) Memo2->appendLines(lines);
}

}  // namespace terminal
