#pragma once

#include <cstdint>
#include <optional>

namespace sim {

// Channel 2 of the 8254 interval timer ($42, control word at $43) and the system control port
// $61, whose bit 0 gates channel 2 and bit 1 lets its output drive the speaker. Only what a PC
// program uses to make a tone is modelled: the count is kept, not counted down.
class PitSpeaker {
public:
    static constexpr double kInputHz = 1193182.0;

    uint8_t readControlPort() const { return control_ & 0x0F; }
    void writeControlPort(uint8_t value) { control_ = value; }
    void writeTimerControl(uint8_t value);
    uint8_t readChannel2();
    void writeChannel2(uint8_t value);

    // The tone the speaker sounds: gate and speaker data on, channel 2 in a square-wave mode
    // with its count fully loaded.
    std::optional<double> toneHz() const;

private:
    enum class Access : uint8_t { Latch = 0, LowOnly = 1, HighOnly = 2, LowThenHigh = 3 };

    uint8_t control_ = 0;
    Access access_ = Access::LowThenHigh;
    uint8_t mode_ = 0;
    uint16_t reload_ = 0;
    bool countLoaded_ = false;
    bool writeHighNext_ = false;  // LowThenHigh: the next write is the high byte
    bool readHighNext_ = false;
};

}  // namespace sim
