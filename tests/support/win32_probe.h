// What the Windows tests (tests/wine/, tests/e2e/, tests/keyboard/,
// tests/package/) look up about another process, and their text for
// messages.
#pragma once

#include <windows.h>
#include <tlhelp32.h>

#include <string>
#include <vector>

// The top-level windows of a process.
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

// The ids of a process's threads; false (and none) when the system's thread
// list cannot be read.
inline bool ThreadsOf(DWORD processId, std::vector<DWORD>* threads) {
  threads->clear();
  HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return false;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Thread32First(snapshot, &entry); more; more = ::Thread32Next(snapshot, &entry))
    if (entry.th32OwnerProcessID == processId) threads->push_back(entry.th32ThreadID);
  ::CloseHandle(snapshot);
  return true;
}

// Wide text as ASCII for test messages; other characters show as '?'.
inline std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}
