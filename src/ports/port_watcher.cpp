#include "ports/port_watcher.h"

#include <QSocketNotifier>

namespace ports {

PortWatcher::PortWatcher(const platform::CatalogPlaces& places, QObject* parent)
    : QObject(parent), places_(places) {
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
        if (watch_->takeChanges()) refresh();
    });
}

void PortWatcher::refresh() {
    std::vector<platform::PortInfo> now = platform::listPorts(places_);
    if (now == ports_) return;
    ports_ = std::move(now);
    emit changed();
}

}  // namespace ports
