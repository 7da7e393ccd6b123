#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "comm/comm_error.h"
#include "comm/traffic_stream.h"
#include "platform/port_backend.h"

namespace comm {

// Where "ComN" names go; the program chooses once at start-up, before any port opens. Until
// then it is the simulated PC.
void usePortBackend(platform::PortBackend backend);

// Line settings; the ordinal is the stored value. Setters keep the old value when handed an
// ordinal outside the type (a list index of -1 passed straight through), so no table is ever
// read past its end.
enum TBaudrate : uint8_t {
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200,
    br128000,
    br256000
};
// The bits per second a TBaudrate stands for; 0 for an ordinal outside the type.
uint32_t bitsPerSecond(TBaudrate rate);
enum TParity : uint8_t { paNone, paOdd, paEven, paMark, paSpace };
enum TStopbits : uint8_t { sb10, sb15, sb20 };
enum TDatabits : uint8_t { da4, da5, da6, da7, da8 };
enum TFlowControl : uint8_t { fcNone, fcCTS, fcDTR, fcSoftware, fcDefault };
enum TCommOption : uint8_t {
    coParityCheck,
    coDsrSensitivity,
    coIgnoreXOff,
    coErrorChar,
    coNullStrip
};
enum TCommEventType : uint8_t {
    evBreak,
    evCts,
    evDsr,
    evError,
    evRing,
    evRlsd,
    evRxChar,
    evRxFlag,
    evTxEmpty
};

// A set of the first N members of an enumeration, one bit per ordinal.
template <typename E, int N>
class TSet {
public:
    constexpr TSet() = default;
    constexpr TSet(std::initializer_list<E> members) {
        for (E m : members) bits_ |= bit(m);
    }
    static constexpr TSet all() { return fromBits(kAll); }
    // Bits beyond the N members are dropped.
    static constexpr TSet fromBits(uint16_t bits) {
        TSet s;
        s.bits_ = bits & kAll;
        return s;
    }
    constexpr uint16_t bits() const { return bits_; }
    constexpr bool contains(E m) const { return (bits_ & bit(m)) != 0; }
    constexpr bool empty() const { return bits_ == 0; }
    constexpr bool operator==(const TSet&) const = default;

private:
    static constexpr uint16_t kAll = static_cast<uint16_t>((1u << N) - 1);
    static constexpr uint16_t bit(E m) {
        return static_cast<int>(m) < N ? static_cast<uint16_t>(1u << m) : 0;
    }
    uint16_t bits_ = 0;
};

using TCommOptions = TSet<TCommOption, 5>;
using TCommEventTypes = TSet<TCommEventType, 9>;

// The operating system's event masks, one per TCommEventType.
inline constexpr uint32_t EV_RXCHAR = 0x0001;
inline constexpr uint32_t EV_RXFLAG = 0x0002;
inline constexpr uint32_t EV_TXEMPTY = 0x0004;
inline constexpr uint32_t EV_CTS = 0x0008;
inline constexpr uint32_t EV_DSR = 0x0010;
inline constexpr uint32_t EV_RLSD = 0x0020;
inline constexpr uint32_t EV_BREAK = 0x0040;
inline constexpr uint32_t EV_ERR = 0x0080;
inline constexpr uint32_t EV_RING = 0x0100;

// The error flags handed to OnError.
inline constexpr uint32_t CE_RXOVER = 0x0001;
inline constexpr uint32_t CE_OVERRUN = 0x0002;
inline constexpr uint32_t CE_RXPARITY = 0x0004;
inline constexpr uint32_t CE_FRAME = 0x0008;
inline constexpr uint32_t CE_BREAK = 0x0010;
inline constexpr uint32_t CE_TXFULL = 0x0100;
inline constexpr uint32_t CE_PTO = 0x0200;
inline constexpr uint32_t CE_IOE = 0x0400;
inline constexpr uint32_t CE_DNS = 0x0800;
inline constexpr uint32_t CE_OOP = 0x1000;
inline constexpr uint32_t CE_MODE = 0x8000;

// EscapeCommFunction codes.
inline constexpr uint32_t SETXOFF = 1;
inline constexpr uint32_t SETXON = 2;
inline constexpr uint32_t SETRTS = 3;
inline constexpr uint32_t CLRRTS = 4;
inline constexpr uint32_t SETDTR = 5;
inline constexpr uint32_t CLRDTR = 6;
inline constexpr uint32_t SETBREAK = 8;
inline constexpr uint32_t CLRBREAK = 9;

// The mask a set of events waits for.
uint32_t eventMask(TCommEventTypes events);

// The device control block, as the component builds it; each system maps it to its own driver.
struct Dcb {
    uint32_t BaudRate = 9600;
    uint32_t Flags = 0x0001;
    uint16_t XonLim = 0;
    uint16_t XoffLim = 0;
    uint8_t ByteSize = 8;
    uint8_t Parity = 0;
    uint8_t StopBits = 0;
    char XonChar = 17;
    char XoffChar = 19;
    char ErrorChar = 0;
    char EofChar = 0;
    char EvtChar = 0;
    bool operator==(const Dcb&) const = default;
};

// The DCB flag word.
inline constexpr uint32_t kDcbBinary = 0x0001;
inline constexpr uint32_t kDcbParity = 0x0002;
inline constexpr uint32_t kDcbOutxCtsFlow = 0x0004;
inline constexpr uint32_t kDcbOutxDsrFlow = 0x0008;
inline constexpr uint32_t kDcbDtrControlMask = 0x0030;
inline constexpr uint32_t kDcbDtrControlEnable = 0x0010;
inline constexpr uint32_t kDcbDtrControlHandshake = 0x0020;
inline constexpr uint32_t kDcbDsrSensitivity = 0x0040;
inline constexpr uint32_t kDcbTxContinueOnXoff = 0x0080;
inline constexpr uint32_t kDcbOutX = 0x0100;
inline constexpr uint32_t kDcbInX = 0x0200;
inline constexpr uint32_t kDcbErrorChar = 0x0400;
inline constexpr uint32_t kDcbNull = 0x0800;
inline constexpr uint32_t kDcbRtsControlMask = 0x3000;
inline constexpr uint32_t kDcbRtsControlEnable = 0x1000;
inline constexpr uint32_t kDcbRtsControlHandshake = 0x2000;
inline constexpr uint32_t kDcbAbortOnError = 0x4000;

// Runs a call on the thread that owns the component and returns when it has run there. The
// application passes a blocking queued call into its event loop. It must stay callable until
// every watcher it was given to has ended.
using RunOnOwner = std::function<void(const std::function<void()>&)>;

class OsPort;
class TCustomComm;
struct WatcherControl;

// The watcher of an open port: waits for the port's line events and hands each completed wait
// to the owner thread, blocking until the handlers there have run. It holds the port it
// watches, so its last purge never reaches a handle that was closed and reused; it is told to
// stop, never destroyed by the component. After a stop it hands nothing over any more, even a
// call already queued on the owner thread does nothing when it runs.
class TCommEventThread {
public:
    using TCommEvent = std::function<void(TCommEventThread* Sender, uint32_t EventMask)>;

    // Sets the port's event mask and starts the thread at once.
    TCommEventThread(std::shared_ptr<OsPort> CommHandle, TCommEventTypes Events,
                     RunOnOwner runOnOwner);
    ~TCommEventThread();
    TCommEventThread(const TCommEventThread&) = delete;
    TCommEventThread& operator=(const TCommEventThread&) = delete;

    // Set before the first event arrives, on the owner thread (Open does so at once).
    void SetOnCommEvent(TCommEvent handler);
    // Wakes the pending wait and marks the thread terminated; returns at once.
    void Stop();
    // Waits for the thread to end unless it is in the middle of a handover (then the owner
    // thread, which we are on, would have to run it first); returns whether it has ended.
    bool WaitUnlessHandingOver();
    // The thread body has ended (stopped, or a handler's exception ended it).
    bool Finished() const;
    // When the wait whose events are being handled completed, on the traffic stream's clock:
    // the moment the line changed as closely as the device tells it, before the handover's
    // trip to the owner thread.
    int64_t EventTimeUs() const;

private:
    std::shared_ptr<WatcherControl> control_;
};

// The five special characters of the line. Setting one re-applies the owner's line settings.
class TCommEventChars {
public:
    explicit TCommEventChars(TCustomComm* owner) : OwnerComm(owner) {}
    void Assign(const TCommEventChars& source);

    char XonChar() const { return xonChar_; }
    char XoffChar() const { return xoffChar_; }
    char ErrorChar() const { return errorChar_; }
    char EofChar() const { return eofChar_; }
    char EvtChar() const { return evtChar_; }
    void SetXonChar(char value);
    void SetXoffChar(char value);
    void SetErrorChar(char value);
    void SetEofChar(char value);
    void SetEvtChar(char value);

    TCustomComm* const OwnerComm;

private:
    void set(char& field, char value);
    char xonChar_ = 17;
    char xoffChar_ = 19;
    char errorChar_ = 0;
    char eofChar_ = 0;
    char evtChar_ = 0;
};

// One serial port of the operating system: line settings kept applied while open, a watcher
// thread that delivers line events to the owner thread, transfers with time-outs and line
// control. Every failure raises ECommError; Read and Write return -1 on a time-out. All
// operations except Read and Write belong to the owner thread. The properties are published by
// TComm.
class TCustomComm {
public:
    using TNotifyEvent = std::function<void(TCustomComm* Sender)>;
    using TCommErrorEvent = std::function<void(TCustomComm* Sender, int32_t Errors)>;
    using TCommRxCharEvent = std::function<void(TCustomComm* Sender, int32_t Count)>;
    using Handle_t = intptr_t;
    static constexpr Handle_t kInvalidHandle = -1;

    explicit TCustomComm(RunOnOwner runOnOwner);
    virtual ~TCustomComm();
    TCustomComm(const TCustomComm&) = delete;
    TCustomComm& operator=(const TCustomComm&) = delete;

    // Opens the port and applies the settings; whatever fails, it raises with the component
    // closed.
    void Open();
    void Close();
    bool IsOpen() const { return Handle != kInvalidHandle; }
    void RequireClosed() const;
    void ApplyLineSettings();
    void ApplyFlowControl(Dcb& dcb) const;
    void ApplyTimeouts();
    int32_t ProviderType() const;

    int32_t Write(const void* Buffer, int32_t Count);
    // Writes what the port takes within TimeoutMs and says how much that was, 0 to Count: unlike
    // Write, a time-out is no -1, so a caller that sends a long run piece by piece (a file, while
    // the far end holds the line) knows where to go on and sends no byte twice. Any thread.
    int32_t WritePart(const void* Buffer, int32_t Count, int32_t TimeoutMs);
    int32_t Read(void* Buffer, int32_t Count);
    void Lock() { IoLock.lock(); }
    void Unlock() { IoLock.unlock(); }
    bool EscapeFunction(uint32_t code);
    void SetDtr(bool State);
    void SetRts(bool State);
    void SetXon(bool State);
    void SetBreak(bool State);
    bool ModemSignal(int index) const;
    [[noreturn]] static void RaiseCommError(const std::string& msg, int32_t ErrCode);

    // The watcher of the current opening, or nullptr while closed.
    TCommEventThread* EventThread() const { return eventThread_.get(); }
    // Inside an event handler: when the watcher saw the event (TCommEventThread::EventTimeUs);
    // 0 while closed.
    int64_t EventTimeUs() const { return eventThread_ ? eventThread_->EventTimeUs() : 0; }
    const Dcb& CurrentDcb() const { return dcb_; }

    // What the port received and sent: the stream of the current or last opening (a new one at
    // each Open), nullptr before the first Open. Readers may keep it past Close.
    std::shared_ptr<TrafficStream> Traffic() const;
    // Any rate; 0 = the rate of the BaudRate enumeration (the default). Applied like the other
    // line settings, also while open; a rate the port refuses keeps the old one.
    void SetCustomBaudRate(uint32_t bitsPerSecond);
    uint32_t CustomBaudRate() const { return customBaudRate_; }
    // The rate the open port really runs at, as read back from the device or server; 0 when
    // closed or unknown.
    uint32_t ActualBaudRate() const;

protected:
    // Opens the system handle; a descendant may open the device another way (AttachHandle), or
    // leave the component closed.
    virtual void CreateHandle();
    void ReleaseHandle();
    // Makes port the open handle.
    void AttachHandle(std::shared_ptr<OsPort> port);
    void HandleCommEvent(TCommEventThread* Sender, uint32_t Status);

    const std::string& DeviceName() const { return deviceName_; }
    void SetDeviceName(const std::string& value);
    int32_t ReadTimeout() const { return readTimeout_; }
    void SetReadTimeout(int32_t value) { readTimeout_ = value; }
    int32_t WriteTimeout() const { return writeTimeout_; }
    void SetWriteTimeout(int32_t value) { writeTimeout_ = value; }
    int32_t ReadBufSize() const { return readBufSize_; }
    void SetReadBufSize(int32_t value);
    int32_t WriteBufSize() const { return writeBufSize_; }
    void SetWriteBufSize(int32_t value);
    TCommEventTypes MonitorEvents() const { return monitorEvents_; }
    void SetMonitorEvents(TCommEventTypes value);
    TBaudrate BaudRate() const { return baudRate_; }
    void SetBaudRate(TBaudrate value);
    TParity Parity() const { return parity_; }
    void SetParity(TParity value);
    TStopbits Stopbits() const { return stopbits_; }
    void SetStopbits(TStopbits value);
    TDatabits Databits() const { return databits_; }
    void SetDatabits(TDatabits value);
    TCommEventChars& EventChars() { return eventChars_; }
    TCommOptions Options() const { return options_; }
    void SetOptions(TCommOptions value);
    TFlowControl FlowControl() const { return flowControl_; }
    void SetFlowControl(TFlowControl value);

    TNotifyEvent OnBreak;
    TNotifyEvent OnCts;
    TNotifyEvent OnDsr;
    TCommErrorEvent OnError;
    TNotifyEvent OnRing;
    TNotifyEvent OnRlsd;
    TCommRxCharEvent OnRxChar;
    TNotifyEvent OnRxFlag;
    TNotifyEvent OnTxEmpty;

    Handle_t Handle = kInvalidHandle;

private:
    template <typename T>
    void reapply(T& field, T value, int count);
    template <typename T>
    void reapply(T& field, T value);
    int32_t WriteWithin(const void* Buffer, int32_t Count, int32_t timeoutMs, bool partOnTimeout);
    void followPortLine(OsPort& port);
    template <typename T>
    void refuseWhileOpen(T& field, const T& value);
    std::shared_ptr<OsPort> port() const;

    RunOnOwner runOnOwner_;
    std::shared_ptr<OsPort> port_;
    std::shared_ptr<TrafficStream> traffic_;  // kept after Close for late readers
    mutable std::mutex portGuard_;            // port_ is read by Read/Write on any thread
    Dcb dcb_;
    std::string deviceName_ = "Com2";
    std::mutex IoLock;
    std::atomic<int32_t> readTimeout_{1000};
    std::atomic<int32_t> writeTimeout_{1000};
    int32_t readBufSize_ = 4096;
    int32_t writeBufSize_ = 2048;
    TCommEventTypes monitorEvents_ = TCommEventTypes::all();
    TBaudrate baudRate_ = br9600;
    uint32_t customBaudRate_ = 0;
    TParity parity_ = paNone;
    TStopbits stopbits_ = sb10;
    TDatabits databits_ = da8;
    std::unique_ptr<TCommEventThread> eventThread_;
    TCommEventChars eventChars_{this};
    TCommOptions options_;
    TFlowControl flowControl_ = fcDefault;
};

// The published component: the properties and events of TCustomComm, nothing else.
class TComm : public TCustomComm {
public:
    using TCustomComm::TCustomComm;

    using TCustomComm::BaudRate;
    using TCustomComm::Databits;
    using TCustomComm::DeviceName;
    using TCustomComm::EventChars;
    using TCustomComm::FlowControl;
    using TCustomComm::MonitorEvents;
    using TCustomComm::Options;
    using TCustomComm::Parity;
    using TCustomComm::ReadBufSize;
    using TCustomComm::ReadTimeout;
    using TCustomComm::SetBaudRate;
    using TCustomComm::SetDatabits;
    using TCustomComm::SetDeviceName;
    using TCustomComm::SetFlowControl;
    using TCustomComm::SetMonitorEvents;
    using TCustomComm::SetOptions;
    using TCustomComm::SetParity;
    using TCustomComm::SetReadBufSize;
    using TCustomComm::SetReadTimeout;
    using TCustomComm::SetStopbits;
    using TCustomComm::SetWriteBufSize;
    using TCustomComm::SetWriteTimeout;
    using TCustomComm::Stopbits;
    using TCustomComm::WriteBufSize;
    using TCustomComm::WriteTimeout;

    using TCustomComm::OnBreak;
    using TCustomComm::OnCts;
    using TCustomComm::OnDsr;
    using TCustomComm::OnError;
    using TCustomComm::OnRing;
    using TCustomComm::OnRlsd;
    using TCustomComm::OnRxChar;
    using TCustomComm::OnRxFlag;
    using TCustomComm::OnTxEmpty;
};

// The name of a provider sub-type code.
std::string ProviderTypeName(int32_t code);

}  // namespace comm
