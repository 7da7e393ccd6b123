#pragma once

namespace comm::texts {

// The component's messages; each is raised with " (Error: N) " appended.
inline constexpr const char* kPortAlreadyOpen = "Port already assigned (open)";
inline constexpr const char* kErrorAccessingDevice = "Error accessing specified device";
inline constexpr const char* kInvalidDeviceHandle = "Invalid device handle, access denied";
inline constexpr const char* kErrorCommTimeouts = "Error updating CommTimeouts";
inline constexpr const char* kErrorDcb = "Error updating DataControlBlock";
inline constexpr const char* kErrorBuffers = "Error initializing Read/Write Buffers";
inline constexpr const char* kWriteError = "Write error";
inline constexpr const char* kReadError = "Read error";
inline constexpr const char* kPortNotOpen = "Port not open, unable to complete operation";
inline constexpr const char* kEscapeFailure = "EscapeCommFunction failure";

}  // namespace comm::texts
