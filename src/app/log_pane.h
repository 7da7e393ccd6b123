#pragma once

#include <QString>

#include "widgets/bounded_text_view.h"

namespace app {

// One of the main window's two log panes: plain text, navy 8 pt on the window colour, word
// wrap, a vertical scroll bar that is always shown, editable by the user.
//
// The pane holds at most kLogPaneLimit characters. When an append would pass the limit the
// oldest lines are dropped, so the newest record always stands complete. After each append the
// caret ends after the new line, so a selection the user had is gone.
inline constexpr int kLogPaneLimit = 64 * 1024;

class LogPane : public widgets::BoundedTextView {
    Q_OBJECT
public:
    LogPane(const QString& objectName, QWidget* parent);

    void focusPane();
    void clearPane();
};

}  // namespace app
