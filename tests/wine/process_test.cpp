// Tavlo.exe as a process: single instance, the hidden window, /Kill and
// /Start, close handling and device notices. Every process a test starts is
// ended by the fixture, whatever happens to the test.
#include <windows.h>
#include <dbt.h>
extern "C" {
#include <hidsdi.h>
}

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "tests/support/debug_output.h"
#include "tests/support/win32_probe.h"
#include "tests/wine/spy/spy_log.h"

namespace {

constexpr LONG_PTR kMarker = 0x4D41494E;
constexpr UINT kInstanceOpen = 0x5370;
constexpr UINT kInstanceKill = 0x4F69;
const wchar_t kMutexName[] = L"Mornu_Mutex_QX7TL4";
const wchar_t kDriverBoxText[] = L"Detected that the driver is not fully installed!";

// A path of the build tree as a Windows path (the build tree is on Z:).
std::wstring WindowsPath(const char* posix) {
  std::wstring path = L"Z:";
  for (const char* p = posix; *p; ++p) path += (*p == '/') ? L'\\' : static_cast<wchar_t>(*p);
  return path;
}

// The Tavlo.exe under test (TAVLO_TEST_EXE of the build).
std::wstring TavloPath() { return WindowsPath(TAVLO_EXE); }

// The spy host of a process's bitness: a hook DLL loads only into a process
// of its own, so a 32-bit Tavlo under WoW64 gets the i686 spy.
std::wstring SpyHostFor(HANDLE process) {
  BOOL wow64 = FALSE;
  ::IsWow64Process(process, &wow64);
  return WindowsPath(wow64 ? TAVLO_SPY_X86_DIR : TAVLO_SPY_DIR) + L"\\tavlo_spy_host.exe";
}

// Starts path with the arguments.
PROCESS_INFORMATION StartProgram(const std::wstring& path, const std::wstring& arguments) {
  std::wstring line = L"\"" + path + L"\"";
  if (!arguments.empty()) line += L" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  std::vector<wchar_t> buffer(line.begin(), line.end());
  buffer.push_back(L'\0');
  EXPECT_TRUE(
      ::CreateProcessW(path.c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
      << "cannot start " << std::string(path.begin(), path.end());
  return info;
}

std::wstring OwnDirectory() {
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring dir = path;
  return dir.substr(0, dir.find_last_of(L'\\'));
}

bool HasChildWithText(HWND parent, const wchar_t* text) {
  for (HWND child = ::GetWindow(parent, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
    wchar_t buffer[256] = {};
    ::GetWindowTextW(child, buffer, 256);
    if (std::wstring(buffer) == text) return true;
  }
  return false;
}

// Closes the driver-missing message box of a process, if it shows one.
// Returns how many it closed.
int DismissDriverBox(DWORD processId) {
  int closed = 0;
  for (HWND w : TopWindowsOf(processId)) {
    if (::GetWindowLongPtrW(w, GWLP_USERDATA) == kMarker) continue;
    wchar_t cls[64] = {};
    ::GetClassNameW(w, cls, 64);
    if (std::wstring(cls) != L"#32770" || !HasChildWithText(w, kDriverBoxText)) continue;
    ::PostMessageW(w, WM_COMMAND, IDOK, 0);
    ++closed;
  }
  return closed;
}

struct Running {
  PROCESS_INFORMATION info{};
  HWND window = nullptr;
};

class TavloProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    // No instance may be left from before: the tests rely on the mutex.
    HANDLE leftover = ::OpenMutexW(SYNCHRONIZE, FALSE, kMutexName);
    if (leftover) ::CloseHandle(leftover);
    ASSERT_EQ(leftover, nullptr) << "a Tavlo instance is already running";
  }

  void TearDown() override {
    for (auto& p : started_) {
      if (::WaitForSingleObject(p.hProcess, 0) == WAIT_TIMEOUT) {
        ADD_FAILURE() << "process " << p.dwProcessId << " was still running";
        ::TerminateProcess(p.hProcess, 1);
        ::WaitForSingleObject(p.hProcess, 5000);
      }
      ::CloseHandle(p.hProcess);
      ::CloseHandle(p.hThread);
    }
    started_.clear();
    EndSpyHost();
    if (log_) ::UnmapViewOfFile(log_);
    if (mapping_) ::CloseHandle(mapping_);
  }

  // Starts path with the arguments; the fixture ends it if the test does not.
  PROCESS_INFORMATION Launch(const std::wstring& arguments, const std::wstring& path = TavloPath()) {
    PROCESS_INFORMATION info = StartProgram(path, arguments);
    if (info.hProcess) started_.push_back(info);
    return info;
  }

  // The process's marked main window, closing the driver box on the way.
  static HWND WaitForMainWindow(const PROCESS_INFORMATION& info, DWORD timeoutMs = 20000) {
    const DWORD start = ::GetTickCount();
    while (::GetTickCount() - start < timeoutMs) {
      for (HWND w : TopWindowsOf(info.dwProcessId)) {
        if (::GetWindowLongPtrW(w, GWLP_USERDATA) == kMarker) {
          // Initialisation goes on after the marker and may stop in the
          // driver box. A message sent to the window is handled at the next
          // pump: in the box's loop while it shows, else in the window's own
          // loop once initialisation is over. Close the box until none is
          // left.
          for (int round = 0; round < 50; ++round) {
            DWORD_PTR ignored = 0;
            ::SendMessageTimeoutW(w, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &ignored);
            if (DismissDriverBox(info.dwProcessId) == 0) break;
            ::Sleep(20);
          }
          return w;
        }
      }
      if (::WaitForSingleObject(info.hProcess, 50) == WAIT_OBJECT_0) return nullptr;
    }
    return nullptr;
  }

  // A primary instance, up and idle.
  Running StartPrimary(const std::wstring& arguments = L"", const std::wstring& path = TavloPath()) {
    Running r;
    r.info = Launch(arguments, path);
    r.window = WaitForMainWindow(r.info);
    EXPECT_NE(r.window, nullptr) << "no marked window";
    return r;
  }

  // Waits for a process to end on its own and gives its exit code (or -1).
  static long Ended(const PROCESS_INFORMATION& info, DWORD timeoutMs = 20000) {
    const DWORD start = ::GetTickCount();
    for (;;) {
      if (::WaitForSingleObject(info.hProcess, 50) == WAIT_OBJECT_0) break;
      DismissDriverBox(info.dwProcessId);
      if (::GetTickCount() - start > timeoutMs) return -1;
    }
    DWORD code = 0;
    ::GetExitCodeProcess(info.hProcess, &code);
    return static_cast<long>(code);
  }

  static bool StillRunning(const PROCESS_INFORMATION& info) {
    return ::WaitForSingleObject(info.hProcess, 0) == WAIT_TIMEOUT;
  }

  // Hooks the message retrieval of a running instance's main thread, through
  // the spy host of the instance's bitness.
  void Spy(const Running& r) {
    if (!mapping_) {
      mapping_ =
          ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(SpyLog), kSpyMappingName);
      ASSERT_NE(mapping_, nullptr);
      log_ = static_cast<SpyLog*>(::MapViewOfFile(mapping_, FILE_MAP_WRITE, 0, 0, sizeof(SpyLog)));
      ASSERT_NE(log_, nullptr);
    }
    EndSpyHost();
    HANDLE ready = ::CreateEventW(nullptr, FALSE, FALSE, kSpyHostReadyName);
    ASSERT_NE(ready, nullptr);
    const DWORD thread = ::GetWindowThreadProcessId(r.window, nullptr);
    host_ = StartProgram(SpyHostFor(r.info.hProcess), std::to_wstring(thread));
    const HANDLE either[] = {ready, host_.hProcess};
    const DWORD woke = host_.hProcess ? ::WaitForMultipleObjects(2, either, FALSE, 20000) : WAIT_FAILED;
    ::CloseHandle(ready);
    DWORD code = 0;
    if (woke == WAIT_OBJECT_0 + 1) ::GetExitCodeProcess(host_.hProcess, &code);
    ASSERT_EQ(woke, WAIT_OBJECT_0) << "the spy host set no hook (exit code " << code << ")";
    // The hook is live in the target once it sees a message.
    Sync(r);
  }

  // Ends the spy host, which takes its hook with it.
  void EndSpyHost() {
    if (!host_.hProcess) return;
    ::PostThreadMessageW(host_.dwThreadId, WM_QUIT, 0, 0);
    if (::WaitForSingleObject(host_.hProcess, 5000) != WAIT_OBJECT_0) {
      ::TerminateProcess(host_.hProcess, 1);
      ::WaitForSingleObject(host_.hProcess, 5000);
    }
    ::CloseHandle(host_.hProcess);
    ::CloseHandle(host_.hThread);
    host_ = {};
  }

  // Posts the sentinel and waits until the instance has retrieved it: every
  // message posted before has been retrieved and handled by then.
  void Sync(const Running& r) {
    const LONG before = log_->count;
    ::PostMessageW(r.window, kSpySentinel, before, 0);
    const DWORD start = ::GetTickCount();
    while (::GetTickCount() - start < 10000) {
      for (LONG i = before; i < log_->count && i < 256; ++i) {
        if (log_->entries[i].message == kSpySentinel) {
          ::SendMessageTimeoutW(r.window, WM_NULL, 0, 0, SMTO_BLOCK, 5000, nullptr);
          return;
        }
      }
      ::Sleep(20);
      ::PostMessageW(r.window, kSpySentinel, before, 0);  // in case the hook came late
    }
    FAIL() << "the spy never saw the sentinel";
  }

  // The private messages the spy saw, in order.
  std::vector<SpyEntry> PrivateMessages() const {
    std::vector<SpyEntry> seen;
    for (LONG i = 0; i < log_->count && i < 256; ++i) {
      if (log_->entries[i].message != kSpySentinel) seen.push_back(log_->entries[i]);
    }
    return seen;
  }

  std::vector<PROCESS_INFORMATION> started_;
  HANDLE mapping_ = nullptr;
  SpyLog* log_ = nullptr;
  PROCESS_INFORMATION host_{};
};

void ExpectHidden(HWND window) {
  EXPECT_FALSE(::IsWindowVisible(window));
  EXPECT_FALSE(::GetWindowLongW(window, GWL_STYLE) & WS_VISIBLE);
}

TEST_F(TavloProcess, PrimaryMarksItsWindowAndNeverShowsIt) {
  Running r = StartPrimary();
  ASSERT_TRUE(r.window);
  EXPECT_EQ(::GetWindowLongPtrW(r.window, GWLP_USERDATA), kMarker);
  wchar_t cls[64] = {}, caption[64] = {};
  ::GetClassNameW(r.window, cls, 64);
  ::GetWindowTextW(r.window, caption, 64);
  EXPECT_EQ(std::wstring(cls), L"#32770");
  EXPECT_EQ(std::wstring(caption), L"Tavlo");
  ExpectHidden(r.window);
  HANDLE mutex = ::OpenMutexW(SYNCHRONIZE, FALSE, kMutexName);
  EXPECT_NE(mutex, nullptr);
  if (mutex) ::CloseHandle(mutex);

  // The queue runs idle (where a modal loop would show a dialog), and after
  // a WM_INSTANCE_OPEN.
  Spy(r);
  ExpectHidden(r.window);
  ::PostMessageW(r.window, kInstanceOpen, 0x4F70656E, 0);
  Sync(r);
  ExpectHidden(r.window);
  EXPECT_EQ(::SendMessageW(r.window, kInstanceOpen, 1, 2), 0);
  ExpectHidden(r.window);
  EXPECT_TRUE(StillRunning(r.info));

  // WM_CLOSE from another program ends it.
  ::PostMessageW(r.window, WM_CLOSE, 0, 0);
  EXPECT_EQ(Ended(r.info), 0);
  EXPECT_FALSE(::IsWindow(r.window));
}

TEST_F(TavloProcess, LaterLaunchesSignalOpenUnlessStartedWithStart) {
  Running r = StartPrimary(L"/Start");  // /Start alone: a primary like any other
  ASSERT_TRUE(r.window);
  Spy(r);

  PROCESS_INFORMATION second = Launch(L"");
  EXPECT_EQ(Ended(second), 0);
  Sync(r);
  auto seen = PrivateMessages();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].message, kInstanceOpen);
  EXPECT_EQ(seen[0].wParam, 0x4F70656Eu);
  EXPECT_EQ(seen[0].lParam, 0);
  EXPECT_TRUE(StillRunning(r.info));
  ExpectHidden(r.window);

  // /Start: the launch ends and posts nothing.
  PROCESS_INFORMATION quiet = Launch(L"/start");
  EXPECT_EQ(Ended(quiet), 0);
  Sync(r);
  EXPECT_EQ(PrivateMessages().size(), 1u);

  // Look-alikes of /Kill are ignored: these are plain second launches.
  for (const wchar_t* notKill : {L"-Kill", L"Kill", L"/Kill:1"}) {
    PROCESS_INFORMATION p = Launch(notKill);
    EXPECT_EQ(Ended(p), 0);
  }
  Sync(r);
  seen = PrivateMessages();
  EXPECT_EQ(seen.size(), 4u);
  for (const auto& e : seen) EXPECT_EQ(e.message, kInstanceOpen);
  EXPECT_TRUE(StillRunning(r.info));

  // /Start before /Kill does not stop the kill.
  PROCESS_INFORMATION killer = Launch(L"/Start /Kill");
  EXPECT_EQ(Ended(killer), 0);
  EXPECT_EQ(Ended(r.info), 0);
  seen = PrivateMessages();
  ASSERT_EQ(seen.size(), 5u);
  EXPECT_EQ(seen[4].message, kInstanceKill);
  EXPECT_EQ(seen[4].wParam, 0x4B696C6Cu);
  EXPECT_EQ(seen[4].lParam, 0);
}

TEST_F(TavloProcess, KillInAnyLetterCaseEndsTheInstance) {
  for (const wchar_t* kill : {L"/kill", L"/KILL", L"/Kill"}) {
    SCOPED_TRACE(std::string(kill, kill + wcslen(kill)));
    Running r = StartPrimary();
    ASSERT_TRUE(r.window);
    PROCESS_INFORMATION killer = Launch(kill);
    EXPECT_EQ(Ended(killer), 0);
    EXPECT_EQ(Ended(r.info), 0);
  }
}

// A /Kill that arrives while the start-up is still in the driver-missing box
// closes the instance as soon as the box is dismissed: the box is not left
// behind a window that no longer exists, and no instance keeps running.
TEST_F(TavloProcess, KillDuringTheDriverBoxEndsTheInstanceOnceTheBoxIsClosed) {
  PROCESS_INFORMATION primary = Launch(L"");
  HWND box = nullptr;
  const DWORD start = ::GetTickCount();
  while (!box && ::GetTickCount() - start < 20000) {
    for (HWND w : TopWindowsOf(primary.dwProcessId)) {
      wchar_t cls[64] = {};
      ::GetClassNameW(w, cls, 64);
      if (std::wstring(cls) == L"#32770" && HasChildWithText(w, kDriverBoxText)) box = w;
    }
    if (!box) ::Sleep(20);
  }
  if (!box) GTEST_SKIP() << "no driver box: a filter driver is present in this prefix";
  PROCESS_INFORMATION killer = Launch(L"/Kill");
  EXPECT_EQ(Ended(killer), 0);
  EXPECT_TRUE(::IsWindow(box)) << "the box stays until the user closes it";
  EXPECT_TRUE(StillRunning(primary));
  ::PostMessageW(box, WM_COMMAND, IDOK, 0);
  EXPECT_EQ(Ended(primary), 0) << "the instance must end once its box is closed";
}

// A name taken by another kind of object makes the mutex fail to open and to
// be created; every launch then runs as a primary, so several instances of
// one path run at once, and /Kill closes them all.
TEST_F(TavloProcess, KillEndsEveryInstanceOfThePath) {
  HANDLE squatter = ::CreateEventW(nullptr, TRUE, FALSE, kMutexName);
  ASSERT_NE(squatter, nullptr);
  Running a = StartPrimary();
  Running b = StartPrimary();
  ASSERT_TRUE(a.window && b.window);
  EXPECT_NE(a.window, b.window);
  PROCESS_INFORMATION killer = Launch(L"/Kill");
  EXPECT_EQ(Ended(killer), 0);
  EXPECT_EQ(Ended(a.info), 0);
  EXPECT_EQ(Ended(b.info), 0);
  ::CloseHandle(squatter);
}

TEST_F(TavloProcess, KillWithNothingRunningMakesNoMutexAndNoWindow) {
  PROCESS_INFORMATION killer = Launch(L"/Kill");
  bool sawMutex = false, sawWindow = false;
  const DWORD start = ::GetTickCount();
  while (StillRunning(killer) && ::GetTickCount() - start < 20000) {
    HANDLE m = ::OpenMutexW(SYNCHRONIZE, FALSE, kMutexName);
    if (m) {
      sawMutex = true;
      ::CloseHandle(m);
    }
    if (!TopWindowsOf(killer.dwProcessId).empty()) sawWindow = true;
    ::Sleep(5);
  }
  EXPECT_EQ(Ended(killer, 1000), 0);
  EXPECT_FALSE(sawMutex);
  EXPECT_FALSE(sawWindow);
}

TEST_F(TavloProcess, CopyUnderAnotherPathIsAStranger) {
  const std::wstring dir = OwnDirectory() + L"\\copy";
  ::CreateDirectoryW(dir.c_str(), nullptr);
  const std::wstring copy = dir + L"\\Tavlo.exe";
  ASSERT_TRUE(::CopyFileW(TavloPath().c_str(), copy.c_str(), FALSE));

  // The copy runs; launches of the original neither open nor kill it.
  {
    Running other = StartPrimary(L"", copy);
    ASSERT_TRUE(other.window);
    Spy(other);
    EXPECT_EQ(Ended(Launch(L"")), 0);
    EXPECT_EQ(Ended(Launch(L"/Kill")), 0);
    Sync(other);
    EXPECT_TRUE(PrivateMessages().empty());
    EXPECT_TRUE(StillRunning(other.info));
    EXPECT_EQ(Ended(Launch(L"/Kill", copy)), 0);
    EXPECT_EQ(Ended(other.info), 0);
  }
  // The original runs; launches of the copy leave it alone.
  {
    const LONG before = log_->count;
    Running original = StartPrimary();
    ASSERT_TRUE(original.window);
    Spy(original);
    EXPECT_EQ(Ended(Launch(L"", copy)), 0);
    EXPECT_EQ(Ended(Launch(L"/Kill", copy)), 0);
    Sync(original);
    for (LONG i = before; i < log_->count; ++i) EXPECT_EQ(log_->entries[i].message, kSpySentinel);
    EXPECT_TRUE(StillRunning(original.info));
    ::PostMessageW(original.window, WM_CLOSE, 0, 0);
    EXPECT_EQ(Ended(original.info), 0);
  }
  ::DeleteFileW(copy.c_str());
  ::RemoveDirectoryW(dir.c_str());
}

TEST_F(TavloProcess, EnterEscapeOkAndCancelWaitForACloseRequest) {
  Running r = StartPrimary();
  ASSERT_TRUE(r.window);
  Spy(r);
  for (WPARAM key : {VK_RETURN, VK_ESCAPE}) {
    ::PostMessageW(r.window, WM_KEYDOWN, key, 1);
    ::PostMessageW(r.window, WM_CHAR, key == VK_RETURN ? L'\r' : 0x1B, 1);
    ::PostMessageW(r.window, WM_KEYUP, key, 0xC0000001);
  }
  ::PostMessageW(r.window, WM_COMMAND, IDOK, 0);
  ::PostMessageW(r.window, WM_COMMAND, IDCANCEL, 0);
  ::PostMessageW(r.window, WM_COMMAND, MAKEWPARAM(1000, BN_CLICKED), 0);
  ::PostMessageW(r.window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  Sync(r);
  EXPECT_EQ(::SendMessageW(r.window, WM_COMMAND, IDCANCEL, 0), 1);
  EXPECT_EQ(::SendMessageW(r.window, WM_COMMAND, IDOK, 0), 1);
  Sync(r);
  EXPECT_TRUE(StillRunning(r.info));
  EXPECT_TRUE(::IsWindow(r.window));
  ExpectHidden(r.window);

  // WM_INSTANCE_KILL closes it whatever its parameters.
  ::PostMessageW(r.window, kInstanceKill, 7, 9);
  EXPECT_EQ(Ended(r.info), 0);
}

TEST_F(TavloProcess, ForeignDeviceBroadcastsAreIgnored) {
  Running r = StartPrimary();
  ASSERT_TRUE(r.window);
  GUID hid;
  ::HidD_GetHidGuid(&hid);
  GUID other = hid;
  other.Data4[7] ^= 0x55;

  struct InterfaceBroadcast {
    DEV_BROADCAST_DEVICEINTERFACE_W header;
    wchar_t rest[128];
  };
  auto make = [](const GUID& guid, DWORD type, DWORD size) {
    InterfaceBroadcast b{};
    b.header.dbcc_devicetype = type;
    b.header.dbcc_classguid = guid;
    const wchar_t name[] = L"\\\\?\\HID#VID_1C4F&PID_0002&MI_01&Col01#1&2&3&4#{4d1e55b2-f16f-11cf-88cb-001111000030}";
    static_assert(sizeof name <= sizeof b.header.dbcc_name + sizeof b.rest, "room for the name");
    memcpy(b.header.dbcc_name, name, sizeof name);
    b.header.dbcc_size =
        size ? size : static_cast<DWORD>(offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) + sizeof name);
    return b;
  };
  const InterfaceBroadcast otherClass = make(other, DBT_DEVTYP_DEVICEINTERFACE, 0);
  const InterfaceBroadcast shortOne = make(hid, DBT_DEVTYP_DEVICEINTERFACE, sizeof(DEV_BROADCAST_HDR));
  const InterfaceBroadcast handleType = make(hid, DBT_DEVTYP_HANDLE, 0);
  DEV_BROADCAST_VOLUME volume{};
  volume.dbcv_size = sizeof volume;
  volume.dbcv_devicetype = DBT_DEVTYP_VOLUME;
  volume.dbcv_unitmask = 1u << 4;

  struct Case {
    const char* name;
    WPARAM event;
    const void* broadcast;
  };
  const Case cases[] = {
      {"other class arrives", DBT_DEVICEARRIVAL, &otherClass},
      {"other class leaves", DBT_DEVICEREMOVECOMPLETE, &otherClass},
      {"short broadcast arrives", DBT_DEVICEARRIVAL, &shortOne},
      {"short broadcast leaves", DBT_DEVICEREMOVECOMPLETE, &shortOne},
      {"handle broadcast", DBT_DEVICEARRIVAL, &handleType},
      {"volume arrives", DBT_DEVICEARRIVAL, &volume},
      {"volume leaves", DBT_DEVICEREMOVECOMPLETE, &volume},
      {"nodes changed", DBT_DEVNODES_CHANGED, nullptr},
      {"query remove", DBT_DEVICEQUERYREMOVE, &otherClass},
      {"remove pending", DBT_DEVICEREMOVEPENDING, &otherClass},
      {"arrival without a broadcast", DBT_DEVICEARRIVAL, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DWORD_PTR result = 0;
    ASSERT_TRUE(::SendMessageTimeoutW(r.window, WM_DEVICECHANGE, c.event, reinterpret_cast<LPARAM>(c.broadcast),
                                      SMTO_BLOCK, 10000, &result));
    EXPECT_EQ(result, static_cast<DWORD_PTR>(TRUE));
    EXPECT_TRUE(StillRunning(r.info));
  }
  ExpectHidden(r.window);
  ::PostMessageW(r.window, WM_CLOSE, 0, 0);
  EXPECT_EQ(Ended(r.info), 0);
}

// The running instance is found by its path as the C runtime's _wcsicmp
// compares it under the start-up's locale, which folds letters that a table
// of the Latin-1, Latin Extended-A, Greek and Cyrillic pairs alone does not:
// ɓ/Ɓ, ư/Ư, ờ/Ờ, the Armenian ա/Ա and the Greek ά/Ά. A second launch and a
// /Kill from the path spelt in capitals reach the instance started from the
// same folder spelt in small letters (Wine finds a file by either spelling).
TEST_F(TavloProcess, PathDifferingOnlyInTheCaseOfAnyLetterReachesTheInstance) {
  const std::wstring small = OwnDirectory() + L"\\fold-\u0253\u01B0\u1EDD\u0561\u03AC";
  const std::wstring capital = OwnDirectory() + L"\\fold-\u0181\u01AF\u1EDC\u0531\u0386";
  ::CreateDirectoryW(small.c_str(), nullptr);
  const std::wstring exe = small + L"\\Tavlo.exe";
  ASSERT_TRUE(::CopyFileW(TavloPath().c_str(), exe.c_str(), FALSE));
  const std::wstring exeInCapitals = capital + L"\\Tavlo.exe";
  ASSERT_NE(::GetFileAttributesW(exeInCapitals.c_str()), INVALID_FILE_ATTRIBUTES)
      << "the file system does not find the folder spelt in capitals";

  Running r = StartPrimary(L"", exe);
  ASSERT_TRUE(r.window);
  Spy(r);
  EXPECT_EQ(Ended(Launch(L"", exeInCapitals)), 0);
  Sync(r);
  std::vector<SpyEntry> seen = PrivateMessages();
  ASSERT_EQ(seen.size(), 1u) << "the second launch did not reach the instance";
  EXPECT_EQ(seen[0].message, kInstanceOpen);
  EXPECT_EQ(Ended(Launch(L"/Kill", exeInCapitals)), 0);
  EXPECT_EQ(Ended(r.info), 0) << "the /Kill did not reach the instance";
  ::DeleteFileW(exe.c_str());
  ::RemoveDirectoryW(small.c_str());
}

// An arrival notice for a keyboard interface that cannot be opened: the
// keyboard is not listed, and why shows on the debug output, one line with
// the call, the path and the error.
TEST_F(TavloProcess, AKeyboardThatCannotBeOpenedIsReportedOnTheDebugOutput) {
  DebugOutputReader reader;
  ASSERT_TRUE(reader.Start());
  Running r = StartPrimary();
  ASSERT_TRUE(r.window);
  GUID hid;
  ::HidD_GetHidGuid(&hid);
  struct {
    DEV_BROADCAST_DEVICEINTERFACE_W header;
    wchar_t rest[128];
  } arrival{};
  const wchar_t name[] = L"\\\\?\\hid#vid_1c4f&pid_0002#tavlo-not-there#{4d1e55b2-f16f-11cf-88cb-001111000030}";
  memcpy(arrival.header.dbcc_name, name, sizeof name);
  arrival.header.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  arrival.header.dbcc_classguid = hid;
  arrival.header.dbcc_size = static_cast<DWORD>(offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) + sizeof name);
  DWORD_PTR result = 0;
  ASSERT_TRUE(::SendMessageTimeoutW(r.window, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&arrival),
                                    SMTO_BLOCK, 10000, &result));
  const std::string wanted =
      "Tavlo: CreateFileW \\\\?\\hid#vid_1c4f&pid_0002#tavlo-not-there#"
      "{4d1e55b2-f16f-11cf-88cb-001111000030} failed, error ";
  std::string line;
  const DWORD start = ::GetTickCount();
  while (line.empty() && ::GetTickCount() - start < 5000) {
    for (const std::string& l : reader.LinesOf(r.info.dwProcessId))
      if (l.rfind(wanted, 0) == 0) line = l;
    if (line.empty()) ::Sleep(20);
  }
  EXPECT_FALSE(line.empty()) << "no debug line for the keyboard that could not be opened";
  if (!line.empty()) {
    EXPECT_EQ(line.back(), '\n');
    const std::string error = line.substr(wanted.size(), line.size() - wanted.size() - 1);
    EXPECT_TRUE(error == "2" || error == "3") << "error " << error;
  }
  ::PostMessageW(r.window, WM_CLOSE, 0, 0);
  EXPECT_EQ(Ended(r.info), 0);
}

}  // namespace
