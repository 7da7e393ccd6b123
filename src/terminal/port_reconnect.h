#pragma once

#include <QObject>
#include <functional>
#include <optional>
#include <string>

#include "platform/port_catalog.h"

class QAction;

namespace ports {
class PortWatcher;
}

namespace terminal {

// Waits for the page's port to come back after its device went away (an adapter pulled out,
// a card removed), and hands it back to the page to open again. It waits for the same device,
// known by what it is rather than by its node, which another adapter may take meanwhile; it
// looks only when the watcher says the ports changed, so waiting costs nothing.
//
// The user may switch waiting off with its action; the choice is kept in the user's settings
// file, in a group of its own.
class PortReconnect : public QObject {
    Q_OBJECT
public:
    // reopen opens the port by the name given and says whether it is open again.
    PortReconnect(ports::PortWatcher& watcher, std::function<bool(const std::string&)> reopen,
                  QObject* parent);

    // The check item "wait for the port to come back".
    QAction* waitSwitch() const { return waitSwitch_; }

    // The port was opened by this name: the device it names is the one to wait for later. A
    // name that is no device of the machine's list (a simulated or a network port) is never
    // waited for.
    void opened(const std::string& name);
    // The open port's device is gone. True when waiting has begun.
    bool lost();
    // The user closed the port: no more waiting.
    void stop();
    bool waiting() const { return waiting_; }

private:
    void portsChanged();

    ports::PortWatcher& watcher_;
    std::function<bool(const std::string&)> reopen_;
    QAction* waitSwitch_;
    std::string openedName_;
    bool openedByStableName_ = false;
    std::optional<platform::PortIdentity> identity_;
    bool waiting_ = false;
};

}  // namespace terminal
