// The top-level windows of a process, for the Windows tests that drive
// Tavlo.exe (tests/wine/, tests/e2e/).
#pragma once

#include <windows.h>

#include <vector>

inline std::vector<HWND> TopWindowsOf(DWORD processId) {
  struct Find {
    DWORD processId;
    std::vector<HWND> found;
  } data{processId, {}};
  ::EnumWindows(
      [](HWND hwnd, LPARAM raw) -> BOOL {
        auto* d = reinterpret_cast<Find*>(raw);
        DWORD owner = 0;
        ::GetWindowThreadProcessId(hwnd, &owner);
        if (owner == d->processId) d->found.push_back(hwnd);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&data));
  return data.found;
}
