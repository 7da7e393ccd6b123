#pragma once

#include <QObject>
#include <QPointer>

class QWidget;

namespace logs {

// The window's menu keys come before its controls: a key that is the shortcut of an enabled
// action of the window runs that action even when the focused edit box would take the key
// itself (Ctrl+X closing a window instead of cutting, Ctrl+Del not deleting a word). Keys no
// enabled action claims still reach the control as usual.
class MenuKeysFirst : public QObject {
    Q_OBJECT
public:
    // Watches the key events of every control of `window` while both exist.
    explicit MenuKeysFirst(QWidget& window);

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void followFocus(QWidget* old, QWidget* now);

    QPointer<QWidget> window_;
};

}  // namespace logs
