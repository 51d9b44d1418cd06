// Windows and processes on real Win32. psapi.dll is not imported: its one
// function comes from platform/win32/system_libraries.h.
#include <windows.h>

#include <cwchar>

#include "platform/process.h"
#include "platform/win32/system_libraries.h"

namespace platform {

static_assert(kProcessQueryInformation == PROCESS_QUERY_INFORMATION, "query right");
static_assert(sizeof(WindowHandle) == sizeof(HWND), "window handle width");

namespace {
HWND AsWindow(WindowHandle window) { return static_cast<HWND>(window); }
wchar_t* Wide(char16_t* text) { return reinterpret_cast<wchar_t*>(text); }
const wchar_t* Wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
}  // namespace

WindowHandle TopWindow() { return ::GetTopWindow(nullptr); }
WindowHandle NextWindow(WindowHandle window) { return ::GetWindow(AsWindow(window), GW_HWNDNEXT); }

uintptr_t WindowUserData(WindowHandle window) {
  return static_cast<uintptr_t>(::GetWindowLongPtrW(AsWindow(window), GWLP_USERDATA));
}

uint32_t WindowProcessId(WindowHandle window) {
  DWORD processId = 0;
  ::GetWindowThreadProcessId(AsWindow(window), &processId);
  return processId;
}

Handle OpenProcessForQuery(uint32_t access, uint32_t processId) { return ::OpenProcess(access, FALSE, processId); }

uint32_t ProcessImageFileName(Handle process, char16_t* buffer, uint32_t capacity) {
  const auto get = win32::Psapi().GetProcessImageFileNameW;
  if (!get) {
    ::SetLastError(ERROR_PROC_NOT_FOUND);
    return 0;
  }
  return get(process, Wide(buffer), capacity);
}

uint32_t LogicalDriveStrings(uint32_t capacity, char16_t* buffer) {
  return ::GetLogicalDriveStringsW(capacity, Wide(buffer));
}

uint32_t QueryDosDeviceName(const char16_t* deviceName, char16_t* buffer, uint32_t capacity) {
  return ::QueryDosDeviceW(Wide(deviceName), Wide(buffer), capacity);
}

bool SameExecutablePath(const char16_t* a, const char16_t* b) { return ::_wcsicmp(Wide(a), Wide(b)) == 0; }

bool PostWindowMessage(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  return ::PostMessageW(AsWindow(window), message, static_cast<WPARAM>(wParam), static_cast<LPARAM>(lParam)) != FALSE;
}

}  // namespace platform
