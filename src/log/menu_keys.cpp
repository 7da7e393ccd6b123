#include "log/menu_keys.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QWidget>

namespace logs {

MenuKeysFirst::MenuKeysFirst(QWidget& window) : QObject(&window), window_(&window) {
    qApp->installEventFilter(this);
}

MenuKeysFirst::~MenuKeysFirst() {
    qApp->removeEventFilter(this);
}

bool MenuKeysFirst::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::ShortcutOverride || !watched->isWidgetType() || !window_)
        return false;
    if (static_cast<QWidget*>(watched)->window() != window_) return false;
    const QKeySequence key(static_cast<QKeyEvent*>(event)->keyCombination());
    // An action that is in no widget has no live shortcut, so it claims no key.
    for (const QAction* action : window_->findChildren<QAction*>()) {
        if (action->isEnabled() && !action->associatedObjects().isEmpty() &&
            action->shortcuts().contains(key))
            // Left unaccepted and kept from the control, the key goes to the shortcuts.
            return true;
    }
    return false;
}

}  // namespace logs
