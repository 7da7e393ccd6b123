#include "app/log_pane.h"

namespace app {

LogPane::LogPane(const QString& objectName, QWidget* parent)
    : widgets::BoundedTextView({{widgets::TextBound::Unit::Characters, kLogPaneLimit}, true, false},
                               parent) {
    setObjectName(objectName);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
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
}

void LogPane::focusPane() {
    setFocus(Qt::OtherFocusReason);
}

void LogPane::clearPane() {
    clear();
}

}  // namespace app
