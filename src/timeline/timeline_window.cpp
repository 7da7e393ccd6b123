#include "timeline/timeline_window.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressDialog>
#include <QSaveFile>
#include <QSplitter>
#include <QTimer>
#include <QToolButton>

#include "timeline/recording.h"
#include "timeline/trace_view.h"

namespace timeline {

namespace {

constexpr int kFrameMs = 50;
constexpr size_t kExportSlice = 20'000;  // records per slice between looks at the event loop
const QString kGroup = QStringLiteral("Timeline");

QToolButton* toolButton(QWidget* parent, const QString& name, const QString& text,
                        const QString& tip, bool checkable = false) {
    auto* button = new QToolButton(parent);
    button->setObjectName(name);
    button->setText(text);
    button->setToolTip(tip);
    button->setCheckable(checkable);
    return button;
}

}  // namespace

TimelineWindow::TimelineWindow(Recording& recording, std::string programVersion, QWidget* parent)
    : QWidget(parent, Qt::Window),
      recording_(recording),
      programVersion_(std::move(programVersion)) {
    setObjectName(QStringLiteral("TimelineWindow"));
    setWindowTitle(tr("Временная диаграмма"));
    resize(1200, 640);

    auto* layout = new QVBoxLayout(this);
    auto* bar = new QHBoxLayout;
    layout->addLayout(bar);
    pause_ = toolButton(this, QStringLiteral("TimelinePause"), tr("Пауза"),
                        tr("Остановить запись (история сохраняется)"), true);
    auto* clear =
        toolButton(this, QStringLiteral("TimelineClear"), tr("Очистить"), tr("Забыть запись"));
    follow_ = toolButton(this, QStringLiteral("TimelineFollow"), tr("Следить"),
                         tr("Показывать новейшие записи (End)"), true);
    follow_->setChecked(true);
    auto* zoomIn = toolButton(this, QStringLiteral("TimelineZoomIn"), QStringLiteral("+"),
                              tr("Крупнее (+, Ctrl+колесо)"));
    auto* zoomOut = toolButton(this, QStringLiteral("TimelineZoomOut"), QStringLiteral("-"),
                               tr("Мельче (-, Ctrl+колесо)"));
    auto* all =
        toolButton(this, QStringLiteral("TimelineAll"), tr("Всё"), tr("Показать всю запись"));
    auto* saveVcd = toolButton(this, QStringLiteral("TimelineSaveVcd"), tr("Сохранить VCD..."),
                               tr("Для PulseView (sigrok) и GTKWave"));
    auto* saveCsv = toolButton(this, QStringLiteral("TimelineSaveCsv"), tr("Сохранить CSV..."),
                               tr("Изменения: время, дорожка, было, стало"));
    bitsOnly_ = new QCheckBox(tr("только биты (PulseView)"), this);
    bitsOnly_->setObjectName(QStringLiteral("TimelineBitsOnly"));
    bitsOnly_->setToolTip(
        tr("Байтовые дорожки записываются по битам: PulseView читает только "
           "однобитные сигналы"));
    for (QWidget* w : std::initializer_list<QWidget*>{pause_, clear, follow_, zoomIn, zoomOut, all,
                                                      saveVcd, saveCsv, bitsOnly_})
        bar->addWidget(w);
    bar->addStretch();

    auto* splitter = new QSplitter(this);
    laneList_ = new QListWidget(splitter);
    laneList_->setObjectName(QStringLiteral("TimelineLanes"));
    laneList_->setDragDropMode(QAbstractItemView::InternalMove);
    laneList_->setToolTip(tr("Отметьте дорожки; порядок меняется перетаскиванием"));
    view_ = new TraceView(recording_.recorder(), splitter);
    splitter->addWidget(laneList_);
    splitter->addWidget(view_);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({170, 1000});
    layout->addWidget(splitter, 1);
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("TimelineStatus"));
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(status_);

    uartLanes_ = recording_.uartBlock();
    buildLaneList();
    setLaneNames(defaultLaneNames());

    connect(pause_, &QToolButton::toggled, this,
            [this](bool paused) { recording_.recorder().setPaused(paused); });
    connect(clear, &QToolButton::clicked, this, [this] {
        recording_.recorder().clear();
        view_->redrawAll();
        view_->setMarker(0, std::nullopt);
        view_->setMarker(1, std::nullopt);
        dirty_ = true;
    });
    connect(follow_, &QToolButton::toggled, view_, &TraceView::setFollow);
    connect(zoomIn, &QToolButton::clicked, this, [this] { view_->zoomCentred(0.5); });
    connect(zoomOut, &QToolButton::clicked, this, [this] { view_->zoomCentred(2.0); });
    connect(all, &QToolButton::clicked, this, [this] {
        view_->setFollow(false);
        view_->showAll();
    });
    connect(saveVcd, &QToolButton::clicked, this, [this] { saveClicked(true); });
    connect(saveCsv, &QToolButton::clicked, this, [this] { saveClicked(false); });
    connect(laneList_->model(), &QAbstractItemModel::rowsMoved, this, &TimelineWindow::lanesEdited);
    connect(laneList_, &QListWidget::itemChanged, this, &TimelineWindow::lanesEdited);
    connect(view_, &TraceView::viewChanged, this, [this] {
        follow_->setChecked(view_->follow());
        updateStatus();
    });
    connect(&recording_, &Recording::recorded, this, [this] { dirty_ = true; });

    frame_ = new QTimer(this);
    frame_->setInterval(kFrameMs);
    connect(frame_, &QTimer::timeout, this, &TimelineWindow::refresh);
    frame_->start();
}

// Every lane of the watched block's kind, ticked ones first in their order.
void TimelineWindow::buildLaneList() {
    const QSignalBlocker quiet(laneList_);
    laneList_->clear();
    for (const Lane& lane : allLanes(uartLanes_)) {
        auto* item = new QListWidgetItem(QString::fromStdString(lane.name), laneList_);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable | Qt::ItemIsDragEnabled);
        item->setFlags(item->flags() & ~Qt::ItemIsDropEnabled);
        item->setCheckState(Qt::Unchecked);
    }
}

std::vector<std::string> TimelineWindow::laneNames() const {
    std::vector<std::string> names;
    for (const Lane& lane : view_->lanes()) names.push_back(lane.name);
    return names;
}

void TimelineWindow::setLaneNames(const std::vector<std::string>& names) {
    {
        const QSignalBlocker quiet(laneList_);
        int row = 0;
        for (const std::string& name : names) {
            const QList<QListWidgetItem*> found =
                laneList_->findItems(QString::fromStdString(name), Qt::MatchExactly);
            if (found.isEmpty()) continue;
            QListWidgetItem* item = laneList_->takeItem(laneList_->row(found.front()));
            laneList_->insertItem(row++, item);
            item->setCheckState(Qt::Checked);
        }
        for (int i = row; i < laneList_->count(); ++i)
            laneList_->item(i)->setCheckState(Qt::Unchecked);
    }
    lanesEdited();
}

void TimelineWindow::lanesEdited() {
    std::vector<std::string> names;
    for (int i = 0; i < laneList_->count(); ++i)
        if (laneList_->item(i)->checkState() == Qt::Checked)
            names.push_back(laneList_->item(i)->text().toStdString());
    view_->setLanes(lanesNamed(names, uartLanes_));
    dirty_ = true;
}

void TimelineWindow::refresh() {
    if (!isVisible() || exporting_) return;
    // The block's kind decides the lanes' names: a preset of another kind brings its own list.
    if (recording_.uartBlock() != uartLanes_) {
        const std::vector<std::string> shown = laneNames();
        uartLanes_ = recording_.uartBlock();
        buildLaneList();
        setLaneNames(shown);
    }
    recording_.pullTraffic();
    if (!dirty_ && !view_->follow()) return;
    // A frame that took long to draw (an hour of a storm on screen) waits longer for the next,
    // so drawing never takes more than a fifth of the main thread from the poll.
    if (sinceFrame_.isValid() && sinceFrame_.elapsed() < 4 * lastFrameMs_) return;
    dirty_ = false;
    if (view_->follow()) view_->showNewest();
    QElapsedTimer drawing;
    drawing.start();
    view_->repaint();
    lastFrameMs_ = drawing.elapsed();
    sinceFrame_.start();
    updateStatus();
}

void TimelineWindow::updateStatus() {
    QStringList parts;
    const auto a = view_->marker(0);
    const auto b = view_->marker(1);
    if (a) parts << QStringLiteral("A: ") + TraceView::timeText(*a);
    if (b) parts << QStringLiteral("B: ") + TraceView::timeText(*b);
    if (a && b) parts << QStringLiteral("B-A: ") + TraceView::durationText(*b - *a);
    if (const auto cursor = view_->cursorTime())
        parts << tr("курсор: ") + TraceView::timeText(*cursor);
    const Recorder& recorder = recording_.recorder();
    parts << tr("запись: %1 МБ").arg(recorder.usedBytes() / 1e6, 0, 'f', 1);
    if (recorder.paused()) parts << tr("пауза");
    parts << tr("точность регистров 1 мс (такт опроса)");
    // A label given new text lays the window out again: only when the text changed.
    const QString text = parts.join(QStringLiteral("   "));
    if (status_->text() != text) status_->setText(text);
}

void TimelineWindow::saveClicked(bool vcd) {
    const QString path = QFileDialog::getSaveFileName(
        this, vcd ? tr("Сохранить VCD") : tr("Сохранить CSV"), QString(),
        vcd ? tr("Value Change Dump (*.vcd)") : tr("CSV (*.csv)"));
    if (path.isEmpty()) return;
    const QString error = saveTo(path, vcd);
    if (!error.isEmpty())
        QMessageBox::warning(this, windowTitle(),
                             tr("Не удалось сохранить %1:\n%2").arg(path, error));
}

QString TimelineWindow::saveTo(const QString& path, bool vcd) {
    recording_.pullTraffic();
    const std::vector<Lane> lanes = view_->lanes().empty() ? allLanes(uartLanes_) : view_->lanes();
    std::unique_ptr<Export> out =
        vcd ? vcdExport(recording_.recorder(), lanes,
                        {.bitsOnly = bitsOnly_->isChecked(), .programVersion = programVersion_})
            : csvExport(recording_.recorder(), lanes);
    // Written beside the chosen name and renamed over it once whole: a full disk or a refused
    // write leaves no half file under that name.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return file.errorString();
    QProgressDialog progress(tr("Сохранение..."), tr("Отмена"), 0, 1000, this);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(500);
    exporting_ = true;
    QElapsedTimer slice;
    QString error;
    while (!out->done()) {
        slice.start();
        std::string text;
        while (!out->done() && slice.elapsed() < 50) text += out->next(kExportSlice);
        if (file.write(text.data(), static_cast<qint64>(text.size())) !=
            static_cast<qint64>(text.size())) {
            error = file.errorString();
            break;
        }
        progress.setValue(static_cast<int>(out->progress() * 1000));
        QCoreApplication::processEvents();
        if (progress.wasCanceled()) break;
    }
    exporting_ = false;
    if (!error.isEmpty() || progress.wasCanceled()) {
        file.cancelWriting();
        return error;
    }
    if (!file.commit()) return file.errorString();
    return {};
}

void TimelineWindow::loadSettings(QSettings& settings) {
    settings.beginGroup(kGroup);
    if (settings.contains(QStringLiteral("lanes"))) {
        std::vector<std::string> names;
        for (const QString& name : settings.value(QStringLiteral("lanes")).toStringList())
            names.push_back(name.toStdString());
        setLaneNames(names);
    }
    restoreGeometry(settings.value(QStringLiteral("geometry")).toByteArray());
    settings.endGroup();
}

void TimelineWindow::saveSettings(QSettings& settings) const {
    settings.beginGroup(kGroup);
    QStringList names;
    for (const std::string& name : laneNames()) names << QString::fromStdString(name);
    settings.setValue(QStringLiteral("lanes"), names);
    settings.setValue(QStringLiteral("geometry"), saveGeometry());
    settings.endGroup();
}

}  // namespace timeline
