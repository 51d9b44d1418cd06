// Control devices on real Win32.
#include <windows.h>

#include "platform/control_device.h"

namespace platform {

Handle OpenControlDevice(const char16_t* path) {
  return ::CreateFileW(reinterpret_cast<const wchar_t*>(path), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       0, nullptr);
}

bool SendControlCode(Handle device, uint32_t code, const void* input, uint32_t inputSize) {
  DWORD bytesReturned = 0;
  return ::DeviceIoControl(device, code, const_cast<void*>(input), inputSize, nullptr, 0, &bytesReturned, nullptr) !=
         FALSE;
}

}  // namespace platform
