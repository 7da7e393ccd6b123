#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "comm/comm.h"
#include "comm/traffic_stream.h"

namespace sim {
class SimulatedPc;
}

namespace comm {

// What every operating system supplies to the component: one open serial device, with the
// effects of the Win32 comm calls the component makes. Calls return 0 or the system's error
// number. Every call may come after close(), and then fails without touching any handle.
// read(), write(), clearCommError() and purgeComm() may be called from any thread, beside a
// pending waitCommEvent() on the watcher thread.
class OsPort {
public:
    virtual ~OsPort() = default;

    // The number the component shows as its Handle; never kInvalidHandle.
    virtual intptr_t handle() const = 0;
    // GetFileType() == FILE_TYPE_CHAR.
    virtual bool isCharacterDevice() const = 0;
    // Releases the device; a pending wait or transfer ends at once.
    virtual void close() = 0;

    virtual int setupComm(uint32_t inQueue, uint32_t outQueue) = 0;
    virtual int getCommState(Dcb& dcb) = 0;
    virtual int setCommState(const Dcb& dcb) = 0;
    // SetCommTimeouts(MAXDWORD, 0, 0, 0, 0): a read returns at once with what has arrived.
    virtual int setReadsReturnAtOnce() = 0;
    virtual int setCommMask(uint32_t mask) = 0;

    enum class Wait { kEvent, kCancelled, kFailed };
    // Blocks until an event of the mask happens (its bits in `events`), until cancelWait(), or
    // fails (error set). Events that come while nobody waits are kept for the next wait.
    virtual Wait waitCommEvent(uint32_t& events, int& error) = 0;
    // Ends the pending waitCommEvent() and every later one: the watcher is stopping.
    virtual void cancelWait() = 0;
    // While the watcher hands an event to its owner and waits for the handler, a backend may
    // go on taking in what arrives, as a driver fills its input queue whatever the program
    // does; what it raises meanwhile waits for the next waitCommEvent().
    virtual void setHandingOver(bool /*handingOver*/) {}

    struct ComStat {
        uint32_t cbInQue = 0;
        uint32_t cbOutQue = 0;
    };
    virtual int clearCommError(uint32_t& errors, ComStat& stat) = 0;
    virtual int purgeComm(uint32_t flags) = 0;

    // A transfer either completes within the time-out or is taken back before returning:
    // nothing of it is left running after the call.
    struct Transfer {
        enum Status { kDone, kTimedOut, kFailed } status = kDone;
        int32_t count = 0;
        int error = 0;
    };
    virtual Transfer read(uint8_t* buffer, int32_t count, int32_t timeoutMs) = 0;
    virtual Transfer write(const uint8_t* buffer, int32_t count, int32_t timeoutMs) = 0;

    virtual int escapeCommFunction(uint32_t code) = 0;
    virtual int getCommModemStatus(uint32_t& status) = 0;
    virtual int getProviderSubType(int32_t& type) = 0;

    // The rate the line really runs at: what the device or server reports back, which may
    // differ from the rate asked for within what a receiver tolerates.
    virtual int getActualBaudRate(uint32_t& bitsPerSecond) {
        Dcb dcb;
        const int error = getCommState(dcb);
        if (error == 0) bitsPerSecond = dcb.BaudRate;
        return error;
    }

    // This opening's traffic. It is made with the port, so the backend records from the first
    // byte on, before the component has the port in hand.
    const std::shared_ptr<TrafficStream>& traffic() const { return traffic_; }

private:
    const std::shared_ptr<TrafficStream> traffic_ = std::make_shared<TrafficStream>();
};

inline constexpr uint32_t PURGE_TXABORT = 0x0001;
inline constexpr uint32_t PURGE_RXABORT = 0x0002;
inline constexpr uint32_t PURGE_TXCLEAR = 0x0004;
inline constexpr uint32_t PURGE_RXCLEAR = 0x0008;
inline constexpr uint32_t kPurgeAll = 0x000F;

inline constexpr uint32_t MS_CTS_ON = 0x10;
inline constexpr uint32_t MS_DSR_ON = 0x20;
inline constexpr uint32_t MS_RING_ON = 0x40;
inline constexpr uint32_t MS_RLSD_ON = 0x80;

inline constexpr int32_t PST_RS232 = 1;
inline constexpr int32_t PST_NETWORK_BRIDGE = 0x100;
inline constexpr int32_t PST_TCPIP_TELNET = 0x102;

// A frame some UART can run: 5 to 8 data bits, a known parity and stop size, a rate above 0.
inline bool frameValid(const Dcb& dcb) {
    return dcb.ByteSize >= 5 && dcb.ByteSize <= 8 && dcb.Parity <= 4 && dcb.StopBits <= 2 &&
           dcb.BaudRate != 0;
}

// How far a port's real rate may be from the rate asked for: what a UART's receiver tolerates,
// and what a PC's serial driver demands of a divisor.
inline constexpr double kMaxRateError = 0.03;

// Opens a device by the name the user gave (CreateFileA, exclusive, overlapped). On failure the
// result is empty and error holds the system's error number.
std::shared_ptr<OsPort> osOpen(const std::string& name, int& error);

// The kind of device a name stands for: "ComN" (any case, N from 1) is simulated UART N while
// the simulated PC is the backend (there are four), otherwise /dev/ttyS(N-1);
// "rfc2217://HOST:PORT" is a port shared by a terminal server, "socket://HOST:PORT" a plain TCP
// connection to one (HOST a name, an IPv4 address or an IPv6 address in brackets; a malformed
// one leaves host empty); any other name with "/" is a path used as it is; any other name is
// looked up under /dev.
struct DeviceTarget {
    enum Kind { kSimulatedUart, kTtyPath, kRfc2217, kRawSocket } kind = kTtyPath;
    int simulatedCom = 0;  // 1-4 for a simulated UART
    std::string path;      // for a tty path
    std::string host;      // for a network port
    uint16_t port = 0;
};
DeviceTarget resolveDeviceName(const std::string& name, platform::PortBackend backend);

// A tty (or any other file) by its path, as the system's comm service opens a port.
std::shared_ptr<OsPort> openTtyPort(const std::string& path, int& error);

// A serial port on another machine: RFC 2217 (Telnet COM-PORT-OPTION) when rfc2217 is set,
// otherwise raw TCP whose line settings stay local. Open fails with the system's error number:
// ECONNREFUSED, ETIMEDOUT when connecting or negotiating takes too long, ENOENT for a host
// that does not resolve.
std::shared_ptr<OsPort> openNetworkPort(const std::string& host, uint16_t port, bool rfc2217,
                                        int& error);

// One step above normal priority for the calling thread, where the system lets the process
// raise it; otherwise the thread stays as it is (it costs latency, nothing else).
void raiseCurrentThreadPriority();

// The simulated serial driver: COM n (1-4) of pc, programmed as a PC's serial driver programs
// its UART. Only one opening of a port at a time: a second gets EBUSY.
std::shared_ptr<OsPort> openSimulatedPort(sim::SimulatedPc& pc, int com, int& error);

}  // namespace comm
