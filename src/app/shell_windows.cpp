#include "app/shell_windows.h"

namespace app {

// The leading blanks push the title towards the middle of the title bar.
TForm5::TForm5(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("Form5"));
    setWindowTitle(QString(46, QLatin1Char(' ')) + QStringLiteral("Установка драйвера"));
}

}  // namespace app
