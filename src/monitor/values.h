#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

namespace monitor {

// The texts the register views show, and the one rule by which every number box is read.
// The byte formats return a small fixed buffer, so the poll can compare a fresh text with what
// a box shows without allocating.

struct ShortText {
    std::array<char, 4> chars{};
    std::size_t size = 0;
    std::string_view view() const { return {chars.data(), size}; }
};

// "$" and exactly two upper-case hexadecimal digits: $00, $0A, $FF.
ShortText hexByteText(uint8_t value);
// Plain decimal without leading zeros: 0, 7, 255.
ShortText decimalByteText(uint8_t value);

// The bit string: 15 characters, bit 7 first, one separator between neighbours. The poll
// rewrites only the eight bit positions and keeps whatever separators the box holds.
inline constexpr std::size_t kBitStringLength = 15;
inline constexpr std::string_view kInitialBitString = "0 0 0 0 0 0 0 0";
constexpr std::size_t bitStringIndex(int bit) {
    return 14 - 2 * static_cast<std::size_t>(bit);
}
std::string bitString(uint8_t value);

// A port address: "$" and at least three upper-case hexadecimal digits ($040, $3F8, $1000).
// A negative number shows as its 32-bit two's complement, eight digits.
std::string addressHexText(int32_t address);
std::string addressDecimalText(int32_t address);

// The port behind a register: base + offset, wrapped to 16 bits.
constexpr uint16_t registerPort(int32_t base, int offset) {
    return static_cast<uint16_t>(static_cast<uint32_t>(base) + static_cast<uint32_t>(offset));
}
// base + offset as the address captions show it; wraps like 32-bit integer arithmetic instead
// of overflowing.
constexpr int32_t offsetAddress(int32_t base, int offset) {
    return static_cast<int32_t>(static_cast<uint32_t>(base) + static_cast<uint32_t>(offset));
}

// Thrown for a text that is not a number. It carries no message: a command that meets it just
// ends, and the application-wide handler drops it silently.
class ConversionError : public std::exception {
public:
    const char* what() const noexcept override { return "not an integer"; }
};

// Leading blanks, an optional sign, then decimal digits or hexadecimal digits after "$", "0x",
// "0X", "x" or "X"; the value must fit a signed 32-bit integer. Anything else, an empty text
// included, throws ConversionError.
int32_t parseInteger(std::string_view text);

}  // namespace monitor
