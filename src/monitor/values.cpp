#include "monitor/values.h"

#include <cstdio>
#include <limits>

namespace monitor {

namespace {
constexpr char kHexDigits[] = "0123456789ABCDEF";

int digitValue(char c, int radix) {
    int value = -1;
    if (c >= '0' && c <= '9') value = c - '0';
    if (c >= 'A' && c <= 'F') value = c - 'A' + 10;
    if (c >= 'a' && c <= 'f') value = c - 'a' + 10;
    return value < radix ? value : -1;
}
}  // namespace

ShortText hexByteText(uint8_t value) {
    ShortText text;
    text.chars = {'$', kHexDigits[value >> 4], kHexDigits[value & 0xF], '\0'};
    text.size = 3;
    return text;
}

ShortText decimalByteText(uint8_t value) {
    ShortText text;
    if (value >= 100) text.chars[text.size++] = static_cast<char>('0' + value / 100);
    if (value >= 10) text.chars[text.size++] = static_cast<char>('0' + value / 10 % 10);
    text.chars[text.size++] = static_cast<char>('0' + value % 10);
    return text;
}

std::string bitString(uint8_t value) {
    std::string text(kInitialBitString);
    for (int bit = 0; bit < 8; ++bit) text[bitStringIndex(bit)] = (value >> bit & 1) ? '1' : '0';
    return text;
}

std::string addressHexText(int32_t address) {
    char buffer[12];
    std::snprintf(buffer, sizeof buffer, "$%03X", static_cast<unsigned>(address));
    return buffer;
}

std::string addressDecimalText(int32_t address) {
    return std::to_string(address);
}

int32_t parseInteger(std::string_view text) {
    std::size_t pos = 0;
    while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) negative = text[pos++] == '-';
    int radix = 10;
    if (pos < text.size() && (text[pos] == '$' || text[pos] == 'x' || text[pos] == 'X')) {
        radix = 16;
        ++pos;
    } else if (pos + 1 < text.size() && text[pos] == '0' &&
               (text[pos + 1] == 'x' || text[pos + 1] == 'X')) {
        radix = 16;
        pos += 2;
    }
    if (pos == text.size()) throw ConversionError();

    // The magnitude may reach 2^31 only for a negative number.
    const int64_t limit = int64_t{std::numeric_limits<int32_t>::max()} + (negative ? 1 : 0);
    int64_t magnitude = 0;
    for (; pos < text.size(); ++pos) {
        const int digit = digitValue(text[pos], radix);
        if (digit < 0) throw ConversionError();
        magnitude = magnitude * radix + digit;
        if (magnitude > limit) throw ConversionError();
    }
    return static_cast<int32_t>(negative ? -magnitude : magnitude);
}

}  // namespace monitor
