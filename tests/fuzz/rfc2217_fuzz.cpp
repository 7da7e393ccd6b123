// What an RFC 2217 server sends, whatever it sends: the Telnet decoder takes the stream apart
// alike wherever TCP cuts it, and the negotiator answers each request with at most one answer
// about the same option, so no read brings more answers than it has bytes.
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

// The length of the reads recv() cuts the stream into, from its first byte.
size_t readLength(const uint8_t* stream, size_t size) {
    return size > 0 ? stream[0] % 7 + 1 : 1;
}

Decoder::Output decodeInReads(const uint8_t* stream, size_t size) {
    Decoder decoder;
    Decoder::Output out;
    const size_t length = readLength(stream, size);
    for (size_t at = 0; at < size; at += length)
        decoder.feed(stream + at, std::min(length, size - at), out);
    return out;
}

// As the connection takes each read: decoded, and every request in it answered.
void checkNegotiationInReads(const uint8_t* stream, size_t size) {
    Decoder decoder;
    Decoder::Output decoded;
    Negotiator negotiator;
    Bytes out;
    negotiator.start(out);
    const size_t greeting = out.size();
    bool comPortTaken = false;
    const size_t length = readLength(stream, size);
    for (size_t at = 0; at < size; at += length) {
        const size_t read = std::min(length, size - at);
        decoded.clear();
        decoder.feed(stream + at, read, decoded);
        const size_t beforeRead = out.size();
        for (const Decoder::Negotiation& request : decoded.negotiations) {
            const size_t before = out.size();
            negotiator.receive(request.verb, request.option, out);
            comPortTaken |= request.verb == DO && request.option == kComPortOption;
            const size_t answered = out.size() - before;
            check(answered == 0 || answered == 3);
            if (answered == 0) continue;
            // His WILL or WONT is answered with DO or DONT, his DO or DONT with WILL or WONT.
            const bool hisSide = request.verb == WILL || request.verb == WONT;
            const uint8_t verb = out[before + 1];
            check(out[before] == IAC && out[before + 2] == request.option);
            check(hisSide ? (verb == DO || verb == DONT) : (verb == WILL || verb == WONT));
        }
        // The flooding peer: the port drops a peer once more than kMaxUnreadAnswers of answers
        // wait for it, which holds memory to the bound plus one read's answers only while every
        // answer is owed to a request of three bytes: a read brings at most its own bytes' worth
        // and the two bytes of a request that the read before began.
        check(out.size() - greeting <= at + read);
        check(out.size() - beforeRead <= read + 2);
        // The port counts as open only once the server has taken COM-PORT-OPTION from us.
        if (negotiator.complete()) check(comPortTaken);
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
    check(sameOutput(decoded, decodeInReads(data, size)));
    // Three bytes at least for a negotiation, six for a subnegotiation.
    check(decoded.data.size() + 3 * decoded.negotiations.size() + 6 * decoded.replies.size() <=
          size);
    checkNegotiationInReads(data, size);
    checkOwnOutput(data, size);
    return 0;
}
