#pragma once

#include <QDialog>

class QLabel;
class QPixmap;
namespace widgets {
class TextBox;
}

namespace help {

// The about window: icon and title pictures, the product name and the about text, closed by
// its one button. The text may be edited while the program runs; nothing is saved.
class TForm3 : public QDialog {
    Q_OBJECT
public:
    explicit TForm3(QWidget* parent = nullptr);

    // The icon-sized picture and the title picture at the top.
    void setPictures(const QPixmap& icon, const QPixmap& title);

private:
    QLabel* Image1 = nullptr;
    QLabel* Image2 = nullptr;
    widgets::TextBox* RichEdit1 = nullptr;
};

}  // namespace help
