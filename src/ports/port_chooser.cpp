#include "ports/port_chooser.h"

#include <QCoreApplication>
#include <QMenu>

#include "ports/port_texts.h"
#include "ports/port_watcher.h"

namespace ports {

PortChooser::PortChooser(PortWatcher& watcher, Filter offered, Picked picked, QWidget* parent)
    : QToolButton(parent),
      watcher_(watcher),
      offered_(std::move(offered)),
      picked_(std::move(picked)),
      menu_(new QMenu(this)),
      fixedStart_(menu_->addSeparator()) {
    setText(QStringLiteral("…"));
    setMenu(menu_);
    setPopupMode(QToolButton::InstantPopup);
    connect(&watcher_, &PortWatcher::changed, this, &PortChooser::rebuild);
    // Who has a port open changes without any event to tell; it is looked at when the user
    // looks.
    connect(menu_, &QMenu::aboutToShow, &watcher_, &PortWatcher::refresh);
    rebuild();
}

void PortChooser::addFixedAction(QAction* action) {
    menu_->addAction(action);
}

// The ports' actions are made anew; a menu that is open shows the new list at once.
void PortChooser::rebuild() {
    for (QAction* action : menu_->actions()) {
        if (action == fixedStart_) break;
        menu_->removeAction(action);
        action->deleteLater();
    }
    int offered = 0;
    for (const platform::PortInfo& port : watcher_.ports()) {
        if (!offered_(port)) continue;
        auto* action = new QAction(portLine(port), menu_);
        // The port as it was listed; should it go before the user picks it, opening it fails
        // the way any missing port does.
        connect(action, &QAction::triggered, this, [this, port] { picked_(port); });
        menu_->insertAction(fixedStart_, action);
        ++offered;
    }
    if (offered == 0) {
        auto* none = new QAction(QCoreApplication::translate("ports", "Порты не найдены"), menu_);
        none->setEnabled(false);
        menu_->insertAction(fixedStart_, none);
    }
}

}  // namespace ports
