#pragma once

#include <QByteArray>
#include <QChar>
#include <QHash>
#include <QString>
#include <array>
#include <cstdint>

namespace terminal {

// The serial line carries text in the ANSI code page of the system the program was made for,
// Windows-1251. The table is built once by the system's converter; the one byte that code page
// leaves undefined reads as U+FFFD.
class AnsiCodePage {
public:
    static const AnsiCodePage& instance();

    QChar toChar(uint8_t byte) const { return chars_[byte]; }
    // A character the code page cannot hold is sent as '?'.
    QByteArray encode(const QString& text) const;

private:
    AnsiCodePage();
    std::array<QChar, 256> chars_{};
    QHash<char16_t, uint8_t> bytes_;
};

}  // namespace terminal
