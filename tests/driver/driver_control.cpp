#include "tests/driver/driver_control.h"

#include <cstdio>
#include <cstring>

namespace testdriver {
namespace {

struct ScHandle {
  SC_HANDLE h = nullptr;
  ScHandle() = default;
  explicit ScHandle(SC_HANDLE v) : h(v) {}
  ~ScHandle() {
    if (h) CloseServiceHandle(h);
  }
  ScHandle(const ScHandle&) = delete;
  ScHandle& operator=(const ScHandle&) = delete;
};

DWORD Fail(std::string* failed_step, const char* step) {
  DWORD error = GetLastError();
  if (failed_step) *failed_step = step;
  return error ? error : ERROR_GEN_FAILURE;
}

// Asks a service to stop and waits, bounded, until it reports it stopped.
DWORD StopService(SC_HANDLE service, DWORD timeout_ms) {
  SERVICE_STATUS status{};
  if (!ControlService(service, SERVICE_CONTROL_STOP, &status)) {
    DWORD error = GetLastError();
    if (error != ERROR_SERVICE_NOT_ACTIVE) return error;
    return ERROR_SUCCESS;
  }
  DWORD start = GetTickCount();
  while (status.dwCurrentState != SERVICE_STOPPED) {
    if (GetTickCount() - start > timeout_ms) return ERROR_TIMEOUT;
    Sleep(10);
    if (!QueryServiceStatus(service, &status)) return GetLastError();
  }
  return ERROR_SUCCESS;
}

}  // namespace

std::wstring DriverPathBesideExecutable() {
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return std::wstring();
  std::wstring s(path, n);
  size_t slash = s.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return std::wstring();
  return s.substr(0, slash + 1) + kDriverFileName;
}

DWORD InstallAndStart(const std::wstring& sys_path, std::string* failed_step) {
  if (sys_path.empty() || GetFileAttributesW(sys_path.c_str()) == INVALID_FILE_ATTRIBUTES)
    return Fail(failed_step, "find driver file");
  ScHandle scm(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!scm.h) return Fail(failed_step, "OpenSCManagerW");

  DWORD error = StopAndDelete();
  if (error != ERROR_SUCCESS) {
    if (failed_step) *failed_step = "remove earlier service";
    return error;
  }
  ScHandle service(CreateServiceW(scm.h, kServiceName, kServiceName, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                                  SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, sys_path.c_str(), nullptr, nullptr,
                                  nullptr, nullptr, nullptr));
  if (!service.h) return Fail(failed_step, "CreateServiceW");
  if (!StartServiceW(service.h, 0, nullptr)) {
    error = Fail(failed_step, "StartServiceW");
    DeleteService(service.h);
    return error;
  }
  return ERROR_SUCCESS;
}

DWORD StopAndDelete(DWORD timeout_ms) {
  ScHandle scm(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!scm.h) return GetLastError();
  ScHandle service(OpenServiceW(scm.h, kServiceName, SERVICE_ALL_ACCESS));
  if (!service.h) {
    DWORD error = GetLastError();
    return error == ERROR_SERVICE_DOES_NOT_EXIST ? ERROR_SUCCESS : error;
  }
  DWORD stop_error = StopService(service.h, timeout_ms);
  if (!DeleteService(service.h)) {
    DWORD error = GetLastError();
    if (error != ERROR_SERVICE_MARKED_FOR_DELETE) return error;
  }
  return stop_error;
}

ScopedDriver::ScopedDriver(const std::wstring& sys_path) { error_ = InstallAndStart(sys_path, &failed_step_); }

ScopedDriver::~ScopedDriver() { StopAndDelete(); }

std::vector<uint64_t> LogEntry::TableEvents() const {
  std::vector<uint64_t> events;
  if (kind != KBDTEST_LOG_DEVICE_CONTROL || code != KBDFILTR_IOCTL_SET_KEY_TABLE || input.size() != KBDFILTR_TABLE_SIZE)
    return events;
  for (size_t i = 0; i < KBDFILTR_RECORD_COUNT; ++i) {
    uint64_t v;
    std::memcpy(&v, input.data() + i * KBDFILTR_RECORD_SIZE + 16, 8);
    events.push_back(v);
  }
  return events;
}

bool ParseLog(const uint8_t* bytes, size_t size, Log* out) {
  *out = Log();
  if (!bytes || size < sizeof(KbdTestLogHeader)) return false;
  KbdTestLogHeader header;
  std::memcpy(&header, bytes, sizeof(header));
  if (header.Magic != KBDTEST_LOG_MAGIC || header.UsedBytes < sizeof(header) || header.UsedBytes > size) return false;
  size_t at = sizeof(header);
  for (uint32_t i = 0; i < header.EntryCount; ++i) {
    if (header.UsedBytes - at < sizeof(KbdTestLogEntry)) return false;
    KbdTestLogEntry e;
    std::memcpy(&e, bytes + at, sizeof(e));
    if (e.Size < sizeof(e) || e.Size % 8 != 0 || e.Size > header.UsedBytes - at || e.InputLength > e.Size - sizeof(e))
      return false;
    LogEntry entry;
    entry.kind = e.Kind;
    entry.code = e.Code;
    entry.status = e.Status;
    entry.process_id = e.ProcessId;
    entry.holder = e.Holder != 0;
    entry.time = e.Time;
    const uint8_t* in = bytes + at + sizeof(e);
    entry.input.assign(in, in + e.InputLength);
    out->entries.push_back(std::move(entry));
    at += e.Size;
  }
  if (at != header.UsedBytes) return false;
  out->dropped = header.Dropped;
  return true;
}

std::string Describe(const LogEntry& entry) {
  char line[64];
  std::string s;
  switch (entry.kind) {
    case KBDTEST_LOG_CREATE:
      s = "create";
      break;
    case KBDTEST_LOG_CLEANUP:
      s = "cleanup";
      break;
    case KBDTEST_LOG_CLOSE:
      s = "close";
      break;
    case KBDTEST_LOG_DEVICE_CONTROL:
      std::snprintf(line, sizeof line, "ioctl 0x%08x in %u", static_cast<unsigned>(entry.code),
                    static_cast<unsigned>(entry.input.size()));
      s = line;
      if (!entry.input.empty()) s += ' ';
      for (uint8_t b : entry.input) {
        std::snprintf(line, sizeof line, "%02x", b);
        s += line;
      }
      break;
    default:
      std::snprintf(line, sizeof line, "kind %u", static_cast<unsigned>(entry.kind));
      s = line;
  }
  std::snprintf(line, sizeof line, " -> 0x%08x", static_cast<unsigned>(entry.status));
  s += line;
  if (!entry.holder) s += " other-open";
  return s;
}

namespace {

// NtQueryPerformanceCounter is the user-mode face of the kernel's counter.
// (QueryPerformanceCounter may read another source: Wine can serve it from
// the processor's time-stamp counter.)
using QueryCounter = LONG(WINAPI*)(LARGE_INTEGER*, LARGE_INTEGER*);

QueryCounter CounterQuery() {
  static const auto query = reinterpret_cast<QueryCounter>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQueryPerformanceCounter")));
  return query;
}

}  // namespace

int64_t DriverClock() {
  LARGE_INTEGER now{};
  if (QueryCounter query = CounterQuery()) query(&now, nullptr);
  return now.QuadPart;
}

int64_t DriverClockFrequency() {
  LARGE_INTEGER now{}, frequency{};
  if (QueryCounter query = CounterQuery()) query(&now, &frequency);
  return frequency.QuadPart;
}

TestDevice::~TestDevice() { Close(); }

DWORD TestDevice::Open() {
  Close();
  handle_ = CreateFileW(kTestDevicePath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  return handle_ == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
}

void TestDevice::Close() {
  if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  handle_ = INVALID_HANDLE_VALUE;
}

DWORD TestDevice::Inject(const std::vector<KbdTestTransition>& transitions, std::vector<uint32_t>* signalled) {
  if (signalled) signalled->clear();
  if (transitions.empty() || transitions.size() > KBDTEST_MAX_TRANSITIONS) return ERROR_INVALID_PARAMETER;
  // Room for every record of the table at each transition.
  std::vector<uint32_t> out(transitions.size() * KBDFILTR_RECORD_COUNT);
  DWORD returned = 0;
  if (!DeviceIoControl(handle_, KBDTEST_IOCTL_INJECT, const_cast<KbdTestTransition*>(transitions.data()),
                       static_cast<DWORD>(transitions.size() * sizeof(KbdTestTransition)), out.data(),
                       static_cast<DWORD>(out.size() * sizeof(uint32_t)), &returned, nullptr))
    return GetLastError();
  if (returned % sizeof(uint32_t) != 0 || returned > out.size() * sizeof(uint32_t)) return ERROR_INVALID_DATA;
  if (signalled) signalled->assign(out.begin(), out.begin() + returned / sizeof(uint32_t));
  return ERROR_SUCCESS;
}

DWORD TestDevice::ReadLog(Log* out) {
  std::vector<uint8_t> buffer(KBDTEST_LOG_CAPACITY);
  DWORD returned = 0;
  if (!DeviceIoControl(handle_, KBDTEST_IOCTL_READ_LOG, nullptr, 0, buffer.data(), static_cast<DWORD>(buffer.size()),
                       &returned, nullptr))
    return GetLastError();
  return ParseLog(buffer.data(), returned, out) ? ERROR_SUCCESS : ERROR_INVALID_DATA;
}

DWORD TestDevice::ClearLog() {
  DWORD returned = 0;
  if (!DeviceIoControl(handle_, KBDTEST_IOCTL_CLEAR_LOG, nullptr, 0, nullptr, 0, &returned, nullptr))
    return GetLastError();
  return ERROR_SUCCESS;
}

DWORD TestDevice::QueryState(KbdTestState* out) {
  DWORD returned = 0;
  if (!DeviceIoControl(handle_, KBDTEST_IOCTL_QUERY_STATE, nullptr, 0, out, sizeof(*out), &returned, nullptr))
    return GetLastError();
  return returned == sizeof(*out) ? ERROR_SUCCESS : ERROR_INVALID_DATA;
}

DWORD TestDevice::SetNotify(HANDLE event) {
  const uint64_t value = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(event));
  DWORD returned = 0;
  if (!DeviceIoControl(handle_, KBDTEST_IOCTL_SET_NOTIFY, const_cast<uint64_t*>(&value), sizeof value, nullptr, 0,
                       &returned, nullptr))
    return GetLastError();
  return ERROR_SUCCESS;
}

DWORD TestDevice::WaitUntil(const std::function<bool(const KbdTestState&)>& done, DWORD timeout_ms) {
  DWORD start = GetTickCount();
  for (;;) {
    KbdTestState state{};
    if (DWORD error = QueryState(&state)) return error;
    if (done(state)) return ERROR_SUCCESS;
    if (GetTickCount() - start >= timeout_ms) return ERROR_TIMEOUT;
    Sleep(5);
  }
}

}  // namespace testdriver
