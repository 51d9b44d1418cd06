// User-mode control of the test keyboard filter driver (kbdfiltr_test.sys),
// for tests that run under Wine: install and start it as a kernel-driver
// service, stop and delete it, inject key transitions, read and clear the log
// of what reached its control device.
//
// Only one driver of this name can be installed in a prefix at a time: tests
// that use it carry the ctest RESOURCE_LOCK "kbdfiltr_test_driver".
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tests/driver/kbdfiltr_test_protocol.h"

namespace testdriver {

constexpr wchar_t kServiceName[] = L"kbdfiltr_test_QX7TL4";
constexpr wchar_t kControlDevicePath[] = L"\\\\.\\kbdfiltr_QX7TL4";
constexpr wchar_t kTestDevicePath[] = L"\\\\.\\kbdfiltr_test_QX7TL4";
constexpr wchar_t kDriverFileName[] = L"kbdfiltr_test.sys";

// The driver file beside the running executable (the build puts the two in
// the same folder); empty when the executable's path cannot be read.
std::wstring DriverPathBesideExecutable();

// Installs the driver file at sys_path as the demand-start kernel-driver
// service kServiceName and starts it. A service of that name left behind by
// an earlier run is stopped and deleted first. Returns ERROR_SUCCESS, or the
// Win32 error of the step that failed, whose name goes to *failed_step.
DWORD InstallAndStart(const std::wstring& sys_path, std::string* failed_step = nullptr);

// Stops the service (waiting up to timeout_ms for it to stop) and deletes it.
// ERROR_SUCCESS also when no such service exists.
DWORD StopAndDelete(DWORD timeout_ms = 10000);

// Installs and starts on construction, stops and deletes on destruction.
class ScopedDriver {
 public:
  explicit ScopedDriver(const std::wstring& sys_path = DriverPathBesideExecutable());
  ~ScopedDriver();
  ScopedDriver(const ScopedDriver&) = delete;
  ScopedDriver& operator=(const ScopedDriver&) = delete;
  DWORD error() const { return error_; }
  const std::string& failed_step() const { return failed_step_; }

 private:
  DWORD error_ = ERROR_SUCCESS;
  std::string failed_step_;
};

// One scan-code transition as the keyboard delivers it.
inline KbdTestTransition Make(uint8_t make_code, bool e0 = false) {
  return KbdTestTransition{make_code, static_cast<unsigned short>(e0 ? KBDTEST_KEY_E0 : 0u)};
}
inline KbdTestTransition Break(uint8_t make_code, bool e0 = false) {
  return KbdTestTransition{make_code, static_cast<unsigned short>(KBDTEST_KEY_BREAK | (e0 ? KBDTEST_KEY_E0 : 0u))};
}

// One entry of the log.
struct LogEntry {
  uint32_t kind = 0;  // KbdTestLogKind
  uint32_t code = 0;
  int32_t status = 0;
  uint32_t process_id = 0;
  bool holder = false;  // through the open that holds the control device
  int64_t time = 0;     // when the request reached the driver (DriverClock)
  std::vector<uint8_t> input;
  // The Event field of every record, as sent, when the input is a whole key
  // table; empty otherwise.
  std::vector<uint64_t> TableEvents() const;
};

struct Log {
  std::vector<LogEntry> entries;
  uint32_t dropped = 0;
};

// Reads a log as the driver returns it. False for bytes that are not a whole
// log (short, wrong magic, an entry running past the end or of a bad size).
bool ParseLog(const uint8_t* bytes, size_t size, Log* out);

// One line per entry, e.g. "ioctl 0x00222138 in 1 01 -> 0x00000000"; an
// entry made through an open that does not hold the control device ends in
// " other-open".
std::string Describe(const LogEntry& entry);

// The driver's clock (KeQueryPerformanceCounter) read from user mode, and its
// ticks per second: the times in the log and the state are on it.
int64_t DriverClock();
int64_t DriverClockFrequency();

// A handle of the test device \\.\kbdfiltr_test_QX7TL4. Each call returns
// ERROR_SUCCESS or the Win32 error.
class TestDevice {
 public:
  TestDevice() = default;
  ~TestDevice();
  TestDevice(const TestDevice&) = delete;
  TestDevice& operator=(const TestDevice&) = delete;

  DWORD Open();
  void Close();
  bool is_open() const { return handle_ != INVALID_HANDLE_VALUE; }

  // Hands the transitions to the driver in order. signalled (optional)
  // receives the indices of the key-table records whose events it set.
  DWORD Inject(const std::vector<KbdTestTransition>& transitions, std::vector<uint32_t>* signalled = nullptr);
  DWORD ReadLog(Log* out);
  DWORD ClearLog();
  DWORD QueryState(KbdTestState* out);
  // The driver sets `event` (of this process) each time its log grows, from
  // now on; null stops it.
  DWORD SetNotify(HANDLE event);
  // Asks for the state every few milliseconds until done(state) holds
  // (ERROR_SUCCESS) or timeout_ms passed (ERROR_TIMEOUT): for waiting on
  // another process, e.g. until the program under test installed its table.
  DWORD WaitUntil(const std::function<bool(const KbdTestState&)>& done, DWORD timeout_ms);

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

}  // namespace testdriver
