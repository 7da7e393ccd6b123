#pragma once

#include <QDialog>

namespace app {

// The driver installation window. It is created hidden at start-up and lives until the
// program ends; its contents are added by the part that owns it.
class TForm5 : public QDialog {
    Q_OBJECT
public:
    explicit TForm5(QWidget* parent = nullptr);
};

}  // namespace app
