#include "widgets/command.h"

#include <utility>

namespace widgets {

namespace {
ErrorHandler& installedHandler() {
    static ErrorHandler handler;
    return handler;
}
}  // namespace

void setErrorHandler(ErrorHandler handler) {
    installedHandler() = std::move(handler);
}

void runCommand(const std::function<void()>& command) {
    try {
        command();
    } catch (...) {
        if (const ErrorHandler& handler = installedHandler()) handler(std::current_exception());
    }
}

}  // namespace widgets
