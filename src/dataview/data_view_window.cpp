#include "dataview/data_view_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>
#include <cstring>
#include <system_error>

#include "dataview/traffic_view.h"
#include "terminal/ansi_code_page.h"
#include "widgets/command.h"

namespace dataview {

namespace {

// The traffic is taken at about the pace of a screen's refresh, a batch at a time.
constexpr int kTickMs = 40;
constexpr size_t kBatchEntries = 64 * 1024;
// The timer takes at most this many entries a turn, a fraction of a millisecond's work, and
// comes back a millisecond later while more wait: a fast line's traffic then never holds the
// window, and the register poll's 1 ms ticks, for longer than that.
constexpr size_t kEntriesPerTurn = kBatchEntries;
// While more traffic waits than a turn takes, what the user sees is brought up to date this
// often: nobody reads a flood, and each showing is a millisecond or more of painting that the
// traffic and the poll wait for.
constexpr int kFloodShowMs = 100;
// A tick called directly takes everything up to this many.
constexpr size_t kEntriesPerTick = 8 * kBatchEntries;

constexpr const char* kSettingsGroup = "DataView";

QString tr(const char* text) {
    return QCoreApplication::translate("dataview", text);
}

QString systemReason(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

QString rateText(double bytesPerSecond) {
    return bytesPerSecond >= 1e6 ? tr("%1 МБ/с").arg(bytesPerSecond / 1e6, 0, 'f', 2)
                                 : tr("%1 КБ/с").arg(bytesPerSecond / 1e3, 0, 'f', 1);
}

bool lineRaisedByDcb(uint32_t flags, uint32_t mask, uint32_t enable, uint32_t handshake) {
    const uint32_t control = flags & mask;
    return control == enable || control == handshake;
}

}  // namespace

DataViewWindow::DataViewWindow(comm::TCustomComm& comm, const widgets::MainMenu& menu,
                               QWidget* parent)
    : QWidget(parent, Qt::Window), comm_(comm), menu_(menu), batch_(kBatchEntries) {
    setObjectName(QStringLiteral("DataView"));
    setWindowTitle(tr("Данные порта"));
    message_ = [this](const QString& text) { QMessageBox::warning(this, windowTitle(), text); };
    buildControls();
    // Fits a 1366 x 768 screen with room for the main window's title beside it.
    resize(1100, 640);
    if (const QScreen* screen = this->screen())
        resize(size().boundedTo(screen->availableSize() - QSize(40, 60)));
    timer_ = new QTimer(this);
    timer_->setInterval(kTickMs);
    connect(timer_, &QTimer::timeout, this, [this] { widgets::runCommand([this] { turn(); }); });
    timer_->start();
    showLineStates();
}

DataViewWindow::~DataViewWindow() {
    sender_.reset();
    log_.reset();
}

void DataViewWindow::setMessenger(Messenger messenger) {
    message_ = std::move(messenger);
}

void DataViewWindow::buildControls() {
    auto* column = new QVBoxLayout(this);

    auto* rowsLine = new QHBoxLayout;
    column->addLayout(rowsLine);
    const auto add = [](QBoxLayout* line, QWidget* w, const char* name) {
        w->setObjectName(QString::fromLatin1(name));
        line->addWidget(w);
        return w;
    };
    rowsLine->addWidget(new QLabel(tr("Время:"), this));
    timeStamps_ = new QComboBox(this);
    timeStamps_->addItems(
        {tr("нет"), tr("время суток"), tr("с открытия порта"), tr("с прошлой строки")});
    timeStamps_->setCurrentIndex(static_cast<int>(TimeStampKind::TimeOfDay));
    add(rowsLine, timeStamps_, "timeStamps");
    rowsLine->addWidget(new QLabel(tr("Новая строка:"), this));
    rowSplit_ = new QComboBox(this);
    rowSplit_->addItems({tr("по числу байтов"), tr("по концу строки"), tr("после паузы")});
    add(rowsLine, rowSplit_, "rowSplit");
    rowBytes_ = new QSpinBox(this);
    rowBytes_->setRange(1, traffic::kMaxRowEntries);
    rowBytes_->setValue(16);
    rowBytes_->setSuffix(tr(" байт"));
    add(rowsLine, rowBytes_, "rowBytes");
    silenceMs_ = new QSpinBox(this);
    silenceMs_->setRange(1, 1000);
    silenceMs_->setValue(20);
    silenceMs_->setSuffix(tr(" мс"));
    add(rowsLine, silenceMs_, "silenceMs");
    pause_ = new QPushButton(tr("Пауза"), this);
    pause_->setCheckable(true);
    add(rowsLine, pause_, "pause");
    auto* clear = new QPushButton(tr("Очистить"), this);
    add(rowsLine, clear, "clear");
    rowsLine->addStretch(1);
    rts_ = new QCheckBox(QStringLiteral("RTS"), this);
    add(rowsLine, rts_, "rts");
    dtr_ = new QCheckBox(QStringLiteral("DTR"), this);
    add(rowsLine, dtr_, "dtr");

    auto* findLine = new QHBoxLayout;
    column->addLayout(findLine);
    findEdit_ = new QLineEdit(this);
    findEdit_->setPlaceholderText(tr("Искать"));
    add(findLine, findEdit_, "findEdit");
    findKind_ = new QComboBox(this);
    findKind_->addItems({tr("hex"), tr("текст")});
    add(findLine, findKind_, "findKind");
    auto* find = new QPushButton(tr("Найти далее"), this);
    add(findLine, find, "findNext");
    auto* copyHex = new QPushButton(tr("Копировать hex"), this);
    add(findLine, copyHex, "copyHex");
    auto* copyText = new QPushButton(tr("Копировать текст"), this);
    add(findLine, copyText, "copyText");
    dropped_ = new QLabel(this);
    add(findLine, dropped_, "dropped");
    findLine->addStretch(1);

    view_ = new TrafficView(this);
    view_->setObjectName(QStringLiteral("trafficView"));
    view_->setToolTip(
        tr("TX: передано программой, RX: принято. После байта: p ошибка чётности, f ошибка "
           "кадра, ! обе. BRK: разрыв линии, OVR: переполнение UART, QOV: переполнение входной "
           "очереди, PAR/FRM: ошибка чётности/кадра без известного байта (строчные: место "
           "неточно)."));
    column->addWidget(view_, 1);

    auto* hexLine = new QHBoxLayout;
    column->addLayout(hexLine);
    hexLine->addWidget(new QLabel(tr("Передать hex:"), this));
    hexEdit_ = new QLineEdit(this);
    hexEdit_->setPlaceholderText(QStringLiteral("41 54 0D 0A"));
    add(hexLine, hexEdit_, "hexEdit");
    auto* sendHexButton = new QPushButton(tr("Передать"), this);
    add(hexLine, sendHexButton, "sendHex");

    auto* logLine = new QHBoxLayout;
    column->addLayout(logLine);
    logLine->addWidget(new QLabel(tr("Журнал:"), this));
    logFormat_ = new QComboBox(this);
    logFormat_->addItems({tr("принятые байты как есть"), tr("как в окне")});
    add(logLine, logFormat_, "logFormat");
    logAppend_ = new QCheckBox(tr("дописывать в конец файла"), this);
    add(logLine, logAppend_, "logAppend");
    logButton_ = new QPushButton(tr("Начать журнал..."), this);
    add(logLine, logButton_, "logButton");
    logStatus_ = new QLabel(this);
    add(logLine, logStatus_, "logStatus");
    logLine->addStretch(1);

    auto* sendLine = new QHBoxLayout;
    column->addLayout(sendLine);
    sendLine->addWidget(new QLabel(tr("Пауза после символа:"), this));
    charDelay_ = new QSpinBox(this);
    charDelay_->setRange(0, 1000);
    charDelay_->setSuffix(tr(" мс"));
    add(sendLine, charDelay_, "charDelay");
    sendLine->addWidget(new QLabel(tr("после строки:"), this));
    lineDelay_ = new QSpinBox(this);
    lineDelay_->setRange(0, 10000);
    lineDelay_->setSuffix(tr(" мс"));
    add(sendLine, lineDelay_, "lineDelay");
    sendFileButton_ = new QPushButton(tr("Отправить файл..."), this);
    add(sendLine, sendFileButton_, "sendFile");
    sendProgress_ = new QProgressBar(this);
    sendProgress_->setRange(0, 1000);
    sendProgress_->setValue(0);
    sendProgress_->setTextVisible(false);
    add(sendLine, sendProgress_, "sendProgress");
    sendStatus_ = new QLabel(this);
    add(sendLine, sendStatus_, "sendStatus");
    cancelSend_ = new QPushButton(tr("Отмена"), this);
    cancelSend_->setEnabled(false);
    add(sendLine, cancelSend_, "cancelSend");
    sendLine->addStretch(1);

    const auto command = [this](void (DataViewWindow::*handler)()) {
        return [this, handler] { widgets::runCommand([this, handler] { (this->*handler)(); }); };
    };
    connect(timeStamps_, &QComboBox::currentIndexChanged, this,
            [this](int kind) { view_->setTimeStamps(static_cast<TimeStampKind>(kind)); });
    connect(rowSplit_, &QComboBox::currentIndexChanged, this,
            command(&DataViewWindow::applyRowRule));
    connect(rowBytes_, &QSpinBox::valueChanged, this, command(&DataViewWindow::applyRowRule));
    connect(silenceMs_, &QSpinBox::valueChanged, this, command(&DataViewWindow::applyRowRule));
    connect(clear, &QPushButton::clicked, this, [this] {
        view_->clear();
        showDropped();
    });
    connect(find, &QPushButton::clicked, this, command(&DataViewWindow::findNext));
    connect(findEdit_, &QLineEdit::returnPressed, this, command(&DataViewWindow::findNext));
    connect(copyHex, &QPushButton::clicked, this,
            [this] { QApplication::clipboard()->setText(view_->selectedHex()); });
    connect(copyText, &QPushButton::clicked, this,
            [this] { QApplication::clipboard()->setText(view_->selectedText()); });
    connect(rts_, &QCheckBox::clicked, this,
            [this](bool on) { widgets::runCommand([this, on] { setLine(true, on); }); });
    connect(dtr_, &QCheckBox::clicked, this,
            [this](bool on) { widgets::runCommand([this, on] { setLine(false, on); }); });
    connect(sendHexButton, &QPushButton::clicked, this, command(&DataViewWindow::sendHex));
    connect(hexEdit_, &QLineEdit::returnPressed, this, command(&DataViewWindow::sendHex));
    connect(logButton_, &QPushButton::clicked, this,
            [this] { widgets::runCommand([this] { log_ ? stopLog() : chooseLogFile(); }); });
    connect(sendFileButton_, &QPushButton::clicked, this,
            command(&DataViewWindow::chooseFileToSend));
    connect(cancelSend_, &QPushButton::clicked, this, command(&DataViewWindow::cancelSending));
    applyRowRule();
}

void DataViewWindow::applyRowRule() {
    traffic::RowRule rule;
    rule.split = static_cast<traffic::RowRule::Split>(rowSplit_->currentIndex());
    rule.bytesPerRow = rowBytes_->value();
    rule.silenceMs = silenceMs_->value();
    rowBytes_->setEnabled(rule.split == traffic::RowRule::Split::Bytes);
    silenceMs_->setEnabled(rule.split == traffic::RowRule::Split::Silence);
    view_->setRule(rule);
}

void DataViewWindow::tick() {
    takeTurn(kEntriesPerTick);
    showTurn();
}

// While traffic waits the timer comes back soon, and what the user sees follows at its usual
// pace.
void DataViewWindow::turn() {
    // Behind the stream, a turn takes a share of the backlog: the view keeps up with a line
    // faster than the usual turns take, before the stream's ring wraps round what it has not
    // taken yet.
    const uint64_t backlog = stream_ ? stream_->end() - position_ : 0;
    const bool more = takeTurn(std::max<size_t>(kEntriesPerTurn, static_cast<size_t>(backlog / 4)));
    if (!more || !shownAt_.isValid() || shownAt_.elapsed() >= kFloodShowMs) showTurn();
}

bool DataViewWindow::takeTurn(size_t entries) {
    followOpening();
    const bool more = isVisible() && !pause_->isChecked() && takeTraffic(entries);
    timer_->setInterval(more ? 1 : kTickMs);
    return more;
}

void DataViewWindow::showTurn() {
    shownAt_.start();
    view_->showAppended();
    showDropped();
    watchLog();
    watchSending();
}

// Each opening of the port brings a stream of its own; the view goes on with it, and a log
// or a sending of the opening before ends with it.
void DataViewWindow::followOpening() {
    const bool open = comm_.IsOpen();
    std::shared_ptr<comm::TrafficStream> current = comm_.Traffic();
    if (current != stream_ && current) {
        if (stream_ && isVisible() && !pause_->isChecked()) takeTraffic(kEntriesPerTick);
        // The port was closed and opened again between two ticks: the log of the opening before
        // has ended with it.
        if (log_ && stream_) endLogWithThePort();
        stream_ = std::move(current);
        position_ = 0;
        view_->beginOpening({stream_->openedAtUs(), stream_->openedAtWallUs()});
    }
    if (open == wasOpen_) return;
    wasOpen_ = open;
    if (!open) {
        if (sender_) {
            sender_->cancel();
            watchSending();
        }
        if (log_) endLogWithThePort();
    }
    showLineStates();
}

void DataViewWindow::endLogWithThePort() {
    stopLog();
    logStatus_->setText(logStatus_->text() + tr(" (порт закрыт)"));
}

// Whether more entries wait than were taken.
bool DataViewWindow::takeTraffic(size_t limit) {
    if (!stream_) return false;
    size_t taken = 0;
    bool more = false;
    while (taken < limit) {
        const comm::TrafficStream::ReadResult got =
            stream_->read(position_, batch_.data(), std::min(batch_.size(), limit - taken));
        position_ = got.next;
        if (got.dropped) view_->countLost(got.dropped);
        if (got.count == 0) break;
        view_->append(batch_.data(), got.count);
        taken += got.count;
        more = taken == limit;
    }
    return more;
}

void DataViewWindow::showDropped() {
    const traffic::TrafficRows& rows = view_->rows();
    dropped_->setText(rows.dropped() ? tr("старых отброшено: %1").arg(rows.dropped()) : QString());
}

// The lines show what the page left them at the opening (its DCB, then NRTS and NDTR), and from
// then on what was set here.
void DataViewWindow::showLineStates() {
    const bool open = comm_.IsOpen();
    rts_->setEnabled(open);
    dtr_->setEnabled(open);
    if (!open) return;
    const uint32_t flags = comm_.CurrentDcb().Flags;
    const QSignalBlocker quietRts(rts_);
    const QSignalBlocker quietDtr(dtr_);
    rts_->setChecked(lineRaisedByDcb(flags, comm::kDcbRtsControlMask, comm::kDcbRtsControlEnable,
                                     comm::kDcbRtsControlHandshake) ||
                     (menu_.NRTS && menu_.NRTS->isChecked()));
    dtr_->setChecked(lineRaisedByDcb(flags, comm::kDcbDtrControlMask, comm::kDcbDtrControlEnable,
                                     comm::kDcbDtrControlHandshake) ||
                     (menu_.NDTR && menu_.NDTR->isChecked()));
}

// A refusal of the port leaves the box showing the line as it was.
void DataViewWindow::setLine(bool rts, bool on) {
    QCheckBox* box = rts ? rts_ : dtr_;
    try {
        rts ? comm_.SetRts(on) : comm_.SetDtr(on);
    } catch (...) {
        const QSignalBlocker quiet(box);
        box->setChecked(!on);
        throw;
    }
}

void DataViewWindow::findNext() {
    QByteArray bytes;
    if (findKind_->currentIndex() == 0) {
        QString error;
        const std::optional<QByteArray> parsed = text::parseHex(findEdit_->text(), error);
        if (!parsed) return message_(error);
        bytes = *parsed;
    } else {
        bytes = terminal::AnsiCodePage::instance().encode(findEdit_->text());
    }
    if (bytes.isEmpty()) return;
    if (!view_->findNext(bytes)) message_(tr("Не найдено: %1").arg(findEdit_->text()));
}

void DataViewWindow::sendHex() {
    QString error;
    const std::optional<QByteArray> bytes = text::parseHex(hexEdit_->text(), error);
    if (!bytes) {
        hexEdit_->setFocus();
        return message_(error);
    }
    if (bytes->isEmpty()) return;
    if (!comm_.IsOpen()) return message_(tr("Порт не открыт: нечего передавать"));
    if (comm_.Write(bytes->constData(), static_cast<int32_t>(bytes->size())) == -1)
        message_(tr("Порт не принял данные за время ожидания записи"));
}

void DataViewWindow::chooseLogFile() {
    const QString path = QFileDialog::getSaveFileName(
        this, tr("Журнал сеанса"), QString(), tr("Журналы (*.log *.bin *.txt);;Все файлы (*)"),
        nullptr,
        logAppend_->isChecked() ? QFileDialog::DontConfirmOverwrite : QFileDialog::Options());
    if (!path.isEmpty()) startLog(path);
}

void DataViewWindow::startLog(const QString& path) {
    if (log_) return;
    followOpening();
    if (!comm_.IsOpen() || !stream_)
        return message_(tr("Журнал ведётся только при открытом порте"));
    std::unique_ptr<traffic::LogFormat> format;
    if (logFormat_->currentIndex() == 0) {
        format = std::make_unique<traffic::RawFormat>();
    } else {
        format = std::make_unique<ShownFormat>(
            view_->rows().rule(), static_cast<TimeStampKind>(timeStamps_->currentIndex()),
            traffic::OpeningClock{stream_->openedAtUs(), stream_->openedAtWallUs()});
    }
    try {
        log_ = std::make_unique<traffic::SessionLog>(path.toStdString(),
                                                     logAppend_->isChecked()
                                                         ? traffic::SessionLog::Mode::Append
                                                         : traffic::SessionLog::Mode::Replace,
                                                     stream_, std::move(format));
    } catch (const std::system_error& e) {
        return message_(tr("Не удалось открыть файл журнала «%1»: %2")
                            .arg(path, systemReason(e.code().value())));
    }
    logButton_->setText(tr("Остановить журнал"));
    watchLog();
}

void DataViewWindow::stopLog() {
    if (!log_) return;
    log_->stop();
    watchLog();
    log_.reset();
    logButton_->setText(tr("Начать журнал..."));
}

void DataViewWindow::watchLog() {
    if (!log_) return;
    QString status = tr("%1: записано %2 байт")
                         .arg(QString::fromStdString(log_->path()))
                         .arg(log_->bytesWritten());
    if (log_->lost()) status += tr(", пропущено записей: %1").arg(log_->lost());
    logStatus_->setText(status);
    if (log_->running() || log_->failure() == 0) return;
    const QString path = QString::fromStdString(log_->path());
    const int failure = log_->failure();
    const uint64_t written = log_->bytesWritten();
    log_->stop();
    log_.reset();
    logButton_->setText(tr("Начать журнал..."));
    logStatus_->setText(tr("%1: остановлен, записано %2 байт").arg(path).arg(written));
    message_(tr("Журнал «%1» остановлен: %2. Записанные %3 байт остались в файле.")
                 .arg(path, systemReason(failure))
                 .arg(written));
}

void DataViewWindow::chooseFileToSend() {
    const QString path = QFileDialog::getOpenFileName(this, tr("Отправить файл"));
    if (!path.isEmpty()) sendFile(path);
}

void DataViewWindow::sendFile(const QString& path) {
    if (sender_) return;
    if (!comm_.IsOpen()) return message_(tr("Порт не открыт: файл не отправлен"));
    comm::TCustomComm* comm = &comm_;
    try {
        sender_ = std::make_unique<traffic::FileSender>(
            path.toStdString(),
            [comm](const uint8_t* bytes, int32_t count, int32_t timeoutMs) {
                return comm->WritePart(bytes, count, timeoutMs);
            },
            traffic::FileSender::Delays{charDelay_->value(), lineDelay_->value()});
    } catch (const std::system_error& e) {
        return message_(
            tr("Не удалось прочитать файл «%1»: %2").arg(path, systemReason(e.code().value())));
    }
    sendingFor_.start();
    sendFileButton_->setEnabled(false);
    cancelSend_->setEnabled(true);
    watchSending();
}

void DataViewWindow::cancelSending() {
    if (!sender_) return;
    sender_->cancel();
    watchSending();
}

void DataViewWindow::watchSending() {
    if (!sender_) return;
    const traffic::FileSender::Progress p = sender_->progress();
    sendProgress_->setValue(p.total ? static_cast<int>(p.sent * 1000 / p.total) : 1000);
    const double seconds = std::max(0.001, sendingFor_.elapsed() / 1000.0);
    const double rate = static_cast<double>(p.sent) / seconds;
    using State = traffic::FileSender::State;
    switch (p.state) {
        case State::Sending:
        case State::Waiting: {
            QString status = tr("%1 из %2 байт, %3").arg(p.sent).arg(p.total).arg(rateText(rate));
            if (rate > 0)
                status += tr(", осталось %1 с")
                              .arg(static_cast<double>(p.total - p.sent) / rate, 0, 'f', 0);
            if (p.state == State::Waiting) status += tr(" — ожидание: линия удержана");
            sendStatus_->setText(status);
            return;
        }
        case State::Done:
            sendStatus_->setText(tr("отправлено %1 байт, %2").arg(p.sent).arg(rateText(rate)));
            break;
        case State::Cancelled:
            sendStatus_->setText(tr("отменено: отправлено %1 из %2 байт").arg(p.sent).arg(p.total));
            break;
        case State::Failed:
            // Said here, beside the progress, and not in a message box: the usual cause is a
            // port that went away, which the page reports itself and may reopen meanwhile.
            sendStatus_->setText(tr("прервано: отправлено %1 из %2 байт (%3)")
                                     .arg(p.sent)
                                     .arg(p.total)
                                     .arg(QString::fromStdString(p.failure)));
            break;
    }
    sender_.reset();
    sendFileButton_->setEnabled(true);
    cancelSend_->setEnabled(false);
}

void DataViewWindow::closeEvent(QCloseEvent* event) {
    cancelSending();
    QWidget::closeEvent(event);
}

void DataViewWindow::loadSettings(QSettings& settings) {
    settings.beginGroup(QString::fromLatin1(kSettingsGroup));
    if (settings.contains(QStringLiteral("geometry")))
        restoreGeometry(settings.value(QStringLiteral("geometry")).toByteArray());
    const auto setIndex = [&](QComboBox* box, const char* key) {
        const int index = settings.value(QString::fromLatin1(key), box->currentIndex()).toInt();
        if (index >= 0 && index < box->count()) box->setCurrentIndex(index);
    };
    const auto setNumber = [&](QSpinBox* box, const char* key) {
        box->setValue(settings.value(QString::fromLatin1(key), box->value()).toInt());
    };
    setIndex(timeStamps_, "timeStamps");
    setIndex(rowSplit_, "rowSplit");
    setNumber(rowBytes_, "rowBytes");
    setNumber(silenceMs_, "silenceMs");
    setIndex(findKind_, "findKind");
    setIndex(logFormat_, "logFormat");
    logAppend_->setChecked(settings.value(QStringLiteral("logAppend"), false).toBool());
    setNumber(charDelay_, "charDelayMs");
    setNumber(lineDelay_, "lineDelayMs");
    settings.endGroup();
}

void DataViewWindow::saveSettings(QSettings& settings) const {
    settings.beginGroup(QString::fromLatin1(kSettingsGroup));
    settings.setValue(QStringLiteral("geometry"), saveGeometry());
    settings.setValue(QStringLiteral("timeStamps"), timeStamps_->currentIndex());
    settings.setValue(QStringLiteral("rowSplit"), rowSplit_->currentIndex());
    settings.setValue(QStringLiteral("rowBytes"), rowBytes_->value());
    settings.setValue(QStringLiteral("silenceMs"), silenceMs_->value());
    settings.setValue(QStringLiteral("findKind"), findKind_->currentIndex());
    settings.setValue(QStringLiteral("logFormat"), logFormat_->currentIndex());
    settings.setValue(QStringLiteral("logAppend"), logAppend_->isChecked());
    settings.setValue(QStringLiteral("charDelayMs"), charDelay_->value());
    settings.setValue(QStringLiteral("lineDelayMs"), lineDelay_->value());
    settings.endGroup();
}

}  // namespace dataview
