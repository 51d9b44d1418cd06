// The record a message spy keeps of the messages a running Tavlo retrieves,
// in a named shared memory block the test reads.
#pragma once

#include <windows.h>

struct SpyEntry {
  UINT message;
  DWORD processId;
  ULONGLONG wParam;
  LONGLONG lParam;
};

struct SpyLog {
  volatile LONG count;
  SpyEntry entries[256];
};

constexpr wchar_t kSpyMappingName[] = L"TavloTestSpyLog";
// Set by tavlo_spy_host once its hook is in place.
constexpr wchar_t kSpyHostReadyName[] = L"TavloTestSpyHostReady";
// Posted by the test after everything it wants to see: once the spy records
// it, every message posted before it has been retrieved.
constexpr UINT kSpySentinel = WM_APP + 0x5A;
