#pragma once

#include <QString>
#include <functional>

#include "widgets/command.h"

namespace app {

// The application-wide handler for an error that ends a command: the serial component's
// ECommError is shown as "Ошибка: " followed by its message, through showMessage; every other
// error is dropped without a word.
widgets::ErrorHandler makeErrorHandler(std::function<void(const QString& text)> showMessage);

// The plain modal message box: the application title as caption, the text, one OK button.
void showErrorBox(const QString& text);

}  // namespace app
