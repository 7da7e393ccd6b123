#include "monitor/presets.h"

#include <gtest/gtest.h>

#include <string>

#include "monitor/values.h"

namespace {

using monitor::evaluatePreset;
using monitor::PresetInput;
using monitor::SourceMark;

struct KnownPreset {
    const char* name;
    int32_t base;
    const char* hex;
};

class PresetAddress : public testing::TestWithParam<KnownPreset> {};

// The decimal box is garbage on purpose: a known preset must not read it before writing it.
TEST_P(PresetAddress, WritesItsAddressIntoTheDecimalBoxAndTakesTheBaseFromIt) {
    const KnownPreset& preset = GetParam();
    const auto outcome = evaluatePreset({preset.name, "$3F8", "junk", SourceMark::Hex, 5});
    EXPECT_EQ(outcome.base, preset.base);
    ASSERT_TRUE(outcome.decimalBox.has_value());
    EXPECT_EQ(*outcome.decimalBox, std::to_string(preset.base));
    EXPECT_EQ(monitor::addressHexText(outcome.base), preset.hex);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PresetAddress,
    testing::Values(KnownPreset{"COM1", 1016, "$3F8"}, KnownPreset{"COM2", 760, "$2F8"},
                    KnownPreset{"COM3", 1000, "$3E8"}, KnownPreset{"COM4", 744, "$2E8"},
                    KnownPreset{"LPT1", 888, "$378"}, KnownPreset{"LPT2", 956, "$3BC"},
                    KnownPreset{"LPT3", 632, "$278"}, KnownPreset{"GAME", 513, "$201"},
                    KnownPreset{"SOUND", 904, "$388"}, KnownPreset{"SP TIMER", 64, "$040"},
                    KnownPreset{"КЛАВ-РА", 96, "$060"}),
    // By the address, which every preset has in Latin letters.
    [](const auto& testCase) { return "Port" + std::string(testCase.param.hex).substr(1); });

TEST(UnknownPreset, RereadsTheDecimalBoxWithoutWritingIt) {
    for (const char* text : {"", "com1", "COM1 ", "SP TIME"}) {
        const auto outcome = evaluatePreset({text, "$2F8", " 760", SourceMark::Hex, 1016});
        EXPECT_EQ(outcome.base, 760) << text;
        EXPECT_FALSE(outcome.decimalBox.has_value()) << text;
    }
}

TEST(UnknownPreset, NonNumberInTheDecimalBoxThrows) {
    EXPECT_THROW(evaluatePreset({"LPT9", "$378", "", SourceMark::None, 1016}),
                 monitor::ConversionError);
}

TEST(NewPortPreset, TakesTheDecimalBoxWhenItChangedLast) {
    const auto outcome = evaluatePreset({"НОВЫЙ", "$3F8", "760", SourceMark::Decimal, 1016});
    EXPECT_EQ(outcome.base, 760);
    EXPECT_FALSE(outcome.decimalBox.has_value());
}

TEST(NewPortPreset, TakesTheHexBoxWhenItChangedLastAndCopiesItToTheDecimalBox) {
    const auto outcome = evaluatePreset({"НОВЫЙ", "$2F8", "1016", SourceMark::Hex, 1016});
    EXPECT_EQ(outcome.base, 760);
    EXPECT_EQ(outcome.decimalBox, "760");
}

TEST(NewPortPreset, KeepsTheBaseWhenNeitherBoxChanged) {
    const auto outcome = evaluatePreset({"НОВЫЙ", "$2F8", "760", SourceMark::None, 1016});
    EXPECT_EQ(outcome.base, 1016);
    EXPECT_FALSE(outcome.decimalBox.has_value());
}

TEST(NewPortPreset, HexBoxWithoutItsDollarIsNotANumber) {
    EXPECT_THROW(evaluatePreset({"НОВЫЙ", "3F8", "1016", SourceMark::Hex, 1016}),
                 monitor::ConversionError);
}

TEST(KeyFilter, HexBoxTakesControlCharactersAndHexDigitsOnly) {
    for (char32_t c : {U'\b', U'\x01', U'\x1f', U'0', U'9', U'A', U'F', U'a', U'f'})
        EXPECT_TRUE(monitor::hexAddressKeyAccepted(c)) << static_cast<int>(c);
    for (char32_t c : {U' ', U'$', U'G', U'g', U'x', U'-', U'\x7f', U'Ф'})
        EXPECT_FALSE(monitor::hexAddressKeyAccepted(c)) << static_cast<int>(c);
}

TEST(KeyFilter, DecimalBoxTakesExclamationMarkToAtSignOnly) {
    for (char32_t c : {U'!', U'$', U'+', U'-', U'0', U'9', U'@'})
        EXPECT_TRUE(monitor::decimalAddressKeyAccepted(c)) << static_cast<int>(c);
    for (char32_t c : {U'\b', U'\r', U' ', U'A', U'a', U'x', U'\x7f', U'Ф'})
        EXPECT_FALSE(monitor::decimalAddressKeyAccepted(c)) << static_cast<int>(c);
}

}  // namespace
