// What an RFC 2217 server sends, whatever it sends: the Telnet decoder takes the stream apart
// alike wherever TCP cuts it, and the negotiator answers each request with at most one answer
// about the same option, so a peer gets back no more than it sent.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "comm/rfc2217_codec.h"

namespace {

using namespace comm::rfc2217;
using Bytes = std::vector<uint8_t>;

void check(bool holds) {
    if (!holds) std::abort();
}

bool sameOutput(const Decoder::Output& a, const Decoder::Output& b) {
    if (a.data != b.data || a.negotiations.size() != b.negotiations.size() ||
        a.replies.size() != b.replies.size())
        return false;
    for (size_t i = 0; i < a.negotiations.size(); ++i)
        if (a.negotiations[i].verb != b.negotiations[i].verb ||
            a.negotiations[i].option != b.negotiations[i].option)
            return false;
    for (size_t i = 0; i < a.replies.size(); ++i)
        if (a.replies[i].command != b.replies[i].command ||
            a.replies[i].value != b.replies[i].value)
            return false;
    return true;
}

// The stream in pieces whose lengths come from its first byte, as recv() may cut it.
Decoder::Output decodeInPieces(const uint8_t* stream, size_t size) {
    Decoder decoder;
    Decoder::Output out;
    const size_t piece = size > 0 ? stream[0] % 7 + 1 : 1;
    for (size_t at = 0; at < size; at += piece)
        decoder.feed(stream + at, std::min(piece, size - at), out);
    return out;
}

void checkNegotiation(const Decoder::Output& decoded) {
    Negotiator negotiator;
    Bytes out;
    negotiator.start(out);
    for (const Decoder::Negotiation& request : decoded.negotiations) {
        const size_t before = out.size();
        negotiator.receive(request.verb, request.option, out);
        const size_t answered = out.size() - before;
        check(answered == 0 || answered == 3);
        if (answered == 0) continue;
        // His WILL or WONT is answered with DO or DONT, his DO or DONT with WILL or WONT.
        const bool hisSide = request.verb == WILL || request.verb == WONT;
        const uint8_t verb = out[before + 1];
        check(out[before] == IAC && out[before + 2] == request.option);
        check(hisSide ? (verb == DO || verb == DONT) : (verb == WILL || verb == WONT));
    }
    // The flooding peer: every answer is owed to one request of his.
    check(out.size() <= 9 + 3 * decoded.negotiations.size());
    // The port counts as open only once the server has taken COM-PORT-OPTION from us.
    if (negotiator.complete()) {
        const auto taken = [](const Decoder::Negotiation& n) {
            return n.verb == DO && n.option == kComPortOption;
        };
        check(std::any_of(decoded.negotiations.begin(), decoded.negotiations.end(), taken));
    }
}

// What we send decodes back to itself, so a data byte is never taken for a command.
void checkOwnOutput(const uint8_t* data, size_t size) {
    Bytes wire;
    appendEscaped(wire, data, size);
    const uint32_t value = size >= 4 ? uint32_t{data[0]} << 24 | uint32_t{data[1]} << 16 |
                                           uint32_t{data[2]} << 8 | data[3]
                                     : 0;
    appendCommand(wire, kSetBaudRate + kServerReply, value, 4);
    Decoder decoder;
    Decoder::Output out;
    decoder.feed(wire.data(), wire.size(), out);
    check(out.data == Bytes(data, data + size));
    check(out.negotiations.empty() && out.replies.size() == 1);
    check(out.replies[0].command == kSetBaudRate + kServerReply && out.replies[0].value == value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Decoder whole;
    Decoder::Output decoded;
    whole.feed(data, size, decoded);
    check(sameOutput(decoded, decodeInPieces(data, size)));
    // Three bytes at least for a negotiation, six for a subnegotiation.
    check(decoded.data.size() + 3 * decoded.negotiations.size() + 6 * decoded.replies.size() <=
          size);
    checkNegotiation(decoded);
    checkOwnOutput(data, size);
    return 0;
}
