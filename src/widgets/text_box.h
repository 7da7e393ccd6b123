#pragma once

#include <QPlainTextEdit>

class QMimeData;

namespace widgets {

// A plain-text box that takes only the text of what is pasted or dropped into it. Qt 6.4's own
// insert reads the first format on offer without asking whether there is one, and the empty
// clipboard of a fresh X session offers none, which crashes it; a box of plain text has no use
// for the other formats anyway, so an image or another program's data pastes as nothing.
class TextBox : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit TextBox(QWidget* parent = nullptr) : QPlainTextEdit(parent) {}

protected:
    bool canInsertFromMimeData(const QMimeData* source) const override;
    void insertFromMimeData(const QMimeData* source) override;
};

}  // namespace widgets
