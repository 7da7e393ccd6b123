#include "widgets/text_box.h"

#include <QMimeData>

namespace widgets {

bool TextBox::canInsertFromMimeData(const QMimeData* source) const {
    return source && source->hasText();
}

void TextBox::insertFromMimeData(const QMimeData* source) {
    if (!isReadOnly() && canInsertFromMimeData(source)) insertPlainText(source->text());
}

}  // namespace widgets
