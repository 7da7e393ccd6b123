#include "monitor/change_log.h"

#include <algorithm>
#include <cstdio>
#include <initializer_list>

#include "monitor/presets.h"

namespace monitor {

namespace {

bool isBlockOffset(int offset) {
    return offset >= kFirstBlockOffset && offset <= kLastBlockOffset;
}

// Always ":", the separator of the usual settings, rather than the locale's: a log then reads
// the same whichever machine wrote it.
std::string timeText(const TimeOfDay& time) {
    char text[40];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", time.hours, time.minutes, time.seconds);
    return text;
}

std::string concat(std::initializer_list<std::string_view> parts) {
    std::string line;
    std::size_t size = 0;
    for (std::string_view part : parts) size += part.size();
    line.reserve(size);
    for (std::string_view part : parts) line += part;
    return line;
}

std::vector<std::string> blockRecord(const LoggedRegister& reg, int64_t count,
                                     const RecordTexts& texts,
                                     const std::function<uint8_t()>& readRegister,
                                     const TimeSource& now) {
    std::vector<std::string> lines;
    lines.reserve(3 + reg.bitName.size());
    lines.emplace_back();
    lines.push_back(concat({" [ ", std::to_string(count), " ]", reg.header, texts.address}));
    lines.emplace_back();
    for (int bit = 0; bit < 8; ++bit) {
        std::string_view name = reg.bitName[static_cast<std::size_t>(bit)];
        if (name.empty()) continue;
        const bool on = (readRegister() >> bit) & 1;
        const BitStyleTexts& style = bitStyleTexts(reg.style(bit));
        lines.push_back(
            concat({" ", timeText(now()), "  ", texts.hex, "     ", texts.bits, reg.registerText,
                    kMaskTexts[static_cast<std::size_t>(bit)], on ? style.on : style.off,
                    on ? style.onNameLead : style.offNameLead, name}));
    }
    return lines;
}

}  // namespace

LogPane changeLogPane(int offset) {
    if (offset == uart::reg::kRbrThrDll) return LogPane::Right;
    return isBlockOffset(offset) ? LogPane::Left : LogPane::None;
}

bool changeIsLogged(int offset, std::string_view presetText, bool dataControlChecked) {
    if (offset == uart::reg::kRbrThrDll) return dataControlChecked;
    return isBlockOffset(offset) &&
           std::find(kUartPresets.begin(), kUartPresets.end(), presetText) != kUartPresets.end();
}

std::vector<std::string> changeRecord(int offset, int64_t count, const RecordTexts& texts,
                                      const std::function<uint8_t()>& readRegister,
                                      const TimeSource& now) {
    if (offset == uart::reg::kRbrThrDll) {
        return {concat({" ", timeText(now()), "   ", texts.hex, "      ", texts.bits, "     ",
                        " [ ", std::to_string(count), " ]", "     ", texts.decimal})};
    }
    if (!isBlockOffset(offset)) return {};
    return blockRecord(kLoggedRegisters[static_cast<std::size_t>(offset - kFirstBlockOffset)],
                       count, texts, readRegister, now);
}

}  // namespace monitor
