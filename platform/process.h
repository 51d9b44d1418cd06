// Windows and processes, as much as running-instance discovery needs: the
// Z-ordered list of top-level windows, a window's user data and owning
// process, querying a process's executable image, the drive letters and their
// device names, and posting a message to a window.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/kernel.h"

namespace platform {

// An opaque top-level window handle; null is "no window".
using WindowHandle = void*;

// Process access rights, with Win32's values.
constexpr uint32_t kProcessQueryInformation = 0x0400;
constexpr uint32_t kProcessQueryLimitedInformation = 0x1000;

// GetTopWindow(NULL): the top-level window at the top of the Z order, or null.
WindowHandle TopWindow();
// GetWindow(window, GW_HWNDNEXT): the window below it in Z order, or null.
WindowHandle NextWindow(WindowHandle window);

// GetWindowLongPtrW(window, GWLP_USERDATA); 0 for a window that does not exist.
uintptr_t WindowUserData(WindowHandle window);

// GetWindowThreadProcessId: the id of the window's process, 0 if none.
uint32_t WindowProcessId(WindowHandle window);

// OpenProcess(access, not inheritable, processId): a handle (close it with
// platform::CloseHandle) or null.
Handle OpenProcessForQuery(uint32_t access, uint32_t processId);

// GetProcessImageFileNameW: the executable's path in device form
// (\Device\HarddiskVolume2\...). Returns the length written, 0 on failure.
uint32_t ProcessImageFileName(Handle process, char16_t* buffer, uint32_t capacity);

// GetLogicalDriveStringsW: the drive roots ("C:\"), each NUL-terminated, the
// list ended by an empty string. Returns the length of the list without its
// final NUL, 0 on failure, or the length needed if capacity is too small.
uint32_t LogicalDriveStrings(uint32_t capacity, char16_t* buffer);

// QueryDosDeviceW(deviceName, buffer, capacity): the device names behind a
// drive name ("C:"), each NUL-terminated, the first one first. Returns the
// number of code units stored, 0 on failure.
uint32_t QueryDosDeviceName(const char16_t* deviceName, char16_t* buffer, uint32_t capacity);

// Whether two executable paths name the same file as the running-instance
// search compares them: the C runtime's _wcsicmp under the locale in force
// (start-up sets it), which folds the letter case of the whole alphabet the
// locale knows. The simulated machine folds what platform/text.h folds.
bool SameExecutablePath(const char16_t* a, const char16_t* b);

// PostMessageW.
bool PostWindowMessage(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);

}  // namespace platform
