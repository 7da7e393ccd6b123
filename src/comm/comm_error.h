#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace comm {

// The serial component's one error class. The message is the component's text followed by
// " (Error: N) " with the code: one blank before the parenthesis and one after it, so the
// text the user sees is always "<text> (Error: N) ". ErrorCode is the system's error number
// when a system call failed, or -1 when one of the component's own checks failed.
class ECommError : public std::runtime_error {
public:
    ECommError(const std::string& text, int32_t errorCode)
        : std::runtime_error(text + " (Error: " + std::to_string(errorCode) + ") "),
          ErrorCode(errorCode) {}

    int32_t ErrorCode;
};

}  // namespace comm
