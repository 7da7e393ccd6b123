// The Telnet side of a network port, byte by byte: the server's stream arrives in pieces that
// TCP cuts anywhere, also inside an escape or a subnegotiation.
#include "comm/rfc2217_codec.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using namespace comm::rfc2217;
using Bytes = std::vector<uint8_t>;

struct Decoded {
    Bytes data;
    std::vector<std::pair<uint8_t, uint8_t>> negotiations;
    std::vector<std::pair<uint8_t, uint32_t>> replies;
    bool operator==(const Decoded&) const = default;
};

Decoded decodeInPieces(const Bytes& stream, size_t cut) {
    Decoder decoder;
    Decoder::Output out;
    decoder.feed(stream.data(), cut, out);
    decoder.feed(stream.data() + cut, stream.size() - cut, out);
    Decoded d{out.data, {}, {}};
    for (const auto& n : out.negotiations) d.negotiations.emplace_back(n.verb, n.option);
    for (const auto& r : out.replies) d.replies.emplace_back(r.command, r.value);
    return d;
}

TEST(Rfc2217Codec, ServerStreamDecodesAlikeWhereverItIsCut) {
    Bytes stream = {0, IAC, IAC, 13, IAC, DO, kComPortOption};
    // 65535 baud: two value bytes of 255, doubled inside the subnegotiation.
    appendCommand(stream, kSetBaudRate + kServerReply, 65535, 4);
    stream.insert(stream.end(), {10, IAC, IAC});
    appendCommand(stream, kNotifyLineState + kServerReply, 0x10, 1);
    stream.push_back(IAC);
    stream.push_back(IAC);

    const Decoded expected{
        {0, IAC, 13, 10, IAC, IAC},
        {{DO, kComPortOption}},
        {{kSetBaudRate + kServerReply, 65535u}, {kNotifyLineState + kServerReply, 0x10u}}};
    for (size_t cut = 0; cut <= stream.size(); ++cut)
        EXPECT_EQ(decodeInPieces(stream, cut), expected) << "cut after byte " << cut;
}

TEST(Rfc2217Codec, OutgoingDataAndCommandsDoubleEveryIac) {
    Bytes out;
    const uint8_t data[] = {IAC, 0, IAC};
    appendEscaped(out, data, sizeof data);
    EXPECT_EQ(out, (Bytes{IAC, IAC, 0, IAC, IAC}));

    out.clear();
    appendCommand(out, kSetBaudRate, 0x0001FF00, 4);
    EXPECT_EQ(out, (Bytes{IAC, SB, kComPortOption, kSetBaudRate, 0, 1, IAC, IAC, 0, IAC, SE}));
}

// The greetings ser2net and pyserial's server send on a connection, as recorded from them.
TEST(Rfc2217Codec, NegotiationCompletesWithBothServersAndAnswersOnlyChanges) {
    Negotiator ser2net;
    Bytes answers;
    ser2net.start(answers);
    answers.clear();
    const std::pair<uint8_t, uint8_t> ser2netGreeting[] = {
        {WILL, kSuppressGoAhead}, {DO, kSuppressGoAhead}, {WILL, 1}, {DONT, 1}, {DO, kBinary},
        {WILL, kBinary},          {DO, kComPortOption}};
    for (auto [verb, option] : ser2netGreeting) ser2net.receive(verb, option, answers);
    EXPECT_TRUE(ser2net.complete());
    // SUPPRESS-GO-AHEAD welcomed both ways, ECHO refused; what we asked for needs no answer.
    EXPECT_EQ(answers,
              (Bytes{IAC, DO, kSuppressGoAhead, IAC, WILL, kSuppressGoAhead, IAC, DONT, 1}));

    Negotiator pyserial;
    pyserial.start(answers);
    answers.clear();
    const std::pair<uint8_t, uint8_t> pyserialGreeting[] = {{WILL, 1},
                                                            {WILL, kSuppressGoAhead},
                                                            {DO, kBinary},
                                                            {WILL, kComPortOption},
                                                            {WILL, kBinary}};
    for (auto [verb, option] : pyserialGreeting) pyserial.receive(verb, option, answers);
    EXPECT_FALSE(pyserial.complete());
    pyserial.receive(DO, kComPortOption, answers);
    EXPECT_TRUE(pyserial.complete());
    EXPECT_EQ(answers, (Bytes{IAC, DONT, 1, IAC, DO, kSuppressGoAhead, IAC, DO, kComPortOption}));

    Negotiator plainTelnet;
    plainTelnet.start(answers);
    plainTelnet.receive(DONT, kComPortOption, answers);
    EXPECT_TRUE(plainTelnet.refused());
}

}  // namespace
