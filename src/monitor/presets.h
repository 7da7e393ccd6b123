#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace monitor {

// The well-known PC ports the preset box offers, and the evaluation that turns the preset box
// and the two address boxes into the base address.

struct Preset {
    std::string_view name;
    std::string_view address;  // decimal, as written into the decimal address box
};

// In the order the evaluation tests them. "SP TIMER" is recognised when typed but not listed.
inline constexpr std::array<Preset, 11> kPresets = {{
    {"COM1", "1016"},
    {"COM2", "760"},
    {"COM3", "1000"},
    {"COM4", "744"},
    {"LPT1", "888"},
    {"LPT2", "956"},
    {"LPT3", "632"},
    {"GAME", "513"},
    {"SOUND", "904"},
    {"SP TIMER", "64"},
    {"КЛАВ-РА", "96"},
}};

// The preset that takes its address from the address boxes.
inline constexpr std::string_view kNewPortPreset = "НОВЫЙ";

inline constexpr std::array<std::string_view, 12> kPresetListItems = {
    "COM1", "COM2",    "COM3", "COM4",  "LPT1",         "LPT2",
    "LPT3", "КЛАВ-РА", "GAME", "SOUND", kNewPortPreset, "",
};

// The UART status lights and the change log apply only while the preset box shows one of these
// names exactly; the base address itself does not count.
inline constexpr std::array<std::string_view, 4> kUartPresets = {"COM1", "COM2", "COM3", "COM4"};

// Which address box changed last; the boxes' change handlers keep at most one marked.
enum class SourceMark { None, Hex, Decimal };

struct PresetInput {
    std::string_view preset;      // the preset box's text
    std::string_view hexBox;      // the hexadecimal address box
    std::string_view decimalBox;  // the decimal address box
    SourceMark mark = SourceMark::None;
    int32_t base = 0;  // the base address before the evaluation
};

struct PresetOutcome {
    int32_t base = 0;
    // The text to write into the decimal address box before anything else, when the
    // evaluation writes it.
    std::optional<std::string> decimalBox;
};

// A known preset writes its address into the decimal box and takes the base from there; any
// other text except "НОВЫЙ" takes it from the decimal box as it stands; "НОВЫЙ" takes it from
// the box that changed last (the hex box's value is then copied into the decimal box), or
// keeps the base when neither box changed. Throws ConversionError when the box it reads does
// not hold a number; nothing has been written at that point.
PresetOutcome evaluatePreset(const PresetInput& input);

// The key filters of the address boxes: whether a typed character reaches the box.
// The hexadecimal box takes control characters (so backspace works) and hex digits, but not the
// "$" it shows; the decimal box takes only '!' to '@', so not even backspace.
bool hexAddressKeyAccepted(char32_t c);
bool decimalAddressKeyAccepted(char32_t c);

}  // namespace monitor
