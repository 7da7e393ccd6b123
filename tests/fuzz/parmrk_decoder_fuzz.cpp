// What a tty with errors marked (PARMRK) hands over, whatever it hands over: the decoder gives
// the same items wherever the reads cut the bytes, never more than it may, and the items
// written out again in the tty's form decode to themselves.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "comm/parmrk_decoder.h"

namespace {

using comm::ParmrkDecoder;
using Items = std::vector<ParmrkDecoder::Item>;

void check(bool holds) {
    if (!holds) std::abort();
}

// The bytes in reads whose lengths come from the first byte, as read() may cut them.
Items decodeInReads(const uint8_t* bytes, size_t size, size_t readLength) {
    ParmrkDecoder decoder;
    Items items;
    for (size_t at = 0; at < size; at += readLength) {
        const size_t n = std::min(readLength, size - at);
        const size_t before = items.size();
        items.resize(before + ParmrkDecoder::maxItems(n));
        const size_t got = decoder.decode(bytes + at, n, items.data() + before);
        check(got <= ParmrkDecoder::maxItems(n));
        items.resize(before + got);
    }
    return items;
}

bool same(const Items& a, const Items& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i].value != b[i].value || a[i].kind != b[i].kind) return false;
    return true;
}

std::vector<uint8_t> encode(const Items& items) {
    std::vector<uint8_t> bytes;
    for (const ParmrkDecoder::Item& item : items) {
        switch (item.kind) {
            case ParmrkDecoder::kData:
                if (item.value == 0xFF) bytes.push_back(0xFF);
                bytes.push_back(item.value);
                break;
            case ParmrkDecoder::kBadByte:
            case ParmrkDecoder::kBreak:
                bytes.insert(bytes.end(), {0xFF, 0x00, item.value});
                break;
        }
    }
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Items whole = decodeInReads(data, size, size == 0 ? 1 : size);
    const size_t readLength = size > 0 ? data[0] % 5 + 1 : 1;
    check(same(whole, decodeInReads(data, size, readLength)));
    // A bad byte 0 and a break share one form: written out again they decode as a break.
    Items expected = whole;
    for (ParmrkDecoder::Item& item : expected)
        if (item.kind == ParmrkDecoder::kBadByte && item.value == 0)
            item.kind = ParmrkDecoder::kBreak;
    const std::vector<uint8_t> again = encode(whole);
    check(same(expected, decodeInReads(again.data(), again.size(), again.size() + 1)));
    return 0;
}
