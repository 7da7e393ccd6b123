#include "monitor/values.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <string>
#include <string_view>
#include <utility>

namespace {

using monitor::ConversionError;
using monitor::parseInteger;

// The name of a case that parses the text: letters and digits as they stand, signs and blanks
// spelt out, a run of other letters (Cyrillic) as one word.
std::string spelled(std::string_view text) {
    static const std::pair<char, const char*> kSigns[] = {{' ', "Blank"},  {'\t', "Tab"},
                                                          {'+', "Plus"},   {'-', "Minus"},
                                                          {'$', "Dollar"}, {'.', "Dot"}};
    if (text.empty()) return "Empty";
    std::string name;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x80) {
            if (!name.ends_with("NonLatin")) name += "NonLatin";
        } else if (std::isalnum(byte)) {
            name += c;
        } else {
            const auto* sign = std::find_if(std::begin(kSigns), std::end(kSigns),
                                            [c](const auto& entry) { return entry.first == c; });
            name += sign != std::end(kSigns) ? sign->second : "Sign";
        }
    }
    return name;
}

struct ByteViews {
    int value;
    const char* hex;
    const char* decimal;
    const char* bits;
};

class ByteFormats : public testing::TestWithParam<ByteViews> {};

TEST_P(ByteFormats, HexDecimalAndBitStringAgree) {
    const ByteViews& views = GetParam();
    const auto value = static_cast<uint8_t>(views.value);
    EXPECT_EQ(monitor::hexByteText(value).view(), views.hex);
    EXPECT_EQ(monitor::decimalByteText(value).view(), views.decimal);
    EXPECT_EQ(monitor::bitString(value), views.bits);
}

// Zero must show as "0", never as the layout's "000"; a bit string has bit 7 first.
INSTANTIATE_TEST_SUITE_P(Values, ByteFormats,
                         testing::Values(ByteViews{131, "$83", "131", "1 0 0 0 0 0 1 1"},
                                         ByteViews{0, "$00", "0", "0 0 0 0 0 0 0 0"},
                                         ByteViews{10, "$0A", "10", "0 0 0 0 1 0 1 0"},
                                         ByteViews{7, "$07", "7", "0 0 0 0 0 1 1 1"},
                                         ByteViews{255, "$FF", "255", "1 1 1 1 1 1 1 1"},
                                         ByteViews{100, "$64", "100", "0 1 1 0 0 1 0 0"}),
                         [](const auto& testCase) {
                             return "Byte" + std::to_string(testCase.param.value);
                         });

TEST(AddressText, HexHasAtLeastThreeUpperCaseDigitsAndNegativesShowEight) {
    EXPECT_EQ(monitor::addressHexText(1016), "$3F8");
    EXPECT_EQ(monitor::addressHexText(64), "$040");
    EXPECT_EQ(monitor::addressHexText(0), "$000");
    EXPECT_EQ(monitor::addressHexText(4096), "$1000");
    EXPECT_EQ(monitor::addressHexText(65535), "$FFFF");
    EXPECT_EQ(monitor::addressHexText(-1), "$FFFFFFFF");
    EXPECT_EQ(monitor::addressHexText(INT_MIN), "$80000000");
    EXPECT_EQ(monitor::addressDecimalText(-8), "-8");
}

TEST(RegisterPort, BaseAndOffsetWrapToSixteenBits) {
    EXPECT_EQ(monitor::registerPort(1016, 7), 1023);
    EXPECT_EQ(monitor::registerPort(65535, 1), 0);
    EXPECT_EQ(monitor::registerPort(-1, 0), 65535);
    EXPECT_EQ(monitor::registerPort(-8, 7), 65535);
    EXPECT_EQ(monitor::registerPort(0x12345678, 0), 0x5678);
    EXPECT_EQ(monitor::registerPort(INT_MAX, 1), 0);
}

TEST(OffsetAddress, WrapsAtTheTopOfTheIntegerRangeInsteadOfOverflowing) {
    EXPECT_EQ(monitor::offsetAddress(1016, 3), 1019);
    EXPECT_EQ(monitor::offsetAddress(INT_MAX, 1), INT_MIN);
    EXPECT_EQ(monitor::offsetAddress(-1, 1), 0);
}

struct Parsed {
    const char* text;
    int32_t value;
};

class ParseNumber : public testing::TestWithParam<Parsed> {};

TEST_P(ParseNumber, Accepts) {
    EXPECT_EQ(parseInteger(GetParam().text), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Integers, ParseNumber,
    testing::Values(Parsed{"1016", 1016}, Parsed{"000", 0}, Parsed{"   42", 42}, Parsed{"\t5", 5},
                    Parsed{"+7", 7}, Parsed{"-7", -7}, Parsed{"$3F8", 1016}, Parsed{"$3f8", 1016},
                    Parsed{"0x41", 65}, Parsed{"0X41", 65}, Parsed{"x41", 65}, Parsed{"X41", 65},
                    Parsed{"-$10", -16}, Parsed{" +0x1f", 31}, Parsed{"2147483647", INT_MAX},
                    Parsed{"-2147483648", INT_MIN}, Parsed{"$7FFFFFFF", INT_MAX},
                    Parsed{"-$80000000", INT_MIN}, Parsed{"00000000000000000009", 9}),
    [](const auto& testCase) { return spelled(testCase.param.text); });

class ParseGarbage : public testing::TestWithParam<const char*> {};

TEST_P(ParseGarbage, ThrowsConversionError) {
    EXPECT_THROW(parseInteger(GetParam()), ConversionError);
}

INSTANTIATE_TEST_SUITE_P(NotIntegers, ParseGarbage,
                         testing::Values("", "   ", "-", "+", "$", "0x", "x", "3F8", "12 ", "1 2",
                                         "--1", "+-1", "$-1", "1.5", "abc", "$G", "0x1G", "НОВЫЙ",
                                         "2147483648", "-2147483649", "$80000000", "$FFFFFFFF",
                                         "99999999999999999999999"),
                         [](const auto& testCase) { return spelled(testCase.param); });

TEST(ConversionError, IsAStandardExceptionSoTheCommandWrapperCatchesIt) {
    try {
        parseInteger("FF");
        FAIL() << "no exception";
    } catch (const std::exception& error) {
        EXPECT_NE(dynamic_cast<const ConversionError*>(&error), nullptr);
    }
}

}  // namespace
