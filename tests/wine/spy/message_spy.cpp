// A message hook loaded into a running Tavlo: records the private messages
// and the test's sentinel as the modal loop retrieves them.
#include <windows.h>

#include "tests/wine/spy/spy_log.h"

namespace {

SpyLog* Log() {
  static SpyLog* log = [] {
    HANDLE mapping = ::OpenFileMappingW(FILE_MAP_WRITE, FALSE, kSpyMappingName);
    if (!mapping) return static_cast<SpyLog*>(nullptr);
    return static_cast<SpyLog*>(::MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(SpyLog)));
  }();
  return log;
}

}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK SpyGetMsgProc(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HC_ACTION && wParam == PM_REMOVE) {
    const MSG* msg = reinterpret_cast<const MSG*>(lParam);
    if (msg->message == 0x5370 || msg->message == 0x4F69 || msg->message == kSpySentinel) {
      if (SpyLog* log = Log()) {
        const LONG index = ::InterlockedIncrement(&log->count) - 1;
        if (index >= 0 && index < 256) {
          log->entries[index] = {msg->message, ::GetCurrentProcessId(), static_cast<ULONGLONG>(msg->wParam),
                                 static_cast<LONGLONG>(msg->lParam)};
        }
      }
    }
  }
  return ::CallNextHookEx(nullptr, code, wParam, lParam);
}
