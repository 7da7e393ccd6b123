#pragma once

#include <QString>
#include <QStringList>

#include "widgets/text_box.h"

namespace app {

// One of the main window's two log panes: plain text, navy 8 pt on the window colour, word
// wrap, a vertical scroll bar that is always shown, editable by the user.
//
// The pane holds at most kLogPaneLimit characters. When an append would pass the limit the
// oldest lines are dropped, so the newest record always stands complete.
inline constexpr int kLogPaneLimit = 64 * 1024;

class LogPane : public widgets::TextBox {
    Q_OBJECT
public:
    LogPane(const QString& objectName, QWidget* parent);

    // The text becomes a new last line (an empty text an empty line), with no line break after
    // it; the caret ends after it, so a selection the user had is gone.
    void appendLine(const QString& text);
    // The lines in order, as one insert and one trim: the same text as appending them one by
    // one, for a fraction of the work.
    void appendLines(const QStringList& lines);
    void focusPane();
    void clearPane();

    // Characters held, line breaks included.
    int textLength() const;

private:
    // Whether the next line must be put after a line break.
    bool holdsLines() const;
    void dropOldestLines();

    // The pane holds one empty line and nothing else, which its document cannot tell from no
    // line at all.
    bool appendedEmptyLine_ = false;
};

}  // namespace app
