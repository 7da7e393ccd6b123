#include "comm/rfc2217_codec.h"

namespace comm::rfc2217 {

void appendEscaped(std::vector<uint8_t>& out, const uint8_t* data, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        out.push_back(data[i]);
        if (data[i] == IAC) out.push_back(IAC);
    }
}

void appendCommand(std::vector<uint8_t>& out, uint8_t command, uint32_t value, int width) {
    out.insert(out.end(), {IAC, SB, kComPortOption, command});
    for (int shift = 8 * (width - 1); shift >= 0; shift -= 8) {
        const auto byte = static_cast<uint8_t>(value >> shift);
        appendEscaped(out, &byte, 1);
    }
    out.insert(out.end(), {IAC, SE});
}

void Decoder::feed(const uint8_t* bytes, size_t count, Output& out) {
    for (size_t i = 0; i < count; ++i) {
        const uint8_t b = bytes[i];
        switch (state_) {
            case State::kData:
                if (b == IAC) {
                    state_ = State::kIac;
                } else {
                    out.data.push_back(b);
                }
                break;
            case State::kSubIac:
                if (b == IAC) {
                    state_ = State::kSub;
                    if (subLength_ < kMaxSub) {
                        sub_[subLength_++] = b;
                    } else {
                        subOverflow_ = true;
                    }
                    break;
                }
                if (b == SE) {
                    endSubnegotiation(out);
                    state_ = State::kData;
                    break;
                }
                // A command inside a subnegotiation ends it unfinished; the command counts.
                [[fallthrough]];
            case State::kIac:
                state_ = State::kData;
                if (b == IAC) {
                    out.data.push_back(b);
                } else if (b == WILL || b == WONT || b == DO || b == DONT) {
                    verb_ = b;
                    state_ = State::kVerb;
                } else if (b == SB) {
                    subLength_ = 0;
                    subOverflow_ = false;
                    state_ = State::kSub;
                }
                break;
            case State::kVerb:
                out.negotiations.push_back({verb_, b});
                state_ = State::kData;
                break;
            case State::kSub:
                if (b == IAC) {
                    state_ = State::kSubIac;
                } else if (subLength_ < kMaxSub) {
                    sub_[subLength_++] = b;
                } else {
                    subOverflow_ = true;
                }
                break;
        }
    }
}

void Decoder::endSubnegotiation(Output& out) {
    if (subOverflow_ || subLength_ < 2 || sub_[0] != kComPortOption) return;
    uint32_t value = 0;
    for (size_t i = 2; i < subLength_; ++i) value = (value << 8) | sub_[i];
    out.replies.push_back({sub_[1], value});
}

void Negotiator::start(std::vector<uint8_t>& out) {
    us_[kBinary] = Side::kWantYes;
    him_[kBinary] = Side::kWantYes;
    us_[kComPortOption] = Side::kWantYes;
    out.insert(out.end(), {IAC, WILL, kBinary, IAC, DO, kBinary, IAC, WILL, kComPortOption});
}

void Negotiator::receive(uint8_t verb, uint8_t option, std::vector<uint8_t>& out) {
    const bool hisSide = verb == WILL || verb == WONT;
    const bool yes = verb == WILL || verb == DO;
    Side& side = hisSide ? him_[option] : us_[option];
    // Our answer to his WILL is DO, to his DO it is WILL.
    const uint8_t agree = hisSide ? DO : WILL;
    const uint8_t decline = hisSide ? DONT : WONT;
    if (option == kBinary) binaryAnswered_[hisSide ? 1 : 0] = true;
    if (yes) {
        if (!welcome(option)) {
            if (side == Side::kNo) out.insert(out.end(), {IAC, decline, option});
            return;
        }
        if (side == Side::kNo) out.insert(out.end(), {IAC, agree, option});
        side = Side::kYes;
        return;
    }
    if (side == Side::kYes) out.insert(out.end(), {IAC, decline, option});
    side = Side::kNo;
    if (option == kComPortOption && !hisSide) comPortRefused_ = true;
}

bool Negotiator::complete() const {
    return us_[kComPortOption] == Side::kYes && binaryAnswered_[0] && binaryAnswered_[1];
}

}  // namespace comm::rfc2217
