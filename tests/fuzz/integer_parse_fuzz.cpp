// Whatever is typed into a number box: the parse either gives the number the text means or
// throws ConversionError, and a base it gives shows in the boxes as a text that reads back to it.
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string_view>

#include "monitor/values.h"

namespace {

void check(bool holds) {
    if (!holds) std::abort();
}

// The same rule by other means: the prefixes taken off by hand, the digits read by the
// standard library.
std::optional<int32_t> meaning(std::string_view text) {
    while (!text.empty() && (text[0] == ' ' || text[0] == '\t')) text.remove_prefix(1);
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    int radix = 10;
    if (text.starts_with('$') || text.starts_with('x') || text.starts_with('X')) {
        radix = 16;
        text.remove_prefix(1);
    } else if (text.starts_with("0x") || text.starts_with("0X")) {
        radix = 16;
        text.remove_prefix(2);
    }
    uint64_t magnitude = 0;
    const auto [end, error] =
        std::from_chars(text.data(), text.data() + text.size(), magnitude, radix);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) return {};
    const uint64_t limit = uint64_t{std::numeric_limits<int32_t>::max()} + (negative ? 1 : 0);
    if (magnitude > limit) return {};
    return static_cast<int32_t>(negative ? -static_cast<int64_t>(magnitude)
                                         : static_cast<int64_t>(magnitude));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::optional<int32_t> parsed;
    try {
        parsed = monitor::parseInteger(text);
    } catch (const monitor::ConversionError&) {
    }
    check(parsed == meaning(text));
    if (!parsed) return 0;
    check(monitor::parseInteger(monitor::addressDecimalText(*parsed)) == *parsed);
    // A negative base shows as its 32-bit two's complement, which is beyond the parse's range.
    if (*parsed >= 0) check(monitor::parseInteger(monitor::addressHexText(*parsed)) == *parsed);
    return 0;
}
