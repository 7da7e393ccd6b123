#include "comm/driver_core.h"

#include <algorithm>
#include <utility>

namespace comm {

DriverCore::DriverCore() {
    dcb_.Flags = kDcbBinary | kDcbDtrControlEnable | kDcbRtsControlEnable;
}

void DriverCore::setMask(uint32_t mask) {
    mask_ = mask;
    pending_ = 0;
}

uint32_t DriverCore::takeEvents() {
    return std::exchange(pending_, 0);
}

void DriverCore::receive(const uint8_t* bytes, size_t count) {
    if (count == 0) return;
    input_.insert(input_.end(), bytes, bytes + count);
    raise(EV_RXCHAR);
    if (std::find(bytes, bytes + count, static_cast<uint8_t>(dcb_.EvtChar)) != bytes + count)
        raise(EV_RXFLAG);
}

size_t DriverCore::take(uint8_t* buffer, size_t count) {
    const size_t n = std::min(input_.size(), count);
    std::copy_n(input_.begin(), n, buffer);
    input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(n));
    return n;
}

void DriverCore::reportErrors(uint32_t errors) {
    if (errors & CE_BREAK) raise(EV_BREAK);
    if (errors & ~CE_BREAK) raise(EV_ERR);
    errors_ |= errors;
}

uint32_t DriverCore::takeErrors() {
    return std::exchange(errors_, 0);
}

}  // namespace comm
