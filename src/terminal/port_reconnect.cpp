#include "terminal/port_reconnect.h"

#include <QAction>
#include <QCoreApplication>
#include <QSettings>
#include <algorithm>

#include "ports/port_watcher.h"

namespace terminal {

namespace {

// Beside the three values of the user's key, in the same file, never touching them.
const QString kWaitSetting = QStringLiteral("Ports/WaitForReturn");

QSettings userSettings() {
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Quillmor"),
                     QStringLiteral("user"));
}

}  // namespace

PortReconnect::PortReconnect(ports::PortWatcher& watcher,
                             std::function<bool(const std::string&)> reopen, QObject* parent)
    : QObject(parent),
      watcher_(watcher),
      reopen_(std::move(reopen)),
      waitSwitch_(new QAction(
          QCoreApplication::translate("ports", "Ждать возвращения отключённого порта"), this)) {
    waitSwitch_->setObjectName(QStringLiteral("WaitForPort"));
    waitSwitch_->setCheckable(true);
    waitSwitch_->setChecked(userSettings().value(kWaitSetting, true).toBool());
    // A wait under way goes on until the user closes the port: the switch is for the next loss.
    connect(waitSwitch_, &QAction::toggled, this,
            [](bool on) { userSettings().setValue(kWaitSetting, on); });
    connect(&watcher_, &ports::PortWatcher::changed, this, &PortReconnect::portsChanged);
}

void PortReconnect::opened(const std::string& name) {
    openedName_ = name;
    const auto& list = watcher_.ports();
    const platform::PortInfo* port = platform::findPort(list, name);
    identity_.reset();
    openedByStableName_ = false;
    if (!port) return;
    identity_ = platform::PortIdentity::of(*port);
    openedByStableName_ =
        std::find(port->byId.begin(), port->byId.end(), name) != port->byId.end() ||
        std::find(port->byPath.begin(), port->byPath.end(), name) != port->byPath.end();
}

bool PortReconnect::lost() {
    waiting_ = identity_.has_value() && waitSwitch_->isChecked();
    return waiting_;
}

void PortReconnect::stop() {
    waiting_ = false;
}

// A stable name the user opened is opened again as it stands; a node is not, since the device
// may come back under another one.
void PortReconnect::portsChanged() {
    if (!waiting_) return;
    for (const platform::PortInfo& port : watcher_.ports()) {
        if (!identity_->matches(port)) continue;
        const std::string name = openedByStableName_ && platform::findPort({port}, openedName_)
                                     ? openedName_
                                     : port.stableName();
        if (!reopen_(name)) return;
        waiting_ = false;
        opened(name);
        return;
    }
}

}  // namespace terminal
