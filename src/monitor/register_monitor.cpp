#include "monitor/register_monitor.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <chrono>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "monitor/light.h"
#include "monitor/values.h"
#include "ports/port_chooser.h"
#include "ports/port_texts.h"
#include "ports/port_watcher.h"
#include "widgets/command.h"
#include "widgets/hint.h"

namespace monitor {

namespace {

using widgets::setHint;
using widgets::utf8Text;

QLatin1String latin1(std::string_view text) {
    return QLatin1String(text.data(), static_cast<qsizetype>(text.size()));
}

// Setting a box to the text it shows would still reset its caret and repaint it; the poll
// leaves such a box alone.
void setTextIfChanged(QLineEdit* box, std::string_view text) {
    if (box->text() != latin1(text)) box->setText(latin1(text));
}

void paintBlack(QWidget* widget, const QColor& text, const QFont& font) {
    // The poll changes these boxes up to every tick; as opaque widgets they repaint alone,
    // without their group box behind them.
    widget->setAttribute(Qt::WA_OpaquePaintEvent);
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Base, Qt::black);
    palette.setColor(QPalette::Text, text);
    widget->setPalette(palette);
    widget->setFont(font);
}

QLineEdit* makeBox(QWidget* parent, std::string_view name, const QString& text) {
    auto* box = new QLineEdit(text, parent);
    box->setObjectName(utf8Text(name));
    return box;
}

// A box that only shows what the poll reads: a click still selects its text for copying, but
// Tab passes it by for the controls that take input.
QLineEdit* makeReadBack(QWidget* parent, std::string_view name, const QString& text) {
    QLineEdit* box = makeBox(parent, name, text);
    box->setReadOnly(true);
    box->setCursor(Qt::ArrowCursor);
    box->setFocusPolicy(Qt::ClickFocus);
    return box;
}

// The panels come from the window as empty frames.
QBoxLayout* panelLayout(QWidget* panel) {
    auto* layout = new QVBoxLayout(panel);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(2);
    return layout;
}

// A page may already carry the window's own controls; the monitor's group goes on top.
void addAtTop(QWidget* page, QWidget* group) {
    if (!page->layout()) new QVBoxLayout(page);
    if (auto* box = qobject_cast<QBoxLayout*>(page->layout()))
        box->insertWidget(0, group, 0, Qt::AlignTop);
    else
        page->layout()->addWidget(group);
}

// Delete and Tab edit or move without typing a character, so no key filter sees them.
bool typedCharactersAccepted(const QKeyEvent& key, bool (*accepted)(char32_t)) {
    if (key.key() == Qt::Key_Delete || key.key() == Qt::Key_Tab || key.key() == Qt::Key_Backtab)
        return true;
    for (char32_t c : key.text().toUcs4())
        if (!accepted(c)) return false;
    return true;
}

const QColor kAquaText(0, 255, 255);
const QColor kLimeText(0, 255, 0);

}  // namespace

RegisterMonitor::RegisterMonitor(QWidget* form, const MonitorHosts& hosts, portio::TPortIO& portIO,
                                 LogHooks log, std::function<void(int hz, int ms)> confirmTone)
    : QObject(form),
      portIO_(portIO),
      log_(std::move(log)),
      confirmTone_(std::move(confirmTone)),
      form_(form) {
    buildRegisterGroups(hosts.panel2, 0);
    buildBitGroups(hosts.panel3, 0);
    buildRegisterGroups(hosts.panel4, 4);
    buildBitGroups(hosts.panel5, 4);
    buildLights(hosts.uartPage);
    buildBasePortGroup(hosts.toolsPage);

    Timer1 = new PollTimer(std::chrono::milliseconds(1), form);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    connect(Timer1, &PollTimer::timeout, this,
            [this] { widgets::runCommand([this] { Timer1Timer(); }); });
}

void RegisterMonitor::buildRegisterGroups(QWidget* panel, int firstOffset) {
    QBoxLayout* layout = panelLayout(panel);
    QFont font = panel->font();
    font.setBold(true);
    for (int offset = firstOffset; offset < firstOffset + 4; ++offset) {
        const RegisterRow& row = kRegisterRows[offset];
        auto* group = new QGroupBox(utf8Text(row.registerCaption), panel);
        group->setObjectName(utf8Text(row.registerGroup));
        auto* groupLayout = new QVBoxLayout(group);
        groupLayout->addWidget(new QLabel(QStringLiteral("data     write     data write"), group));
        auto* grid = new QGridLayout;
        groupLayout->addLayout(grid);

        RegisterViews& views = views_[offset];
        views.hex = makeReadBack(group, row.hexReadBack, QStringLiteral("$00"));
        views.decimal = makeReadBack(group, row.decimalReadBack, QStringLiteral("000"));
        forgetOnChange(views.hex, shownHex_[offset]);
        forgetOnChange(views.decimal, shownDecimal_[offset]);
        setHint(views.hex, "Число в hex");
        setHint(views.decimal, "Обычое число");
        QLineEdit* hexWrite = makeBox(group, row.hexWriteBox, QStringLiteral("$00"));
        QLineEdit* decimalWrite = makeBox(group, row.decimalWriteBox, QStringLiteral("000"));
        setHint(hexWrite, "Введите данные : $00 - $FF");
        setHint(decimalWrite, "Введите данные :  0 - 255");
        for (QLineEdit* box : {views.hex, views.decimal, hexWrite, decimalWrite})
            paintBlack(box, kAquaText, font);

        views.hexButton = new QToolButton(group);
        views.hexButton->setObjectName(QString::fromStdString(hexWriteButtonName(offset)));
        views.decimalButton = new QToolButton(group);
        views.decimalButton->setObjectName(QString::fromStdString(decimalWriteButtonName(offset)));
        // The write buttons tell what they do in the status bar only, never in a tooltip.
        views.hexButton->setStatusTip(utf8Text(row.hexWriteHint));
        views.decimalButton->setStatusTip(utf8Text(row.decimalWriteHint));
        for (QToolButton* button : {views.hexButton, views.decimalButton}) {
            button->setText(QStringLiteral("write"));
            button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        }

        connect(views.hexButton, &QToolButton::clicked, this, [this, offset, hexWrite] {
            widgets::runCommand([&] { writeButtonClick(offset, *hexWrite); });
        });
        connect(views.decimalButton, &QToolButton::clicked, this, [this, offset, decimalWrite] {
            widgets::runCommand([&] { writeButtonClick(offset, *decimalWrite); });
        });

        grid->addWidget(views.hex, 0, 0);
        grid->addWidget(hexWrite, 0, 1);
        grid->addWidget(views.hexButton, 0, 2);
        grid->addWidget(views.decimal, 1, 0);
        grid->addWidget(decimalWrite, 1, 1);
        grid->addWidget(views.decimalButton, 1, 2);
        layout->addWidget(group);
    }
    layout->addStretch();
}

void RegisterMonitor::buildBitGroups(QWidget* panel, int firstOffset) {
    QBoxLayout* layout = panelLayout(panel);
    QFont bitFont = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    bitFont.setPixelSize(19);
    QFont buttonFont(QStringLiteral("Courier New"));
    buttonFont.setStyleHint(QFont::TypeWriter);
    for (int offset = firstOffset; offset < firstOffset + 4; ++offset) {
        const RegisterRow& row = kRegisterRows[offset];
        auto* group = new QGroupBox(utf8Text(row.bitCaption), panel);
        group->setObjectName(utf8Text(row.bitGroup));
        auto* groupLayout = new QVBoxLayout(group);
        auto* weights = new QHBoxLayout;
        weights->addWidget(new QLabel(QStringLiteral(" 128 64 32 16"), group));
        weights->addWidget(new QLabel(QStringLiteral("8   4   2   1"), group));
        groupLayout->addLayout(weights);

        QLineEdit* bits = makeReadBack(group, row.bitString, latin1(kInitialBitString));
        bits->setProperty("Tag", qlonglong{0});
        paintBlack(bits, kLimeText, bitFont);
        // Room for the whole string and the box's own frame and text margins.
        bits->setMinimumWidth(QFontMetrics(bitFont).horizontalAdvance(bits->text()) + 16);
        views_[offset].bits = bits;
        forgetOnChange(bits, shownBits_[offset]);
        groupLayout->addWidget(bits);
        // Connected after the initial text is in, so only the poll's changes are logged.
        if (changeLogPane(offset) != LogPane::None) {
            connect(bits, &QLineEdit::textChanged, this,
                    [this, offset] { widgets::runCommand([&] { bitStringChange(offset); }); });
        }

        auto* buttons = new QHBoxLayout;
        buttons->setSpacing(1);
        for (int bit = 7; bit >= 0; --bit) {
            auto* button = new QPushButton(QString::number(bit), group);
            button->setObjectName(QString::fromStdString(bitButtonName(offset, bit)));
            setHint(button, utf8Text(bitButtonHint(offset, bit)));
            button->setFont(buttonFont);
            button->setFixedSize(15, 20);
            connect(button, &QPushButton::clicked, this, [this, offset, bit] {
                widgets::runCommand([&] { bitButtonClick(offset, bit); });
            });
            buttons->addWidget(button);
        }
        buttons->addStretch();
        groupLayout->addLayout(buttons);
        layout->addWidget(group);
    }
    layout->addStretch();
}

void RegisterMonitor::buildLights(QWidget* page) {
    auto* group = new QGroupBox(QStringLiteral("UART команды"), page);
    auto* grid = new QGridLayout(group);
    // Two columns of light and label pairs keep the page short.
    constexpr int kRowsPerColumn = 9;
    for (std::size_t i = 0; i < kLightRows.size(); ++i) {
        const LightRow& row = kLightRows[i];
        QLabel* light = newLight(utf8Text(row.caption), utf8Text(row.name),
                                 QFrame::Panel | QFrame::Sunken, unlit(), group);
        lights_[i] = light;
        litColours_[i] = colour(row.lit);

        const int gridRow = static_cast<int>(i) % kRowsPerColumn;
        const int column = static_cast<int>(i) / kRowsPerColumn * 2;
        grid->addWidget(light, gridRow, column);
        grid->addWidget(new QLabel(utf8Text(row.label), group), gridRow, column + 1);
    }
    addAtTop(page, group);
}

widgets::HintedControls RegisterMonitor::hintedControls() const {
    using widgets::HintLook;
    widgets::HintedControls hinted{{SpeedButton24, HintLook::BlackCaption},
                                   {CheckBox2, HintLook::BlackCaption},
                                   {ComboBox1, HintLook::FaceBackground},
                                   {Edit1, HintLook::FaceBackground},
                                   {Edit2, HintLook::FaceBackground}};
    for (const RegisterViews& views : views_) {
        hinted.push_back({views.hexButton, HintLook::BlackCaption});
        hinted.push_back({views.decimalButton, HintLook::BlackCaption});
    }
    return hinted;
}

void RegisterMonitor::buildBasePortGroup(QWidget* page) {
    auto* group = new QGroupBox(QStringLiteral("Установ. базовый порт"), page);
    group->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1 = group;
    auto* grid = new QGridLayout(group);

    auto* label1 = new QLabel(QStringLiteral("hex         digit"), group);
    label1->setObjectName(QStringLiteral("Label1"));
    auto* label2 = new QLabel(QStringLiteral("port"), group);
    label2->setObjectName(QStringLiteral("Label2"));

    Edit1 = makeBox(group, "Edit1", QStringLiteral("$3F8"));
    setHint(Edit1, "Введите адрес порта в hex и выберите \"НОВЫЙ\"");
    Edit2 = makeBox(group, "Edit2", QStringLiteral("1016"));
    setHint(Edit2, "Введите адрес порта (обычн. число) и выберите \"НОВЫЙ\"");

    ComboBox1 = new QComboBox(group);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    // When the box's editor finishes editing (it loses the focus, its list opens, Enter) and its
    // text equals an item, the combo box reports that item as activated although nobody picked
    // it. The editor's own signal brackets that report: the combo box connects to it when it is
    // given the editor, so it runs between the two connections below.
    auto* presetEditor = new QLineEdit(ComboBox1);
    connect(presetEditor, &QLineEdit::editingFinished, this, [this] { editorFinishing_ = true; });
    ComboBox1->setLineEdit(presetEditor);
    connect(presetEditor, &QLineEdit::editingFinished, this, [this] { editorFinishing_ = false; });
    // Every keystroke is evaluated as typed: no completion may turn "C" into "COM1", and Enter
    // must not add the typed text to the list.
    ComboBox1->setCompleter(nullptr);
    ComboBox1->setInsertPolicy(QComboBox::NoInsert);
    for (std::string_view item : kPresetListItems) ComboBox1->addItem(utf8Text(item));
    ComboBox1->setCurrentIndex(0);
    // The lights ask on every tick whether a UART is chosen; the answer changes only with the
    // box's text.
    const auto notePreset = [this](const QString& preset) {
        uartPreset_ = false;
        for (std::string_view name : kUartPresets)
            uartPreset_ = uartPreset_ || preset == latin1(name);
    };
    notePreset(ComboBox1->currentText());
    connect(ComboBox1, &QComboBox::currentTextChanged, this, notePreset);
    setHint(ComboBox1, "Адрес исследоваемого  базового порта ");

    SpeedButton24 = new QToolButton(group);
    SpeedButton24->setObjectName(QStringLiteral("SpeedButton24"));
    SpeedButton24->setText(QStringLiteral("НОВЫЙ  ПОРТ"));
    SpeedButton24->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setHint(SpeedButton24, "Введите адрес порта и нажмите эту кнопку");

    CheckBox2 = new QCheckBox(QStringLiteral("Отслеживать данные"), group);
    CheckBox2->setObjectName(QStringLiteral("CheckBox2"));
    CheckBox2->setChecked(true);
    setHint(CheckBox2, "Отслеживать данные в базовом регистре");

    grid->addWidget(label1, 0, 0, 1, 2);
    grid->addWidget(label2, 0, 2);
    grid->addWidget(Edit1, 1, 0);
    grid->addWidget(Edit2, 1, 1);
    grid->addWidget(ComboBox1, 1, 2);
    grid->addWidget(SpeedButton24, 2, 0, 1, 3);
    grid->addWidget(CheckBox2, 3, 0, 1, 3);
    auto* uarts = new ports::PortChooser(
        ports::PortWatcher::shared(), [](const platform::PortInfo& port) { return port.isUart(); },
        [this](const platform::PortInfo& port) {
            widgets::runCommand([this, port] { pickUart(port); });
        },
        group);
    uarts->setObjectName(QStringLiteral("UartChooser"));
    uarts->setText(QCoreApplication::translate("ports", "UART компьютера"));
    uarts->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setHint(uarts, QCoreApplication::translate("ports", "Выбрать UART этого компьютера"));
    grid->addWidget(uarts, 4, 0, 1, 3);
    addAtTop(page, group);

    // Connected only now, so the initial texts leave both source marks clear.
    auto run = [this](void (RegisterMonitor::*handler)()) {
        return [this, handler] { widgets::runCommand([this, handler] { (this->*handler)(); }); };
    };
    connect(Edit1, &QLineEdit::textChanged, this, run(&RegisterMonitor::Edit1Change));
    connect(Edit2, &QLineEdit::textChanged, this, run(&RegisterMonitor::Edit2Change));
    // A pick from the list (even of the item shown) and a keystroke in the box are changes;
    // the program's own setEditText and the editor's finishing are not.
    connect(ComboBox1, &QComboBox::activated, this, [this] {
        if (!editorFinishing_) widgets::runCommand([this] { ComboBox1Change(); });
    });
    connect(ComboBox1->lineEdit(), &QLineEdit::textEdited, this,
            run(&RegisterMonitor::ComboBox1Change));
    connect(SpeedButton24, &QToolButton::clicked, this, run(&RegisterMonitor::SpeedButton24Click));
    connect(CheckBox2, &QCheckBox::toggled, this, run(&RegisterMonitor::CheckBox2Click));
    Edit1->installEventFilter(this);
    Edit2->installEventFilter(this);
}

void RegisterMonitor::forgetOnChange(QLineEdit* box, int& shown) {
    shown = kUnknown;
    connect(box, &QLineEdit::textChanged, this, [&shown] { shown = kUnknown; });
}

// An unlit light looks like the window's buttons, whatever palette the window has by now.
const QColor& RegisterMonitor::unlit() const {
    return form_->palette().color(QPalette::Button);
}

uint8_t RegisterMonitor::readRegister(int offset) {
    return static_cast<uint8_t>(portIO_.ReadPort(registerPort(base_, offset)));
}

void RegisterMonitor::Timer1Timer() {
    for (int offset = 0; offset < kRegisterCount; ++offset)
        showReadBack(views_[offset].decimal, shownDecimal_[offset], readRegister(offset),
                     [](uint8_t value) { return decimalByteText(value); });
    for (int offset = 0; offset < kRegisterCount; ++offset)
        showReadBack(views_[offset].hex, shownHex_[offset], readRegister(offset),
                     [](uint8_t value) { return hexByteText(value); });
    batching_ = true;
    uint8_t changed = 0;
    for (int offset = 0; offset < kRegisterCount; ++offset)
        if (updateBitString(offset)) changed |= static_cast<uint8_t>(1u << offset);
    flushLog();
    if (changed && changeObserver_) {
        std::array<uint8_t, kRegisterCount> values;
        for (int offset = 0; offset < kRegisterCount; ++offset)
            values[offset] = static_cast<uint8_t>(shownBits_[offset]);
        changeObserver_(values, changed);
    }
    if (terminalLightStep_) terminalLightStep_();
    updateLights();
}

template <class Format>
void RegisterMonitor::showReadBack(QLineEdit* box, int& shown, uint8_t value, Format format) {
    if (shown == value) return;
    setTextIfChanged(box, format(value).view());
    shown = value;
}

// Each bit is read on its own, so a bit that changes between the reads can make one string mix
// two values; the separators are left as the box shows them.
bool RegisterMonitor::updateBitString(int offset) {
    int bits = 0;
    for (int bit = 0; bit < 8; ++bit) bits |= (readRegister(offset) >> bit & 1) << bit;
    if (shownBits_[offset] == bits) return false;

    QLineEdit* box = views_[offset].bits;
    const QString current = box->text();
    std::array<char16_t, kBitStringLength> text;
    for (std::size_t i = 0; i < text.size(); ++i)
        text[i] = i < static_cast<std::size_t>(current.size()) ? current[i].unicode() : u' ';
    for (int bit = 0; bit < 8; ++bit) text[bitStringIndex(bit)] = (bits >> bit & 1) ? u'1' : u'0';

    const QStringView head(text.data(), static_cast<qsizetype>(text.size()));
    const qsizetype headSize = head.size();
    if (current.size() < headSize || QStringView(current).first(headSize) != head) {
        const QStringView tail =
            current.size() > headSize ? QStringView(current).sliced(headSize) : QStringView();
        box->setText(head.toString().append(tail));
    }
    shownBits_[offset] = bits;
    return true;
}

void RegisterMonitor::updateLights() {
    const QColor& off = unlit();
    for (std::size_t i = 0; i < kLightRows.size(); ++i) {
        const LightRow& row = kLightRows[i];
        const bool lit = uartPreset_ && (readRegister(row.offset) >> row.bit & 1);
        const QColor& shown = lit ? litColours_[i] : off;
        if (shownLights_[i] == shown.rgba()) continue;
        setLight(lights_[i], shown, lit);
        shownLights_[i] = shown.rgba();
    }
}

void RegisterMonitor::GCP() {
    applyPreset();
    writeLog(LogPane::Right,
             {QString(), QStringLiteral(" Базовый регистр порта : ") + views_[0].hexButton->text(),
              QString()});
}

void RegisterMonitor::applyPreset() {
    const std::string preset = ComboBox1->currentText().toStdString();
    const std::string hexBox = Edit1->text().toStdString();
    const std::string decimalBox = Edit2->text().toStdString();
    const PresetOutcome outcome = evaluatePreset({preset, hexBox, decimalBox, mark_, base_});

    if (outcome.decimalBox) Edit2->setText(QString::fromStdString(*outcome.decimalBox));
    base_ = outcome.base;
    Edit1->setText(QString::fromStdString(addressHexText(base_)));
    for (int offset = 0; offset < kRegisterCount; ++offset) {
        const int32_t address = offsetAddress(base_, offset);
        views_[offset].hexButton->setText(QString::fromStdString(addressHexText(address)));
        views_[offset].decimalButton->setText(QString::fromStdString(addressDecimalText(address)));
    }
}

void RegisterMonitor::ComboBox1Change() {
    GCP();
}

void RegisterMonitor::pickUart(const platform::PortInfo& uart) {
    Edit2->setText(QString::number(uart.ioPort));
    ComboBox1->setCurrentIndex(ComboBox1->findText(utf8Text(kNewPortPreset), Qt::MatchExactly));
    ComboBox1Change();
    const QString holders = ports::holdersText(platform::portHolders(uart.device));
    if (holders.isEmpty()) return;
    writeLog(LogPane::Right,
             {QCoreApplication::translate(
                  "ports",
                  "%1 открыт (%2): драйвер ядра работает с этим UART, и чтение его регистров "
                  "приёма, прерываний и состояния линии отнимает у драйвера байты и события")
                  .arg(QString::fromStdString(uart.device), holders)});
}

void RegisterMonitor::SpeedButton24Click() {
    ComboBox1->setEditText(utf8Text(kNewPortPreset));
    GCP();
    confirmTone_(100, 50);
    confirmTone_(300, 50);
    confirmTone_(130, 50);
}

void RegisterMonitor::CheckBox2Click() {
    confirmTone_(1300, 50);
}

void RegisterMonitor::writeButtonClick(int offset, const QLineEdit& box) {
    const int32_t value = parseInteger(box.text().toStdString());
    portIO_.WritePort(registerPort(base_, offset), static_cast<uint8_t>(value));
}

void RegisterMonitor::bitButtonClick(int offset, int bit) {
    const uint16_t port = registerPort(base_, offset);
    portIO_.WritePort(port, static_cast<uint8_t>(portIO_.ReadPort(port) ^ (1u << bit)));
}

void RegisterMonitor::bitStringChange(int offset) {
    if (!changeIsLogged(offset, ComboBox1->currentText().toStdString(), CheckBox2->isChecked()))
        return;
    const RegisterViews& views = views_[offset];
    const qlonglong count = views.bits->property("Tag").toLongLong() + 1;
    views.bits->setProperty("Tag", count);

    const std::string hex = views.hex->text().toStdString();
    const std::string bits = views.bits->text().toStdString();
    const std::string decimal = views.decimal->text().toStdString();
    const std::string address = views.hexButton->text().toStdString();
    const std::vector<std::string> record = changeRecord(
        offset, count, {hex, bits, decimal, address},
        [this, offset] { return readRegister(offset); }, log_.now);
    QStringList lines;
    lines.reserve(static_cast<qsizetype>(record.size()));
    for (const std::string& line : record) lines.append(QString::fromStdString(line));
    const LogPane pane = changeLogPane(offset);
    writeLog(pane, lines);
    if (batching_)
        focusAfterFlush_ = pane;
    else
        log_.focus(pane);
}

void RegisterMonitor::writeLog(LogPane pane, const QStringList& lines) {
    if (!batching_)
        log_.append(pane, lines);
    else
        (pane == LogPane::Left ? pendingLeft_ : pendingRight_).append(lines);
}

// The focus goes where the tick's last record went, as if each record had moved it in turn.
void RegisterMonitor::flushLog() {
    batching_ = false;
    if (!pendingRight_.isEmpty()) log_.append(LogPane::Right, std::exchange(pendingRight_, {}));
    if (!pendingLeft_.isEmpty()) log_.append(LogPane::Left, std::exchange(pendingLeft_, {}));
    if (focusAfterFlush_ != LogPane::None)
        log_.focus(std::exchange(focusAfterFlush_, LogPane::None));
}

bool RegisterMonitor::Edit1KeyPress(const QKeyEvent& key) const {
    return typedCharactersAccepted(key, hexAddressKeyAccepted);
}

bool RegisterMonitor::Edit2KeyPress(const QKeyEvent& key) const {
    return typedCharactersAccepted(key, decimalAddressKeyAccepted);
}

bool RegisterMonitor::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && (watched == Edit1 || watched == Edit2)) {
        const auto& key = *static_cast<QKeyEvent*>(event);
        return !(watched == Edit1 ? Edit1KeyPress(key) : Edit2KeyPress(key));
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace monitor
