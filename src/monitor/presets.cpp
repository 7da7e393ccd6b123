#include "monitor/presets.h"

#include "monitor/values.h"

namespace monitor {

PresetOutcome evaluatePreset(const PresetInput& input) {
    PresetOutcome outcome{input.base, std::nullopt};
    if (input.preset != kNewPortPreset) {
        std::string_view decimal = input.decimalBox;
        for (const Preset& preset : kPresets) {
            if (input.preset == preset.name) {
                outcome.decimalBox = std::string(preset.address);
                decimal = preset.address;
                break;
            }
        }
        outcome.base = parseInteger(decimal);
    } else if (input.mark == SourceMark::Decimal) {
        outcome.base = parseInteger(input.decimalBox);
    } else if (input.mark == SourceMark::Hex) {
        outcome.base = parseInteger(input.hexBox);
        outcome.decimalBox = addressDecimalText(outcome.base);
    }
    return outcome;
}

bool hexAddressKeyAccepted(char32_t c) {
    return c < 32 || (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

bool decimalAddressKeyAccepted(char32_t c) {
    return c >= 33 && c <= 64;
}

}  // namespace monitor
