#include "ports/port_watcher.h"

#include <QSocketNotifier>
#include <QTimer>

namespace ports {

namespace {

// One device plugged in or pulled out comes as a burst of events (the USB device, its
// interface, the tty, each of its links): the list is read once the burst is over.
constexpr int kSettleMs = 10;

}  // namespace

PortWatcher::PortWatcher(const platform::CatalogPlaces& places, QObject* parent)
    : QObject(parent), places_(places), settle_(new QTimer(this)) {
    settle_->setSingleShot(true);
    settle_->setTimerType(Qt::PreciseTimer);
    settle_->setInterval(kSettleMs);
    connect(settle_, &QTimer::timeout, this, &PortWatcher::refresh);
    watch();
    ports_ = platform::listPorts(places_);
}

PortWatcher::~PortWatcher() = default;

// Never destroyed: its notifier must not outlive the application object, and the program's
// windows may ask for it until the very end.
PortWatcher& PortWatcher::shared() {
    static PortWatcher* watcher = new PortWatcher;
    return *watcher;
}

void PortWatcher::setPlaces(const platform::CatalogPlaces& places) {
    places_ = places;
    watch();
    refresh();
}

void PortWatcher::watch() {
    delete notifier_;
    notifier_ = nullptr;
    watch_ = std::make_unique<platform::PortWatch>(places_);
    if (watch_->fd() < 0) return;
    notifier_ = new QSocketNotifier(watch_->fd(), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        if (watch_->takeChanges()) settle_->start();
    });
}

void PortWatcher::refresh() {
    std::vector<platform::PortInfo> now = platform::listPorts(places_);
    if (now == ports_) return;
    ports_ = std::move(now);
    emit changed();
}

}  // namespace ports
