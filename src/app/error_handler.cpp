#include "app/error_handler.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <utility>

#include "comm/comm_error.h"

namespace app {

widgets::ErrorHandler makeErrorHandler(std::function<void(const QString& text)> showMessage) {
    return [showMessage = std::move(showMessage)](std::exception_ptr error) {
        try {
            std::rethrow_exception(error);
        } catch (const comm::ECommError& commError) {
            showMessage(QStringLiteral("Ошибка: ") + QString::fromStdString(commError.what()));
        } catch (...) {
        }
    };
}

void showErrorBox(const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, QGuiApplication::applicationDisplayName(), text,
                    QMessageBox::Ok);
    box.exec();
}

}  // namespace app
