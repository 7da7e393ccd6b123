#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

// The Telnet side of a network serial port: option negotiation, the COM-PORT-OPTION
// subnegotiation and IAC escaping. No sockets here: bytes in, bytes out.
namespace comm::rfc2217 {

inline constexpr uint8_t IAC = 255;
inline constexpr uint8_t DONT = 254;
inline constexpr uint8_t DO = 253;
inline constexpr uint8_t WONT = 252;
inline constexpr uint8_t WILL = 251;
inline constexpr uint8_t SB = 250;
inline constexpr uint8_t SE = 240;

inline constexpr uint8_t kBinary = 0;
inline constexpr uint8_t kSuppressGoAhead = 3;
inline constexpr uint8_t kComPortOption = 44;

// COM-PORT-OPTION commands as the client sends them; the server answers each with the command
// plus kServerReply.
enum Command : uint8_t {
    kSetBaudRate = 1,
    kSetDataSize = 2,
    kSetParity = 3,
    kSetStopSize = 4,
    kSetControl = 5,
    kNotifyLineState = 6,
    kNotifyModemState = 7,
    kFlowControlSuspend = 8,
    kFlowControlResume = 9,
    kSetLineStateMask = 10,
    kSetModemStateMask = 11,
    kPurgeData = 12,
};
inline constexpr uint8_t kServerReply = 100;
inline constexpr size_t kCommandCount = 13;

// SET-CONTROL values.
inline constexpr uint8_t kControlNoFlow = 1;
inline constexpr uint8_t kControlXonXoffFlow = 2;
inline constexpr uint8_t kControlHardwareFlow = 3;
inline constexpr uint8_t kControlBreakOn = 5;
inline constexpr uint8_t kControlBreakOff = 6;
inline constexpr uint8_t kControlDtrOn = 8;
inline constexpr uint8_t kControlDtrOff = 9;
inline constexpr uint8_t kControlRtsOn = 11;
inline constexpr uint8_t kControlRtsOff = 12;

// Answers to the peer that it has not read yet, at most: a peer that goes on asking (every
// request gets an answer, a refusal too) without reading them is dropped.
inline constexpr size_t kMaxUnreadAnswers = 64 * 1024;

// Data for the wire: every IAC doubled.
void appendEscaped(std::vector<uint8_t>& out, const uint8_t* data, size_t count);
// IAC SB COM-PORT-OPTION command value IAC SE, the value big-endian in `width` bytes.
void appendCommand(std::vector<uint8_t>& out, uint8_t command, uint32_t value, int width);

// What the server sent, taken apart. The state carries over from one feed to the next, so a
// command split across reads is still one command.
class Decoder {
public:
    struct Negotiation {
        uint8_t verb;  // WILL, WONT, DO or DONT
        uint8_t option;
    };
    struct Reply {
        uint8_t command;  // as the server sent it: the client's command plus kServerReply
        uint32_t value;   // the value bytes big-endian
    };
    struct Output {
        std::vector<uint8_t> data;
        std::vector<Negotiation> negotiations;
        std::vector<Reply> replies;
        void clear() {
            data.clear();
            negotiations.clear();
            replies.clear();
        }
    };

    void feed(const uint8_t* bytes, size_t count, Output& out);

private:
    void endSubnegotiation(Output& out);

    enum class State { kData, kIac, kVerb, kSub, kSubIac } state_ = State::kData;
    uint8_t verb_ = 0;
    // A COM-PORT-OPTION value is at most four bytes; anything longer is of no use to us.
    static constexpr size_t kMaxSub = 8;
    std::array<uint8_t, kMaxSub> sub_{};
    size_t subLength_ = 0;
    bool subOverflow_ = false;
};

// The client's side of Telnet option negotiation, without loops: BINARY both ways, COM-PORT-
// OPTION on our side (the server may offer its own too) and SUPPRESS-GO-AHEAD are welcome,
// every other option is refused. Answers are only sent when a state changes.
class Negotiator {
public:
    // What the client asks for on connecting.
    void start(std::vector<uint8_t>& out);
    void receive(uint8_t verb, uint8_t option, std::vector<uint8_t>& out);

    // The server took our COM-PORT-OPTION and answered both BINARY requests.
    bool complete() const;
    // The server will not do COM-PORT-OPTION with us.
    bool refused() const { return comPortRefused_; }

private:
    enum class Side : uint8_t { kNo, kYes, kWantYes };
    static bool welcome(uint8_t option) {
        return option == kBinary || option == kSuppressGoAhead || option == kComPortOption;
    }
    std::array<Side, 256> us_{};
    std::array<Side, 256> him_{};
    bool binaryAnswered_[2] = {false, false};  // ours, his
    bool comPortRefused_ = false;
};

}  // namespace comm::rfc2217
