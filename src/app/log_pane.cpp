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
    // A storm lays out dozens of new lines a tick; the pane's plain Latin and Cyrillic text looks
    // the same without the shaping pass, which is most of that work.
    paneFont.setStyleStrategy(QFont::PreferNoShaping);
    setFont(paneFont);
    QPalette colours = palette();
    colours.setColor(QPalette::Base, colours.color(QPalette::Window));
    colours.setColor(QPalette::Text, QColor(0, 0, 128));
    setPalette(colours);
    // An empty document is both no line and one empty line; only an append makes it the latter,
    // and any other change (a clear, the user's typing) ends it.
    connect(document(), &QTextDocument::contentsChanged, this,
            [this] { appendedEmptyLine_ = false; });
}

void LogPane::appendLine(const QString& text) {
    appendLines(QStringList{text});
}

// Lines are separated, not ended, by line breaks: the pane shows no empty line after the newest
// one, and its text is exactly the lines of the log file.
void LogPane::appendLines(const QStringList& lines) {
    if (lines.isEmpty()) return;
    const QString joined = lines.join(QLatin1Char('\n'));
    const QString text = holdsLines() ? QLatin1Char('\n') + joined : joined;
    // Insert and trim as two edits: as one, the change would span the whole text and the pane
    // would lay all of it out again. Nothing is painted in between, so the user sees one update.
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(text);
    dropOldestLines();
    appendedEmptyLine_ = document()->isEmpty();
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

bool LogPane::holdsLines() const {
    return appendedEmptyLine_ || !document()->isEmpty();
}

int LogPane::textLength() const {
    return document()->characterCount() - 1;
}

// Drops whole lines from the top until the text fits again. A single line longer than the
// limit is kept whole rather than cut.
void LogPane::dropOldestLines() {
    int excess = textLength() - kLogPaneLimit;
    if (excess <= 0) return;
    const QTextBlock newest = document()->lastBlock();
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
