#pragma once

#include <QDialog>

class QPlainTextEdit;

namespace help {

// The about window: icon and title pictures, the product name and the about text, closed by
// its one button. The text may be edited while the program runs; nothing is saved.
class TForm3 : public QDialog {
    Q_OBJECT
public:
    explicit TForm3(QWidget* parent = nullptr);

private:
    QPlainTextEdit* RichEdit1 = nullptr;
};

}  // namespace help
