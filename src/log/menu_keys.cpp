#include "log/menu_keys.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QWidget>

namespace logs {

// Key events go to the focused control, or to the window when none has the focus, so those two
// are all it watches: a filter on the whole application would also see each of the poll's
// thousand ticks a second.
MenuKeysFirst::MenuKeysFirst(QWidget& window) : QObject(&window), window_(&window) {
    window.installEventFilter(this);
    connect(qApp, &QApplication::focusChanged, this, &MenuKeysFirst::followFocus);
    followFocus(nullptr, QApplication::focusWidget());
}

void MenuKeysFirst::followFocus(QWidget* old, QWidget* now) {
    if (old && old != window_) old->removeEventFilter(this);
    if (now && now->window() == window_) now->installEventFilter(this);
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
