// Control devices of kernel drivers: an exclusive synchronous open by path and
// synchronous control calls (CreateFileW and DeviceIoControl without
// OVERLAPPED).
#pragma once

#include <cstdint>

#include "platform/kernel.h"

namespace platform {

// CreateFileW(path, GENERIC_READ | GENERIC_WRITE, no sharing, no security
// attributes, OPEN_EXISTING, flags 0, no template). Returns the handle, or
// InvalidHandle() with LastError() set (kErrorFileNotFound when no such
// device exists, kErrorSharingViolation when it is already open).
Handle OpenControlDevice(const char16_t* path);

// DeviceIoControl(device, code, input, inputSize, no output buffer, 0,
// &bytesReturned, no OVERLAPPED). A null input with size 0 sends no buffer.
// Returns whether the driver accepted the call; LastError() is set if not.
bool SendControlCode(Handle device, uint32_t code, const void* input, uint32_t inputSize);

}  // namespace platform
