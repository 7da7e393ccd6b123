#include "sim/pit_speaker.h"

namespace sim {

void PitSpeaker::writeTimerControl(uint8_t value) {
    if ((value >> 6) != 2) return;  // channels 0 and 1 and the read-back command are not ours
    auto access = static_cast<Access>((value >> 4) & 3);
    if (access == Access::Latch) {
        readHighNext_ = false;
        return;
    }
    access_ = access;
    mode_ = (value >> 1) & 7;
    if (mode_ > 5) mode_ -= 4;  // modes 6 and 7 are aliases of 2 and 3
    countLoaded_ = false;
    writeHighNext_ = false;
    readHighNext_ = false;
}

void PitSpeaker::writeChannel2(uint8_t value) {
    switch (access_) {
        case Access::LowOnly:
            reload_ = value;
            countLoaded_ = true;
            break;
        case Access::HighOnly:
            reload_ = static_cast<uint16_t>(value << 8);
            countLoaded_ = true;
            break;
        case Access::LowThenHigh:
        case Access::Latch:
            if (writeHighNext_) {
                reload_ = static_cast<uint16_t>((reload_ & 0x00FF) | (value << 8));
                countLoaded_ = true;
            } else {
                reload_ = static_cast<uint16_t>((reload_ & 0xFF00) | value);
                countLoaded_ = false;  // a half-written count does not run
            }
            writeHighNext_ = !writeHighNext_;
            break;
    }
}

uint8_t PitSpeaker::readChannel2() {
    bool high = access_ == Access::HighOnly || (access_ == Access::LowThenHigh && readHighNext_);
    if (access_ == Access::LowThenHigh) readHighNext_ = !readHighNext_;
    return static_cast<uint8_t>(high ? reload_ >> 8 : reload_ & 0xFF);
}

std::optional<double> PitSpeaker::toneHz() const {
    bool gateAndSpeakerOn = (control_ & 3) == 3;
    bool squareWave = mode_ == 3 || mode_ == 2;
    if (!gateAndSpeakerOn || !squareWave || !countLoaded_) return std::nullopt;
    double divisor = reload_ == 0 ? 65536.0 : reload_;  // a count of 0 means 2^16
    return kInputHz / divisor;
}

}  // namespace sim
