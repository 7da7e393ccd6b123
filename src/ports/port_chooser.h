#pragma once

#include <QToolButton>
#include <functional>

#include "platform/port_catalog.h"

class QAction;
class QMenu;

namespace ports {

class PortWatcher;

// A small button whose menu lists the watcher's ports, one line of description each, and
// follows the list as devices come and go. Picking a port hands it to the owner; which ports
// are offered is the owner's choice too (every port for the terminal, the UARTs for the
// register monitor). Actions added with addFixedAction() stay below the ports.
class PortChooser : public QToolButton {
    Q_OBJECT
public:
    using Filter = std::function<bool(const platform::PortInfo&)>;
    using Picked = std::function<void(const platform::PortInfo&)>;

    PortChooser(PortWatcher& watcher, Filter offered, Picked picked, QWidget* parent);

    void addFixedAction(QAction* action);

private:
    void rebuild();

    PortWatcher& watcher_;
    Filter offered_;
    Picked picked_;
    QMenu* menu_;
    QAction* fixedStart_;
};

}  // namespace ports
