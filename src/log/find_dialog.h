#pragma once

#include <QDialog>
#include <QString>

class QLineEdit;
class QPushButton;

namespace logs {

// The modeless find dialog in the manner of the system's own: the text to find, "whole word"
// and (where shown) "match case" boxes, an up/down direction with down chosen, and the buttons
// "find next" and "cancel". Every press of "find next" emits find(); the searches of this
// program read only the text, never the boxes or the direction. The dialog keeps its text for
// its whole life.
class FindDialog : public QDialog {
    Q_OBJECT
public:
    FindDialog(bool matchCaseShown, QWidget* parent);

    QString findText() const;
    void setFindText(const QString& text);
    // Shows the dialog, or brings it to the front when it is shown already.
    void execute();
    // Presses "find next"; a click does the same.
    void findNext();

signals:
    void find();

private:
    QLineEdit* text_ = nullptr;
    QPushButton* findNext_ = nullptr;
};

}  // namespace logs
