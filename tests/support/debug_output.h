// The debug output of every process of the session, read as a debug-output
// viewer reads it (the DBWIN_BUFFER mapping and its two events), for the
// Windows tests that check Tavlo's failure lines (platform/trace.h). One
// reader at a time per session: tests that use it run serially.
#pragma once

#include <windows.h>

#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

class DebugOutputReader {
 public:
  bool Start() {
    ready_ = ::CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_BUFFER_READY");
    data_ = ::CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY");
    mapping_ = ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, L"DBWIN_BUFFER");
    if (!ready_ || !data_ || !mapping_) return false;
    view_ = static_cast<const char*>(::MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, 4096));
    if (!view_) return false;
    thread_ = std::thread([this] {
      while (!stop_) {
        ::SetEvent(ready_);
        if (::WaitForSingleObject(data_, 50) != WAIT_OBJECT_0) continue;
        DWORD pid = 0;
        memcpy(&pid, view_, sizeof pid);
        std::string text(view_ + sizeof pid, strnlen(view_ + sizeof pid, 4096 - sizeof pid));
        ::EnterCriticalSection(&lock_);
        lines_.push_back({pid, text});
        ::LeaveCriticalSection(&lock_);
      }
    });
    return true;
  }
  ~DebugOutputReader() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (view_) ::UnmapViewOfFile(view_);
    for (HANDLE h : {ready_, data_, mapping_})
      if (h) ::CloseHandle(h);
    ::DeleteCriticalSection(&lock_);
  }
  // The lines of process `pid` seen so far.
  std::vector<std::string> LinesOf(DWORD pid) {
    std::vector<std::string> out;
    ::EnterCriticalSection(&lock_);
    for (const auto& l : lines_)
      if (l.first == pid) out.push_back(l.second);
    ::LeaveCriticalSection(&lock_);
    return out;
  }
  DebugOutputReader() { ::InitializeCriticalSection(&lock_); }

 private:
  HANDLE ready_ = nullptr, data_ = nullptr, mapping_ = nullptr;
  const char* view_ = nullptr;
  std::thread thread_;
  volatile bool stop_ = false;
  CRITICAL_SECTION lock_;
  std::vector<std::pair<DWORD, std::string>> lines_;
};
