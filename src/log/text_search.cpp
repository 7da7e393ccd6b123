#include "log/text_search.h"

#include <QPlainTextEdit>
#include <QTextCursor>

namespace logs {

bool findForward(QPlainTextEdit& box, const QString& what) {
    if (what.isEmpty()) return false;
    QTextCursor cursor = box.textCursor();
    const int from = cursor.hasSelection() ? cursor.selectionEnd() : 0;
    // Positions in the plain text and in the document agree: a line break is one character.
    const qsizetype found = box.toPlainText().indexOf(what, from, Qt::CaseSensitive);
    if (found < 0) return false;
    box.setFocus();
    cursor.setPosition(static_cast<int>(found));
    cursor.setPosition(static_cast<int>(found + what.size()), QTextCursor::KeepAnchor);
    box.setTextCursor(cursor);
    return true;
}

}  // namespace logs
