// Command-line control of the test keyboard filter driver, for test scripts
// and by hand (under Wine: wine64 kbdfiltr_test_ctl.exe COMMAND).
//   install [PATH]  install and start (default: kbdfiltr_test.sys beside this program)
//   remove          stop and delete the service (success when it is not installed)
//   state           the driver's state
//   log             the log of the control device, one line per entry
//   clear           clear the log
// Exit code 0 on success, 1 on failure, 2 for a bad command line.
#include <cstdio>
#include <cwchar>
#include <string>

#include "tests/driver/driver_control.h"

namespace {

int Report(DWORD error, const char* what) {
  if (error == ERROR_SUCCESS) return 0;
  std::fprintf(stderr, "kbdfiltr_test_ctl: %s failed, error %lu\n", what, static_cast<unsigned long>(error));
  return 1;
}

double Milliseconds(LARGE_INTEGER from, LARGE_INTEGER to, LARGE_INTEGER frequency) {
  return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: kbdfiltr_test_ctl install [PATH] | remove | state | log | clear\n");
    return 2;
  }
  const std::wstring command = argv[1];
  if (command == L"install") {
    std::wstring path = argc > 2 ? argv[2] : testdriver::DriverPathBesideExecutable();
    std::string step;
    LARGE_INTEGER f, t0, t1;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t0);
    DWORD error = testdriver::InstallAndStart(path, &step);
    QueryPerformanceCounter(&t1);
    if (error != ERROR_SUCCESS) return Report(error, step.c_str());
    std::printf("installed and started in %.1f ms\n", Milliseconds(t0, t1, f));
    return 0;
  }
  if (command == L"remove") {
    LARGE_INTEGER f, t0, t1;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t0);
    DWORD error = testdriver::StopAndDelete();
    QueryPerformanceCounter(&t1);
    if (error != ERROR_SUCCESS) return Report(error, "remove");
    std::printf("stopped and deleted in %.1f ms\n", Milliseconds(t0, t1, f));
    return 0;
  }

  testdriver::TestDevice device;
  if (DWORD error = device.Open()) return Report(error, "open test device");
  if (command == L"state") {
    KbdTestState s{};
    if (DWORD error = device.QueryState(&s)) return Report(error, "state");
    std::printf("control open %u, table %u, layer mode %u, events held %u, failed %u (0x%08x), owner %u\n",
                s.ControlOpen, s.TableInstalled, s.LayerMode, s.EventsHeld, s.EventsFailed,
                static_cast<unsigned>(s.LastDuplicateStatus), s.OwnerProcessId);
    return 0;
  }
  if (command == L"log") {
    testdriver::Log log;
    if (DWORD error = device.ReadLog(&log)) return Report(error, "log");
    for (const testdriver::LogEntry& e : log.entries)
      std::printf("%s pid %u\n", testdriver::Describe(e).c_str(), e.process_id);
    if (log.dropped) std::printf("dropped %u\n", log.dropped);
    return 0;
  }
  if (command == L"clear") return Report(device.ClearLog(), "clear");
  std::fprintf(stderr, "kbdfiltr_test_ctl: unknown command\n");
  return 2;
}
