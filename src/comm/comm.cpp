#include "comm/comm.h"

#include <algorithm>
#include <array>
#include <cerrno>

#include "comm/comm_os.h"
#include "comm/comm_texts.h"

namespace comm {

namespace {

constexpr std::array<uint32_t, 15> kBaudRates = {110,   300,   600,    1200,   2400,
                                                 4800,  9600,  14400,  19200,  38400,
                                                 56000, 57600, 115200, 128000, 256000};

constexpr std::array<uint32_t, 5> kOptionFlags = {kDcbParity, kDcbDsrSensitivity,
                                                  kDcbTxContinueOnXoff, kDcbErrorChar, kDcbNull};

constexpr std::array<uint32_t, 9> kEventMasks = {EV_BREAK, EV_CTS,    EV_DSR,    EV_ERR,    EV_RING,
                                                 EV_RLSD,  EV_RXCHAR, EV_RXFLAG, EV_TXEMPTY};

}  // namespace

uint32_t bitsPerSecond(TBaudrate rate) {
    return rate < kBaudRates.size() ? kBaudRates[rate] : 0;
}

uint32_t eventMask(TCommEventTypes events) {
    uint32_t mask = 0;
    for (size_t i = 0; i < kEventMasks.size(); ++i)
        if (events.contains(static_cast<TCommEventType>(i))) mask |= kEventMasks[i];
    return mask;
}

void TCommEventChars::Assign(const TCommEventChars& source) {
    xonChar_ = source.xonChar_;
    xoffChar_ = source.xoffChar_;
    errorChar_ = source.errorChar_;
    eofChar_ = source.eofChar_;
    evtChar_ = source.evtChar_;
}

void TCommEventChars::set(char& field, char value) {
    field = value;
    OwnerComm->ApplyLineSettings();
}

void TCommEventChars::SetXonChar(char value) {
    set(xonChar_, value);
}
void TCommEventChars::SetXoffChar(char value) {
    set(xoffChar_, value);
}
void TCommEventChars::SetErrorChar(char value) {
    set(errorChar_, value);
}
void TCommEventChars::SetEofChar(char value) {
    set(eofChar_, value);
}
void TCommEventChars::SetEvtChar(char value) {
    set(evtChar_, value);
}

TCustomComm::TCustomComm(RunOnOwner runOnOwner) : runOnOwner_(std::move(runOnOwner)) {}

TCustomComm::~TCustomComm() {
    Close();
}

void TCustomComm::RaiseCommError(const std::string& msg, int32_t ErrCode) {
    throw ECommError(msg, ErrCode);
}

void TCustomComm::RequireClosed() const {
    if (IsOpen()) RaiseCommError(texts::kPortAlreadyOpen, -1);
}

std::shared_ptr<OsPort> TCustomComm::port() const {
    std::lock_guard guard(portGuard_);
    return port_;
}

void TCustomComm::AttachHandle(std::shared_ptr<OsPort> port) {
    std::lock_guard guard(portGuard_);
    Handle = port ? port->handle() : kInvalidHandle;
    if (port) traffic_ = port->traffic();
    port_ = std::move(port);
}

void TCustomComm::CreateHandle() {
    int error = 0;
    std::shared_ptr<OsPort> opened = osOpen(deviceName_, error);
    if (!opened) RaiseCommError(texts::kErrorAccessingDevice, error);
    AttachHandle(opened);
    if (!opened->isCharacterDevice()) {
        ReleaseHandle();
        RaiseCommError(texts::kInvalidDeviceHandle, -1);
    }
}

void TCustomComm::ReleaseHandle() {
    std::shared_ptr<OsPort> closing = port();
    if (closing) closing->close();
    AttachHandle(nullptr);
}

void TCustomComm::Open() {
    RequireClosed();
    CreateHandle();
    if (!IsOpen()) return;
    // A port that cannot be set up is closed again before the error goes out: left open it
    // would hold the device (or a connection, and its thread) that the caller was told it did
    // not get, and the next Open would be refused for it.
    try {
        eventThread_ = std::make_unique<TCommEventThread>(port(), monitorEvents_, runOnOwner_);
        eventThread_->SetOnCommEvent(
            [this](TCommEventThread* sender, uint32_t status) { HandleCommEvent(sender, status); });
        ApplyTimeouts();
        ApplyLineSettings();
        if (int error = port()->setupComm(static_cast<uint32_t>(readBufSize_),
                                          static_cast<uint32_t>(writeBufSize_)))
            RaiseCommError(texts::kErrorBuffers, error);
    } catch (...) {
        Close();
        throw;
    }
}

// Waits for the watcher when it is merely waiting; a watcher caught in a handover (Close called
// from a handler, or its call queued behind this one) is left to end by itself: its queued call
// does nothing once it is stopped, and it holds the port it purges.
void TCustomComm::Close() {
    if (!IsOpen()) return;
    std::unique_ptr<TCommEventThread> watcher = std::move(eventThread_);
    if (watcher) watcher->Stop();
    ReleaseHandle();
    if (watcher) watcher->WaitUnlessHandingOver();
}

void TCustomComm::ApplyTimeouts() {
    std::shared_ptr<OsPort> p = port();
    const int error = p ? p->setReadsReturnAtOnce() : EBADF;
    if (error) RaiseCommError(texts::kErrorCommTimeouts, error);
}

void TCustomComm::ApplyLineSettings() {
    std::shared_ptr<OsPort> p = port();
    if (!p) return;
    p->getCommState(dcb_);
    dcb_.BaudRate = customBaudRate_ != 0 ? customBaudRate_ : kBaudRates[baudRate_];
    dcb_.Parity = parity_;
    dcb_.StopBits = stopbits_;
    dcb_.ByteSize = static_cast<uint8_t>(4 + databits_);
    dcb_.XonChar = eventChars_.XonChar();
    dcb_.XoffChar = eventChars_.XoffChar();
    dcb_.ErrorChar = eventChars_.ErrorChar();
    dcb_.EofChar = eventChars_.EofChar();
    dcb_.EvtChar = eventChars_.EvtChar();
    dcb_.XonLim = dcb_.XoffLim = static_cast<uint16_t>(readBufSize_ / 4);
    ApplyFlowControl(dcb_);
    for (size_t i = 0; i < kOptionFlags.size(); ++i) {
        if (options_.contains(static_cast<TCommOption>(i))) {
            dcb_.Flags |= kOptionFlags[i];
        } else {
            dcb_.Flags &= ~kOptionFlags[i];
        }
    }
    if (int error = p->setCommState(dcb_)) {
        followPortLine(*p);
        RaiseCommError(texts::kErrorDcb, error);
    }
}

// A refused DCB leaves the port on the line it had. The stored speed and frame follow it, so the
// next change is not refused again for what was refused before: a pseudo-terminal that will
// not take 7-bit words must still take a new speed.
void TCustomComm::followPortLine(OsPort& port) {
    if (port.getCommState(dcb_) != 0) return;
    const auto rate = std::find(kBaudRates.begin(), kBaudRates.end(), dcb_.BaudRate);
    if (rate != kBaudRates.end()) {
        baudRate_ = static_cast<TBaudrate>(rate - kBaudRates.begin());
        customBaudRate_ = 0;
    } else if (dcb_.BaudRate != 0) {
        customBaudRate_ = dcb_.BaudRate;
    }
    if (dcb_.Parity <= paSpace) parity_ = static_cast<TParity>(dcb_.Parity);
    if (dcb_.StopBits <= sb20) stopbits_ = static_cast<TStopbits>(dcb_.StopBits);
    if (dcb_.ByteSize >= 5 && dcb_.ByteSize <= 8)
        databits_ = static_cast<TDatabits>(dcb_.ByteSize - 4);
}

void TCustomComm::ApplyFlowControl(Dcb& dcb) const {
    switch (flowControl_) {
        case fcNone:
            dcb.Flags = kDcbBinary;
            break;
        case fcCTS:
            dcb.Flags = kDcbBinary | kDcbOutxCtsFlow | kDcbRtsControlHandshake;
            break;
        case fcDTR:
            dcb.Flags = kDcbBinary | kDcbOutxDsrFlow | kDcbDtrControlHandshake;
            break;
        case fcSoftware:
            dcb.Flags = kDcbBinary | kDcbOutX | kDcbInX;
            break;
        case fcDefault:
            break;
    }
}

int32_t TCustomComm::ProviderType() const {
    std::shared_ptr<OsPort> p = port();
    int32_t type = -1;
    if (!p || p->getProviderSubType(type) != 0) return -1;
    return type;
}

// An ordinal outside its type keeps the old value: nothing is looked up past a table. A value
// the port refuses is not kept either, so it is not built into every later DCB.
template <typename T>
void TCustomComm::reapply(T& field, T value, int count) {
    if (static_cast<int>(value) < count) reapply(field, value);
}

template <typename T>
void TCustomComm::reapply(T& field, T value) {
    if (value == field) return;
    const T previous = field;
    field = value;
    try {
        ApplyLineSettings();
    } catch (const ECommError&) {
        field = previous;
        throw;
    }
}

template <typename T>
void TCustomComm::refuseWhileOpen(T& field, const T& value) {
    if (value == field) return;
    RequireClosed();
    field = value;
}

void TCustomComm::SetDeviceName(const std::string& value) {
    refuseWhileOpen(deviceName_, value);
}
void TCustomComm::SetReadBufSize(int32_t value) {
    refuseWhileOpen(readBufSize_, value);
}
void TCustomComm::SetWriteBufSize(int32_t value) {
    refuseWhileOpen(writeBufSize_, value);
}
void TCustomComm::SetMonitorEvents(TCommEventTypes value) {
    refuseWhileOpen(monitorEvents_, value);
}
void TCustomComm::SetBaudRate(TBaudrate value) {
    reapply(baudRate_, value, static_cast<int>(kBaudRates.size()));
}
void TCustomComm::SetCustomBaudRate(uint32_t bitsPerSecond) {
    reapply(customBaudRate_, bitsPerSecond);
}
void TCustomComm::SetParity(TParity value) {
    reapply(parity_, value, paSpace + 1);
}
void TCustomComm::SetStopbits(TStopbits value) {
    reapply(stopbits_, value, sb20 + 1);
}
void TCustomComm::SetDatabits(TDatabits value) {
    reapply(databits_, value, da8 + 1);
}
void TCustomComm::SetFlowControl(TFlowControl value) {
    reapply(flowControl_, value, fcDefault + 1);
}
void TCustomComm::SetOptions(TCommOptions value) {
    if (value == options_) return;
    options_ = value;
    ApplyLineSettings();
}

// The handlers in the order of TCommEventType. A handler that closes the port (or closes and
// opens it again) ends the dispatch: the rest of the mask belongs to a handle that is gone.
void TCustomComm::HandleCommEvent(TCommEventThread* Sender, uint32_t Status) {
    uint32_t errors = 0;
    OsPort::ComStat stat;
    // A failed ClearCommError reports no errors and an empty queue.
    if (std::shared_ptr<OsPort> p = port(); !p || p->clearCommError(errors, stat) != 0) {
        errors = 0;
        stat = {};
    }
    auto fire = [&](uint32_t bit, const auto& handler, auto&&... args) {
        if (eventThread_.get() != Sender) return;
        if ((Status & bit) && handler) handler(this, args...);
    };
    fire(EV_BREAK, OnBreak);
    fire(EV_CTS, OnCts);
    fire(EV_DSR, OnDsr);
    fire(EV_ERR, OnError, static_cast<int32_t>(errors));
    fire(EV_RING, OnRing);
    fire(EV_RLSD, OnRlsd);
    if (stat.cbInQue > 0) fire(EV_RXCHAR, OnRxChar, static_cast<int32_t>(stat.cbInQue));
    fire(EV_RXFLAG, OnRxFlag);
    fire(EV_TXEMPTY, OnTxEmpty);
}

int32_t TCustomComm::Write(const void* Buffer, int32_t Count) {
    std::lock_guard guard(IoLock);
    std::shared_ptr<OsPort> p = port();
    if (!p) RaiseCommError(texts::kWriteError, EBADF);
    const OsPort::Transfer t =
        p->write(static_cast<const uint8_t*>(Buffer), Count < 0 ? 0 : Count, writeTimeout_);
    // What the port accepted went out, also when the rest failed or timed out.
    if (t.count > 0)
        p->traffic()->appendBytes(static_cast<const uint8_t*>(Buffer), static_cast<size_t>(t.count),
                                  kTrafficSent);
    if (t.status == OsPort::Transfer::kFailed) RaiseCommError(texts::kWriteError, t.error);
    return t.status == OsPort::Transfer::kTimedOut ? -1 : t.count;
}

int32_t TCustomComm::Read(void* Buffer, int32_t Count) {
    std::lock_guard guard(IoLock);
    std::shared_ptr<OsPort> p = port();
    if (!p) RaiseCommError(texts::kReadError, EBADF);
    const OsPort::Transfer t =
        p->read(static_cast<uint8_t*>(Buffer), Count < 0 ? 0 : Count, readTimeout_);
    if (t.status == OsPort::Transfer::kFailed) RaiseCommError(texts::kReadError, t.error);
    return t.status == OsPort::Transfer::kTimedOut ? -1 : t.count;
}

std::shared_ptr<TrafficStream> TCustomComm::Traffic() const {
    std::lock_guard guard(portGuard_);
    return traffic_;
}

uint32_t TCustomComm::ActualBaudRate() const {
    std::shared_ptr<OsPort> p = port();
    uint32_t rate = 0;
    if (!p || p->getActualBaudRate(rate) != 0) return 0;
    return rate;
}

bool TCustomComm::EscapeFunction(uint32_t code) {
    std::shared_ptr<OsPort> p = port();
    if (!p) RaiseCommError(texts::kPortNotOpen, -1);
    if (int error = p->escapeCommFunction(code)) RaiseCommError(texts::kEscapeFailure, error);
    return true;
}

void TCustomComm::SetDtr(bool State) {
    EscapeFunction(State ? SETDTR : CLRDTR);
}
void TCustomComm::SetRts(bool State) {
    EscapeFunction(State ? SETRTS : CLRRTS);
}
void TCustomComm::SetXon(bool State) {
    EscapeFunction(State ? SETXON : SETXOFF);
}
void TCustomComm::SetBreak(bool State) {
    EscapeFunction(State ? SETBREAK : CLRBREAK);
    if (std::shared_ptr<OsPort> p = port()) p->purgeComm(kPurgeAll);
}

bool TCustomComm::ModemSignal(int index) const {
    static constexpr std::array<uint32_t, 4> kBits = {MS_CTS_ON, MS_DSR_ON, MS_RING_ON, MS_RLSD_ON};
    if (index < 1 || index > 4) return false;
    std::shared_ptr<OsPort> p = port();
    uint32_t status = 0;
    if (!p || p->getCommModemStatus(status) != 0) return false;
    return (status & kBits[index - 1]) != 0;
}

std::string ProviderTypeName(int32_t code) {
    switch (code) {
        case 0:
            return "Unspecified";
        case 1:
            return "RS-232 serial port";
        case 2:
            return "Parallel port";
        case 3:
            return "RS-422 port";
        case 4:
            return "RS-423 port";
        case 5:
            return "RS-449 port";
        case 6:
            return "Modem device";
        case 0x21:
            return "FAX device";
        case 0x22:
            return "Scanner device";
        case 0x100:
            return "Unspecified network bridge";
        case 0x101:
            return "LAT protocol";
        case 0x102:
            return "TCP/IP Telnet protocol";
        case 0x103:
            return "X.25 standards";
        default:
            return "Unknown provider id";
    }
}

}  // namespace comm
