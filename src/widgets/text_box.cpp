#include "widgets/text_box.h"

#include <QKeyEvent>
#include <QMimeData>

namespace widgets {

TextBox::TextBox(QWidget* parent) : QPlainTextEdit(parent) {
    setTabChangesFocus(true);
}

bool TextBox::canInsertFromMimeData(const QMimeData* source) const {
    return source && source->hasText();
}

void TextBox::insertFromMimeData(const QMimeData* source) {
    if (!isReadOnly() && canInsertFromMimeData(source)) insertPlainText(source->text());
}

void TextBox::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Tab && event->modifiers() == Qt::ControlModifier && !isReadOnly()) {
        insertPlainText(QStringLiteral("\t"));
        event->accept();
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

}  // namespace widgets
