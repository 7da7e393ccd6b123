#include "timeline/lanes.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "uart/registers.h"

namespace timeline {

namespace {

struct RegisterBits {
    int offset;
    std::string_view name;
    // Bit names from bit 0 up; an empty name is a bit without a lane of its own.
    std::array<std::string_view, 8> bits;
};

// The names of the 16550's registers and their bits as its data sheet gives them (the masks are
// in uart/registers.h), read (not written) at each offset.
constexpr std::array<RegisterBits, 8> kUartRegisters = {{
    {uart::reg::kRbrThrDll, "RBR", {}},
    {uart::reg::kIerDlm, "IER", {"ERBFI", "ETBEI", "ELSI", "EDSSI"}},
    {uart::reg::kIirFcr, "IIR", {"NOINT", "ID0", "ID1", "ID2"}},
    {uart::reg::kLcr, "LCR", {"WLS0", "WLS1", "STB", "PEN", "EPS", "SP", "BC", "DLAB"}},
    {uart::reg::kMcr, "MCR", {"DTR", "RTS", "OUT1", "OUT2", "LOOP"}},
    {uart::reg::kLsr, "LSR", {"DR", "OE", "PE", "FE", "BI", "THRE", "TEMT", "FIFOERR"}},
    {uart::reg::kMsr, "MSR", {"DCTS", "DDSR", "TERI", "DDCD", "CTS", "DSR", "RI", "DCD"}},
    {uart::reg::kScr, "SCR", {}},
}};

Lane bitLane(std::string name, Scope scope, Signal signal, int bit) {
    return {std::move(name), scope, signal, static_cast<uint8_t>(1u << bit)};
}

}  // namespace

std::vector<Lane> allLanes(bool uartBlock) {
    std::vector<Lane> lanes;
    for (const RegisterBits& reg : kUartRegisters) {
        const auto signal = static_cast<Signal>(kRegister0 + reg.offset);
        const std::string name =
            uartBlock ? std::string(reg.name) : "REG" + std::to_string(reg.offset);
        for (int bit = 0; bit < 8; ++bit) {
            if (uartBlock && !reg.bits[bit].empty())
                lanes.push_back(
                    bitLane(name + "_" + std::string(reg.bits[bit]), Scope::Block, signal, bit));
            else if (!uartBlock)
                lanes.push_back(
                    bitLane(name + "_B" + std::to_string(bit), Scope::Block, signal, bit));
        }
        lanes.push_back({name, Scope::Block, signal, 0xFF});
    }
    const std::array<std::pair<const char*, Signal>, 6> levels = {{{"CTS", kPortCts},
                                                                   {"DSR", kPortDsr},
                                                                   {"RLSD", kPortRlsd},
                                                                   {"RING", kPortRing},
                                                                   {"RTS", kPortRts},
                                                                   {"DTR", kPortDtr}}};
    for (const auto& [name, signal] : levels)
        lanes.push_back(bitLane(name, Scope::Port, signal, 0));
    lanes.push_back({"RX", Scope::Port, kPortReceived, 0xFF});
    lanes.push_back({"TX", Scope::Port, kPortSent, 0xFF});
    const std::array<std::pair<const char*, uint8_t>, 5> events = {
        {{"BREAK", comm::kTrafficBreak},
         {"PARITY", comm::kTrafficParityError},
         {"FRAMING", comm::kTrafficFramingError},
         {"OVERRUN", comm::kTrafficOverrun},
         {"OVERFLOW", comm::kTrafficQueueOverflow}}};
    for (const auto& [name, flag] : events)
        lanes.push_back({name, Scope::Port, kPortLineEvents, flag});
    return lanes;
}

std::vector<std::string> defaultLaneNames() {
    return {"MSR_CTS", "MSR_DSR", "MSR_DCD", "MSR_RI", "MCR_RTS", "MCR_DTR",
            "RTS",     "DTR",     "RX",      "TX",     "LSR_OE",  "LSR_PE",
            "LSR_FE",  "LSR_BI",  "BREAK",   "PARITY", "FRAMING", "OVERRUN"};
}

std::vector<Lane> lanesNamed(const std::vector<std::string>& names, bool uartBlock) {
    const std::vector<Lane> all = allLanes(uartBlock);
    std::vector<Lane> chosen;
    for (const std::string& name : names) {
        const auto lane =
            std::find_if(all.begin(), all.end(), [&](const Lane& l) { return l.name == name; });
        if (lane != all.end()) chosen.push_back(*lane);
    }
    return chosen;
}

LaneValue laneValueAt(const Recorder& recorder, const Lane& lane, int64_t timeUs) {
    const size_t after = recorder.lowerBound(lane.signal, timeUs + 1);
    if (signalKind(lane.signal) == SignalKind::Event) {
        if (after > 0) {
            const Record event = recorder.at(lane.signal, after - 1);
            if (event.timeUs == timeUs) return {true, lane.valueOf(event.value)};
        }
        return {true, 0};
    }
    if (after == 0) return {};
    return {true, lane.valueOf(recorder.at(lane.signal, after - 1).value)};
}

int64_t laneChangeTime(const Recorder& recorder, const Lane& lane, int64_t timeUs, bool forward) {
    const Signal signal = lane.signal;
    const bool event = signalKind(signal) == SignalKind::Event;
    // A record changes the lane when, for a level, its bit differs from the record before it,
    // and for an event, when it has the lane's bit at all.
    const auto changes = [&](size_t index) {
        const uint8_t value = lane.valueOf(recorder.at(signal, index).value);
        if (event) return lane.isBit() ? value != 0 : true;
        return index == 0 || value != lane.valueOf(recorder.at(signal, index - 1).value);
    };
    const size_t size = recorder.size(signal);
    if (forward) {
        for (size_t i = recorder.lowerBound(signal, timeUs + 1); i < size; ++i)
            if (changes(i)) return recorder.at(signal, i).timeUs;
    } else {
        for (size_t i = recorder.lowerBound(signal, timeUs); i-- > 0;)
            if (changes(i)) return recorder.at(signal, i).timeUs;
    }
    return -1;
}

}  // namespace timeline
