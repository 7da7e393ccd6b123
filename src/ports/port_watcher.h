#pragma once

#include <QObject>
#include <memory>
#include <vector>

#include "platform/port_catalog.h"

class QSocketNotifier;
class QTimer;

namespace ports {

// The list of the machine's serial ports, kept up to date on the GUI thread: the catalog's
// watch is a descriptor that a QSocketNotifier watches, so nothing runs while nothing changes.
// changed() comes after the list has been read again and differs from the one before.
class PortWatcher : public QObject {
    Q_OBJECT
public:
    explicit PortWatcher(const platform::CatalogPlaces& places = {}, QObject* parent = nullptr);
    ~PortWatcher() override;

    // The one the program's windows share.
    static PortWatcher& shared();
    // Looks somewhere else from now on (tests point it at a folder of their own).
    void setPlaces(const platform::CatalogPlaces& places);

    const std::vector<platform::PortInfo>& ports() const { return ports_; }
    // Reads the list again now; changed() when it differs.
    void refresh();

signals:
    void changed();

private:
    void watch();

    platform::CatalogPlaces places_;
    std::unique_ptr<platform::PortWatch> watch_;
    QSocketNotifier* notifier_ = nullptr;
    QTimer* settle_ = nullptr;
    std::vector<platform::PortInfo> ports_;
};

}  // namespace ports
