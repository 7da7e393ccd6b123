#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "uart/registers.h"

namespace monitor {

// The register change log: the records that a change of a register's bit string writes into a
// log pane. The widgets decide whether a change is logged, keep the change counters and append
// the lines; everything that decides what a record says lives here, free of the toolkit.

// The ON/OFF word of a bit line and the space before the bit's name come in three spacings.
enum class BitStyle {
    Wide,    // "   ON  > " / "   OFF > ", name after one space
    Even,    // "   ON   > " / "   OFF > ": the name loses its space in the ON line, so both
             // lines come out equally long
    Narrow,  // " ON  > " / " OFF > ", name after one space
};

struct BitStyleTexts {
    std::string_view on;
    std::string_view off;
    std::string_view onNameLead;
    std::string_view offNameLead;
};

inline constexpr std::array<BitStyleTexts, 3> kBitStyleTexts = {{
    {"   ON  > ", "   OFF > ", " ", " "},
    {"   ON   > ", "   OFF > ", "", " "},
    {" ON  > ", " OFF > ", " ", " "},
}};

constexpr const BitStyleTexts& bitStyleTexts(BitStyle style) {
    return kBitStyleTexts[static_cast<std::size_t>(style)];
}

// By bit number. 128 has no room for spaces inside its brackets.
inline constexpr std::array<std::string_view, 8> kMaskTexts = {
    " > [ 1 ] ",  " > [ 2 ] ",  " > [ 4 ] ",  " > [ 8 ] ",
    " > [ 16 ] ", " > [ 32 ] ", " > [ 64 ] ", " > [128] ",
};

// A register at +1 to +6 whose changes are logged as a block of one line per named bit.
struct LoggedRegister {
    std::string_view header;
    std::string_view registerText;
    BitStyle lowBitStyle;                     // masks 1 to 8; 16 to 128 are always Narrow
    std::array<std::string_view, 8> bitName;  // by bit number; empty: the bit is never logged

    constexpr BitStyle style(int bit) const { return bit < 4 ? lowBitStyle : BitStyle::Narrow; }
};

inline constexpr int kFirstBlockOffset = uart::reg::kIerDlm;
inline constexpr int kLastBlockOffset = uart::reg::kMsr;

// Offsets +1 to +6, in order.
inline constexpr std::array<LoggedRegister, 6> kLoggedRegisters = {{
    {"    Разрешение прерываний:  регистр  ",
     "  : [ 1 ]",
     BitStyle::Wide,
     {"RxRD", "TDE", "ERBK", "SINP", "", "", "", ""}},
    {"    Индентификация прерываний:  регистр  ",
     "  : [ 2 ]",
     BitStyle::Wide,
     {"PND", "ID0", "ID1", "", "", "", "", ""}},
    {"    Формат данных:  регистр  ",
     "  : [ 3 ]",
     BitStyle::Even,
     {"DAB0", "DAB1", "STOP", "PAR0", "PAR1", "PAR2", "BRK", "DLAB"}},
    {"    Управление модемом:  регистр  ",
     "  : [ 4 ]",
     BitStyle::Wide,
     {"DTR", "RTS", "OUT1", "OUT2", "LOOP", "", "", ""}},
    {"    Состояние UART приёмопередатчика:  регистр  ",
     "  : [ 5 ]",
     BitStyle::Even,
     {"RxRD", "OVRE", "PARE", "FRME", "BREK", "TBE", "TXE", ""}},
    {"    Состояние модема:  регистр  ",
     "  : [ 6 ]",
     BitStyle::Even,
     {"DCTS", "DDSR", "DRI", "DDCD", "CTS", "DSR", "RI", "DCD"}},
}};

// Which pane a register's records go to. The scratch register (+7) is never logged.
enum class LogPane { None, Left, Right };
LogPane changeLogPane(int offset);

// Whether a change of the register at offset writes a record now: the data register while
// "Отслеживать данные" (CheckBox2) is checked, whatever the preset; +1 to +6 only while the
// preset box shows one of the UART presets exactly. A suppressed change must not advance the
// register's counter.
bool changeIsLogged(int offset, std::string_view presetText, bool dataControlChecked);

struct TimeOfDay {
    int hours = 0;  // 0 to 23
    int minutes = 0;
    int seconds = 0;
};
// The current local time. Asked anew for every line, so a record that spans a second boundary
// shows it.
using TimeSource = std::function<TimeOfDay()>;

// The texts the monitor showed for the register in this tick.
struct RecordTexts {
    std::string_view hex;      // the hex read-back box, "$0B"
    std::string_view bits;     // the bit-string box, "0 0 0 0 1 0 1 1"
    std::string_view decimal;  // data register only: its decimal read-back box, "65"
    std::string_view address;  // +1 to +6: the caption of the hex write button, "$3FC"
};

// The lines of one record, ready to be appended to the pane as they stand (UTF-8, no line
// ends). count is the register's change counter after this change, so the first record says 1.
//
// For +1 to +6: an empty line, the header, an empty line and one line per named bit in
// ascending mask order. Each bit's ON/OFF comes from a read of its own through readRegister,
// made just before its line, while the hex text and bit string on every line stay what the
// monitor showed: on a UART, reading the status registers clears bits, so the two may disagree.
// For the data register: one line, and readRegister is not called.
// Any other offset has no record: the result is empty and nothing is read.
std::vector<std::string> changeRecord(int offset, int64_t count, const RecordTexts& texts,
                                      const std::function<uint8_t()>& readRegister,
                                      const TimeSource& now);

}  // namespace monitor
