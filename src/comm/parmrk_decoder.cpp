#include "comm/parmrk_decoder.h"

namespace comm {

size_t ParmrkDecoder::decode(const uint8_t* bytes, size_t count, Item* out) {
    size_t n = 0;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t b = bytes[i];
        switch (state_) {
            case kPlain:
                if (b == kEscape) {
                    state_ = kAfterFf;
                } else {
                    out[n++] = {b, kData};
                }
                break;
            case kAfterFf:
                if (b == kEscape) {
                    out[n++] = {0xFF, kData};
                    state_ = kPlain;
                } else if (b == 0x00) {
                    state_ = kAfterFf00;
                } else {
                    out[n++] = {0xFF, kData};
                    out[n++] = {b, kData};
                    state_ = kPlain;
                }
                break;
            case kAfterFf00:
                out[n++] = b == 0x00 ? Item{0, kBreak} : Item{b, kBadByte};
                state_ = kPlain;
                break;
        }
    }
    return n;
}

}  // namespace comm
