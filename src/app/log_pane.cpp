#include "app/log_pane.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

namespace app {

LogPane::LogPane(const QString& objectName, QWidget* parent) : widgets::TextBox(parent) {
    setObjectName(objectName);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // Each append would stay on the undo stack for as long as the program runs.
    setUndoRedoEnabled(false);
    QFont paneFont = font();
    paneFont.setPointSize(8);
    setFont(paneFont);
    QPalette colours = palette();
    colours.setColor(QPalette::Base, colours.color(QPalette::Window));
    colours.setColor(QPalette::Text, QColor(0, 0, 128));
    setPalette(colours);
}

// Every appended line ends with a line break: the caret then rests at the start of the empty
// last line, and an empty record is just a line break.
void LogPane::appendLine(const QString& text) {
    appendLines(QStringList{text});
}

void LogPane::appendLines(const QStringList& lines) {
    if (lines.isEmpty()) return;
    QString text;
    qsizetype size = 1;
    for (const QString& line : lines) size += line.size() + 1;
    text.reserve(size);
    if (!document()->lastBlock().text().isEmpty()) text += QLatin1Char('\n');
    for (const QString& line : lines) {
        text += line;
        text += QLatin1Char('\n');
    }
    // Insert and trim as one edit, so the pane lays itself out once for both.
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    cursor.beginEditBlock();
    cursor.insertText(text);
    dropOldestLines();
    cursor.endEditBlock();
    cursor.movePosition(QTextCursor::End);
    setTextCursor(cursor);
    ensureCursorVisible();
}

void LogPane::focusPane() {
    setFocus(Qt::OtherFocusReason);
}

void LogPane::clearPane() {
    clear();
}

int LogPane::textLength() const {
    return document()->characterCount() - 1;
}

// Drops whole lines from the top until the text fits again. A single line longer than the
// limit is kept whole rather than cut.
void LogPane::dropOldestLines() {
    int excess = textLength() - kLogPaneLimit;
    if (excess <= 0) return;
    // The document ends with an empty block after the newest line's break; that line stays.
    const QTextBlock newest = document()->lastBlock().previous();
    int dropTo = 0;
    for (QTextBlock block = document()->firstBlock();
         block.isValid() && block != newest && excess > 0; block = block.next()) {
        dropTo = block.position() + block.length();
        excess -= block.length();
    }
    if (dropTo == 0) return;
    QTextCursor cursor(document());
    cursor.setPosition(dropTo, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
}

}  // namespace app
