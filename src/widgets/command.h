#pragma once

#include <exception>
#include <functional>

namespace widgets {

// Every command handler of the windows (button clicks, menu items, change and timer handlers)
// runs through runCommand(), so an error never crosses Qt's event loop: it ends the command
// where it was raised and goes to the one application-wide handler. Until a handler is
// installed every error is dropped silently.
using ErrorHandler = std::function<void(std::exception_ptr)>;

void setErrorHandler(ErrorHandler handler);
void runCommand(const std::function<void()>& command);

}  // namespace widgets
