#include "app/error_handler.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <stdexcept>

#include "comm/comm_error.h"

namespace {

TEST(CommError, MessageIsTheTextThenTheCodeBetweenBlanks) {
    const comm::ECommError error("Port already assigned (open)", -1);
    EXPECT_STREQ(error.what(), "Port already assigned (open) (Error: -1) ");
    EXPECT_EQ(error.ErrorCode, -1);
    EXPECT_STREQ(comm::ECommError("Error accessing specified device", 5).what(),
                 "Error accessing specified device (Error: 5) ");
}

class ErrorHandler : public ::testing::Test {
protected:
    void handle(std::exception_ptr error) {
        app::makeErrorHandler([this](const QString& text) { shown << text; })(error);
    }
    QStringList shown;
};

TEST_F(ErrorHandler, CommErrorIsShownAfterTheErrorWord) {
    handle(std::make_exception_ptr(comm::ECommError("Write error", 995)));
    EXPECT_EQ(shown, QStringList({"Ошибка: Write error (Error: 995) "}));
}

TEST_F(ErrorHandler, EveryOtherErrorIsDroppedSilently) {
    handle(std::make_exception_ptr(std::runtime_error("RichEdit line insertion error")));
    handle(std::make_exception_ptr(42));
    EXPECT_TRUE(shown.isEmpty());
}

TEST(ErrorBox, IsAPlainModalBoxWithTheApplicationTitleAndOneOkButton) {
    QCoreApplication::setApplicationName(QStringLiteral("QUILLMOR"));
    QString caption, text;
    int buttons = -1;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        caption = box->windowTitle();
        text = box->text();
        buttons = static_cast<int>(box->buttons().size());
        EXPECT_EQ(box->icon(), QMessageBox::NoIcon);
        box->button(QMessageBox::Ok)->click();
    });
    app::showErrorBox(QStringLiteral("Ошибка: Read error (Error: 6) "));
    EXPECT_EQ(caption, "QUILLMOR");
    EXPECT_EQ(text, "Ошибка: Read error (Error: 6) ");
    EXPECT_EQ(buttons, 1);
}

}  // namespace
