#pragma once

#include <cstddef>
#include <cstdint>

namespace comm {

// Undoes what a tty in PARMRK mode (with INPCK, without ISTRIP) does to the bytes it hands to
// read(): a data byte 0xFF comes doubled (FF FF), a byte X received with a parity or framing
// error comes as FF 00 X, a break as FF 00 00. Nothing else starts with 0xFF, so a 0xFF data
// byte is never taken for an error. An escape cut off at the end of one read is completed by
// the next. The kernel never sends FF followed by anything else; should it come, the FF is
// taken as data, so no byte disappears.
class ParmrkDecoder {
public:
    enum Kind : uint8_t {
        kData,     // an ordinary byte
        kBadByte,  // a byte received with a parity or framing error (the kernel tells no more)
        kBreak,    // a break on the line, no byte
    };
    static constexpr uint8_t kEscape = 0xFF;

    struct Item {
        uint8_t value = 0;
        Kind kind = kData;
    };

    // How many items decode() may write for `count` bytes: one more than the bytes, for an FF
    // held from the previous read that turns out to be data.
    static constexpr size_t maxItems(size_t count) { return count + 1; }

    // Decodes count bytes into out (room for maxItems(count)); returns the number of items.
    size_t decode(const uint8_t* bytes, size_t count, Item* out);
    // The bytes so far end inside an escape.
    bool midEscape() const { return state_ != kPlain; }
    void reset() { state_ = kPlain; }

private:
    enum State : uint8_t { kPlain, kAfterFf, kAfterFf00 };
    State state_ = kPlain;
};

}  // namespace comm
