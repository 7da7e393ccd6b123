#pragma once

#include <QDialog>

namespace app {

// The about window and the driver installation window. They are created hidden at start-up
// and live until the program ends; their contents are added by the parts that own them.
class TForm3 : public QDialog {
    Q_OBJECT
public:
    explicit TForm3(QWidget* parent = nullptr);
};

class TForm5 : public QDialog {
    Q_OBJECT
public:
    explicit TForm5(QWidget* parent = nullptr);
};

}  // namespace app
