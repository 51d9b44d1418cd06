#include "tests/e2e/keyboard_support.h"

#include "layer/driver_link.h"
#include "tests/support/win32_probe.h"

namespace e2e {

std::vector<int> ModeCalls(const testdriver::Log& log) {
  std::vector<int> modes;
  for (const testdriver::LogEntry& e : log.entries)
    if (e.kind == KBDTEST_LOG_DEVICE_CONTROL && e.code == tavlo::IOCTL_SET_LAYER_MODE)
      modes.push_back(e.input.size() == 1 ? e.input[0] : -1);
  return modes;
}

std::vector<int> ModeCalls(testdriver::TestDevice& device) {
  testdriver::Log log;
  if (device.ReadLog(&log) != ERROR_SUCCESS) return {-2};
  return ModeCalls(log);
}

std::vector<int> WaitForModeCalls(testdriver::TestDevice& device, size_t count, DWORD timeout_ms) {
  const DWORD start = ::GetTickCount();
  for (;;) {
    const std::vector<int> modes = ModeCalls(device);
    if (modes.size() >= count || ::GetTickCount() - start >= timeout_ms) return modes;
    ::Sleep(5);
  }
}

int ThreadCount(DWORD pid) {
  std::vector<DWORD> threads;
  return ThreadsOf(pid, &threads) ? static_cast<int>(threads.size()) : -1;
}

namespace {

// The system's handle list (SystemHandleInformation), as ntdll returns it.
struct SystemHandleEntry {
  ULONG OwnerPid;
  UCHAR ObjectType;
  UCHAR HandleFlags;
  USHORT HandleValue;
  PVOID ObjectPointer;
  ACCESS_MASK AccessMask;
};
struct SystemHandleList {
  ULONG Count;
  SystemHandleEntry Handles[1];
};
constexpr ULONG kSystemHandleInformation = 16;
constexpr LONG kStatusInfoLengthMismatch = static_cast<LONG>(0xC0000004);

}  // namespace

int HandleCount(DWORD pid) {
  using QueryFunction = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
  static const auto query = reinterpret_cast<QueryFunction>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
  if (!query) return -1;
  std::vector<unsigned char> buffer(1 << 18);
  for (;;) {
    ULONG needed = 0;
    const LONG status = query(kSystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
    if (status == kStatusInfoLengthMismatch && buffer.size() < (1u << 26)) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (status != 0) return -1;
    break;
  }
  const auto* list = reinterpret_cast<const SystemHandleList*>(buffer.data());
  const size_t room = (buffer.size() - offsetof(SystemHandleList, Handles)) / sizeof(SystemHandleEntry);
  if (list->Count > room) return -1;
  int count = 0;
  for (ULONG i = 0; i < list->Count; ++i)
    if (list->Handles[i].OwnerPid == pid) ++count;
  return count;
}

int WaitForCount(int (*count)(DWORD), DWORD pid, int wanted, DWORD timeout_ms) {
  const DWORD start = ::GetTickCount();
  for (;;) {
    const int now = count(pid);
    if (now == wanted || ::GetTickCount() - start >= timeout_ms) return now;
    ::Sleep(10);
  }
}

}  // namespace e2e
