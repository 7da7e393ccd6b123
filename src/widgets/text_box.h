#pragma once

#include <QPlainTextEdit>

class QKeyEvent;
class QMimeData;

namespace widgets {

// A plain-text box that takes only the text of what is pasted or dropped into it. Qt 6.4's own
// insert reads the first format on offer without asking whether there is one, and the empty
// clipboard of a fresh X session offers none, which crashes it; a box of plain text has no use
// for the other formats anyway, so an image or another program's data pastes as nothing.
//
// Tab and Shift+Tab move the focus on, as in every other control, so that no box traps the
// keyboard; Ctrl+Tab types a tab character into a box the user may edit.
class TextBox : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit TextBox(QWidget* parent = nullptr);

protected:
    bool canInsertFromMimeData(const QMimeData* source) const override;
    void insertFromMimeData(const QMimeData* source) override;
    void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace widgets
