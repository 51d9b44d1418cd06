// Tavlo's MSI package under Wine's msiexec, in a fresh prefix of its own
// (scripts/package-test.sh prepares it and sets the environment):
//   TAVLO_PACKAGE_ARCH   x86 (the 32-bit package in a WoW64 prefix) or x64
//   TAVLO_PACKAGE_OLD    the package of version TAVLO_PACKAGE_OLD_VERSION
//   TAVLO_PACKAGE_NEW    the package of version TAVLO_PACKAGE_NEW_VERSION
//   TAVLO_PACKAGE_LOGS   where the MSI logs go
// Paths are POSIX paths of the build tree (drive Z:).
#include <windows.h>
#include <objbase.h>
#include <psapi.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/driver/driver_control.h"
#include "tests/e2e/e2e_support.h"
#include "tests/support/win32_probe.h"

namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

bool IsX86() { return Env("TAVLO_PACKAGE_ARCH") != "x64"; }

std::wstring ExpandedPath(const wchar_t* text) {
  wchar_t buffer[MAX_PATH] = {};
  ::ExpandEnvironmentStringsW(text, buffer, MAX_PATH);
  return buffer;
}

// Where the package puts Tavlo: Program Files (x86) for the 32-bit package.
std::wstring InstallFolder() {
  return ExpandedPath(IsX86() ? L"%ProgramFiles(x86)%\\Tavlo" : L"%ProgramW6432%\\Tavlo");
}
std::wstring InstalledExe() { return InstallFolder() + L"\\Tavlo.exe"; }

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The registry view the package writes to: the 32-bit one (Wow6432Node) for
// the 32-bit package.
REGSAM PackageView() { return IsX86() ? KEY_WOW64_32KEY : KEY_WOW64_64KEY; }

constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t kUninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

bool ReadString(HKEY root, const wchar_t* key, const wchar_t* name, REGSAM view, std::wstring* value) {
  HKEY opened = nullptr;
  if (::RegOpenKeyExW(root, key, 0, KEY_QUERY_VALUE | view, &opened) != ERROR_SUCCESS) return false;
  wchar_t buffer[1024] = {};
  DWORD size = sizeof buffer - sizeof(wchar_t);
  DWORD type = 0;
  const LONG result = ::RegQueryValueExW(opened, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
  ::RegCloseKey(opened);
  if (result != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;
  *value = buffer;
  return true;
}

// The key chart beside Tavlo.exe and its Start-menu shortcut. Wine puts a
// per-machine package's shortcut in the user's Start menu, Windows in the
// common one: both are looked at.
std::wstring InstalledChart() { return InstallFolder() + L"\\Tavlo key chart.png"; }

std::vector<std::wstring> ChartShortcuts() {
  std::vector<std::wstring> found;
  for (int folder : {CSIDL_PROGRAMS, CSIDL_COMMON_PROGRAMS}) {
    wchar_t programs[MAX_PATH] = {};
    if (::SHGetFolderPathW(nullptr, folder, nullptr, SHGFP_TYPE_CURRENT, programs) != S_OK) continue;
    const std::wstring link = std::wstring(programs) + L"\\Tavlo key chart.lnk";
    if (Exists(link)) found.push_back(link);
  }
  return found;
}

// The file a shortcut opens, "" if it cannot be read.
std::wstring ShortcutTarget(const std::wstring& link) {
  std::wstring target;
  const HRESULT init = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  IShellLinkW* shell_link = nullptr;
  if (SUCCEEDED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                   reinterpret_cast<void**>(&shell_link)))) {
    IPersistFile* file = nullptr;
    if (SUCCEEDED(shell_link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
      wchar_t path[MAX_PATH] = {};
      if (SUCCEEDED(file->Load(link.c_str(), STGM_READ)) &&
          SUCCEEDED(shell_link->GetPath(path, MAX_PATH, nullptr, SLGP_RAWPATH))) {
        target = path;
      }
      file->Release();
    }
    shell_link->Release();
  }
  if (SUCCEEDED(init)) ::CoUninitialize();
  return target;
}

// Whether the user's registry still holds the shortcut's key path.
bool ShortcutKeyPathLeft() {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Tavlo", 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
  const bool left = ::RegQueryValueExW(key, L"KeyChartShortcut", nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
  ::RegCloseKey(key);
  return left;
}

std::string FileBytes(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The Run value, or "" when there is none.
std::wstring RunValue() {
  std::wstring value;
  return ReadString(HKEY_LOCAL_MACHINE, kRunKey, L"Tavlo", PackageView(), &value) ? value : L"";
}

// DisplayVersion of every uninstall entry named Tavlo, in both registry views.
std::vector<std::wstring> UninstallEntries() {
  std::vector<std::wstring> versions;
  for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
    HKEY uninstall = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_READ | view, &uninstall) != ERROR_SUCCESS) continue;
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
      DWORD length = 256;
      if (::RegEnumKeyExW(uninstall, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      const std::wstring key = std::wstring(kUninstallKey) + L"\\" + name;
      std::wstring display;
      std::wstring version;
      if (ReadString(HKEY_LOCAL_MACHINE, key.c_str(), L"DisplayName", view, &display) && display == L"Tavlo") {
        ReadString(HKEY_LOCAL_MACHINE, key.c_str(), L"DisplayVersion", view, &version);
        versions.push_back(version);
      }
    }
    ::RegCloseKey(uninstall);
  }
  // A key that has no 32-bit twin shows in both views.
  if (versions.size() == 2 && versions[0] == versions[1]) versions.pop_back();
  return versions;
}

// FileVersion of an executable ("1.0.1.0"), "" if it has none.
std::wstring FileVersion(const std::wstring& path) {
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
  if (size == 0) return L"";
  std::vector<unsigned char> block(size);
  if (!::GetFileVersionInfoW(path.c_str(), 0, size, block.data())) return L"";
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (!::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length)) return L"";
  std::wostringstream text;
  text << HIWORD(fixed->dwFileVersionMS) << L'.' << LOWORD(fixed->dwFileVersionMS) << L'.'
       << HIWORD(fixed->dwFileVersionLS) << L'.' << LOWORD(fixed->dwFileVersionLS);
  return text.str();
}

// A running process of the installed Tavlo.exe, opened for waiting.
struct Instance {
  DWORD pid = 0;
  HANDLE process = nullptr;
};

void CloseAll(std::vector<Instance>* instances) {
  for (Instance& i : *instances) ::CloseHandle(i.process);
  instances->clear();
}

std::vector<Instance> RunningInstances() {
  std::vector<Instance> found;
  DWORD ids[1024];
  DWORD bytes = 0;
  if (!::EnumProcesses(ids, sizeof ids, &bytes)) return found;
  for (DWORD i = 0; i < bytes / sizeof(DWORD); ++i) {
    HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, ids[i]);
    if (!process) continue;
    wchar_t image[MAX_PATH] = {};
    DWORD length = MAX_PATH;
    const bool ours = ::QueryFullProcessImageNameW(process, 0, image, &length) &&
                      ::WaitForSingleObject(process, 0) == WAIT_TIMEOUT &&
                      ::lstrcmpiW(image, InstalledExe().c_str()) == 0;
    if (ours) {
      found.push_back({ids[i], process});
    } else {
      ::CloseHandle(process);
    }
  }
  return found;
}

size_t RunningCount() {
  std::vector<Instance> instances = RunningInstances();
  const size_t count = instances.size();
  CloseAll(&instances);
  return count;
}

// Waits (bounded) until exactly one instance runs, and returns it; a null
// process if there is none, or more than one, by then.
Instance WaitForOneInstance(DWORD timeout_ms) {
  const DWORD start = ::GetTickCount();
  for (;;) {
    std::vector<Instance> instances = RunningInstances();
    if (instances.size() == 1) {
      // Let a second start show itself too before taking this one.
      ::Sleep(500);
      std::vector<Instance> again = RunningInstances();
      const bool still_one = again.size() == 1 && again[0].pid == instances[0].pid;
      CloseAll(&again);
      if (still_one) return instances[0];
    }
    CloseAll(&instances);
    if (::GetTickCount() - start > timeout_ms) return Instance{};
    ::Sleep(100);
  }
}

// The visible dialog of a process: the driver-missing box (the main window
// is a dialog too, but hidden).
HWND VisibleDialogOf(DWORD pid) {
  for (HWND w : TopWindowsOf(pid)) {
    wchar_t cls[64] = {};
    ::GetClassNameW(w, cls, 64);
    if (::IsWindowVisible(w) && std::wstring(cls) == L"#32770") return w;
  }
  return nullptr;
}

HWND WaitForVisibleDialog(DWORD pid, DWORD timeout_ms) {
  const DWORD start = ::GetTickCount();
  for (;;) {
    if (HWND box = VisibleDialogOf(pid)) return box;
    if (::GetTickCount() - start > timeout_ms) return nullptr;
    ::Sleep(100);
  }
}

// Runs a command line and returns its exit code (-1 if it could not start
// or did not end within the time).
long RunCommand(const std::wstring& command_line, DWORD timeout_ms = 120000) {
  std::wstring line = command_line;
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  if (!::CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) return -1;
  long code = -1;
  if (::WaitForSingleObject(info.hProcess, timeout_ms) == WAIT_OBJECT_0) {
    DWORD exit_code = 0;
    ::GetExitCodeProcess(info.hProcess, &exit_code);
    code = static_cast<long>(exit_code);
  }
  ::CloseHandle(info.hThread);
  ::CloseHandle(info.hProcess);
  return code;
}

std::wstring LogPath(const std::string& name) {
  return e2e::WindowsPath((Env("TAVLO_PACKAGE_LOGS") + "/" + name).c_str());
}

// msiexec's log: UTF-16 when msiexec writes it this way, else bytes.
std::string ReadLog(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    std::string text;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
      const unsigned code = static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8);
      text += code < 0x80 ? static_cast<char>(code) : '?';
    }
    return text;
  }
  return bytes;
}

// msiexec with a package, options and a log of its own; its exit code.
long Msiexec(const char* action, const std::string& package, const std::wstring& options, const std::string& log) {
  return RunCommand(L"msiexec.exe " + Widen(action) + L" \"" + e2e::WindowsPath(package.c_str()) + L"\" /qn " +
                    options + L" /l*v \"" + LogPath(log) + L"\"");
}

// Holds every thread of a process for a while, then lets it go on: an
// instance asked to close during that time ends only after it, as a Tavlo on
// a loaded machine may end seconds after /Kill. A package that does not wait
// for the end would then meet Tavlo.exe still in use.
class SlowToEnd {
 public:
  SlowToEnd(DWORD pid, DWORD hold_ms) {
    std::vector<DWORD> threads;
    ThreadsOf(pid, &threads);
    for (DWORD id : threads) {
      HANDLE thread = ::OpenThread(THREAD_SUSPEND_RESUME, FALSE, id);
      if (thread && ::SuspendThread(thread) != static_cast<DWORD>(-1)) {
        held_.push_back(thread);
      } else if (thread) {
        ::CloseHandle(thread);
      }
    }
    release_ = std::thread([this, pid, hold_ms] {
      ::Sleep(hold_ms);
      for (HANDLE thread : held_) {
        ::ResumeThread(thread);
        ::CloseHandle(thread);
      }
      // Wine does not wake a thread for a message posted while it was
      // suspended; an empty message makes it look at its queue again.
      for (HWND w : TopWindowsOf(pid)) ::PostMessageW(w, WM_NULL, 0, 0);
    });
  }
  ~SlowToEnd() { release_.join(); }
  size_t held() const { return held_.size(); }

 private:
  std::vector<HANDLE> held_;
  std::thread release_;
};

// Watches an instance and Tavlo.exe during an uninstall: whether the file was
// ever gone while the instance still ran.
class RemovalWatch {
 public:
  RemovalWatch(HANDLE process, std::wstring path) : process_(process), path_(std::move(path)) {
    thread_ = std::thread([this] {
      while (!stop_) {
        // The file first, then the instance: a file seen gone while the
        // instance is still seen running went first.
        const bool gone = !Exists(path_);
        const bool ended = ::WaitForSingleObject(process_, 0) == WAIT_OBJECT_0;
        if (gone && !ended) file_went_first_ = true;
        if (gone) break;
        ::Sleep(1);
      }
    });
  }
  ~RemovalWatch() { Stop(); }
  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  bool file_went_first() const { return file_went_first_; }

 private:
  HANDLE process_;
  std::wstring path_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> file_went_first_{false};
  std::thread thread_;
};

class Package : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(Env("TAVLO_PACKAGE_OLD").empty()) << "run through scripts/package-test.sh";
    ASSERT_FALSE(Env("TAVLO_PACKAGE_NEW").empty());
    old_ = Env("TAVLO_PACKAGE_OLD");
    new_ = Env("TAVLO_PACKAGE_NEW");
    old_version_ = Widen(Env("TAVLO_PACKAGE_OLD_VERSION"));
    new_version_ = Widen(Env("TAVLO_PACKAGE_NEW_VERSION"));
    ExpectNothingLeft("before the test");
  }

  // Nothing of Tavlo on the machine: no instance, file, folder, Run value or
  // uninstall entry.
  void ExpectNothingLeft(const char* when) {
    SCOPED_TRACE(when);
    EXPECT_EQ(RunningCount(), 0u);
    EXPECT_FALSE(Exists(InstalledExe())) << Narrow(InstalledExe());
    EXPECT_FALSE(Exists(InstallFolder())) << Narrow(InstallFolder());
    EXPECT_EQ(RunValue(), L"");
    EXPECT_TRUE(UninstallEntries().empty());
    EXPECT_FALSE(Exists(InstalledChart())) << Narrow(InstalledChart());
    EXPECT_TRUE(ChartShortcuts().empty());
    EXPECT_FALSE(ShortcutKeyPathLeft());
  }

  // Installed as the package of `version` puts it.
  void ExpectInstalled(const std::wstring& version) {
    EXPECT_TRUE(Exists(InstalledExe())) << Narrow(InstalledExe());
    EXPECT_EQ(FileVersion(InstalledExe()), version + L".0");
    EXPECT_EQ(RunValue(), L"\"" + InstalledExe() + L"\" /Start");
    EXPECT_EQ(UninstallEntries(), std::vector<std::wstring>{version});
    ExpectKeyChart();
  }

  // The committed key chart beside Tavlo.exe, and one Start-menu shortcut,
  // "Tavlo key chart", that opens it.
  void ExpectKeyChart() {
    const std::string chart = FileBytes(InstalledChart());
    EXPECT_FALSE(chart.empty()) << Narrow(InstalledChart());
    EXPECT_TRUE(chart == FileBytes(e2e::WindowsPath(KEY_CHART_PNG))) << "not docs/key-chart.png";
    const std::vector<std::wstring> links = ChartShortcuts();
    ASSERT_EQ(links.size(), 1u);
    EXPECT_EQ(::lstrcmpiW(ShortcutTarget(links[0]).c_str(), InstalledChart().c_str()), 0)
        << Narrow(links[0]) << " opens " << Narrow(ShortcutTarget(links[0]));
  }

  // Installs the older package without the driver, so that its Tavlo shows
  // the driver-missing box, and uninstalls it while the box is open (logs
  // install-TAG.log and uninstall-TAG.log). The instance, with the box in
  // *box; a null process or box (and a failure) if either did not show.
  Instance InstallAndUninstallWithTheBoxOpen(const std::string& tag, HWND* box) {
    *box = nullptr;
    EXPECT_EQ(Msiexec("/i", old_, L"", "install-" + tag + ".log"), 0);
    Instance instance = WaitForOneInstance(10000);
    EXPECT_NE(instance.process, nullptr);
    if (instance.process) *box = WaitForVisibleDialog(instance.pid, 10000);
    EXPECT_NE(*box, nullptr) << "the driver-missing box";
    if (*box) {
      EXPECT_EQ(Msiexec("/x", old_, L"", "uninstall-" + tag + ".log"), 0);
    }
    return instance;
  }

  // Closes the box; the instance ends then: its kill was not lost.
  static void CloseTheBox(HWND box, Instance* instance) {
    ::PostMessageW(box, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(::WaitForSingleObject(instance->process, 10000), static_cast<DWORD>(WAIT_OBJECT_0));
    ::CloseHandle(instance->process);
    instance->process = nullptr;
  }

  std::string old_, new_;
  std::wstring old_version_, new_version_;
};

TEST_F(Package, InstallUpgradeAndUninstallWithTavloRunning) {
  // The driver is there, so Tavlo starts silently and runs.
  testdriver::ScopedDriver driver(e2e::WindowsPath(KBDFILTR_TEST_SYS));
  ASSERT_EQ(driver.error(), static_cast<DWORD>(ERROR_SUCCESS)) << driver.failed_step();

  ASSERT_EQ(Msiexec("/i", old_, L"", "install.log"), 0);
  ExpectInstalled(old_version_);
  Instance first = WaitForOneInstance(10000);
  ASSERT_NE(first.process, nullptr) << "one Tavlo runs after the install";
  EXPECT_EQ(VisibleDialogOf(first.pid), nullptr) << "the driver is there: no message box";

  // A newer package replaces the older one over the running instance, which
  // takes 2 s to end.
  {
    SlowToEnd slow(first.pid, 2000);
    ASSERT_GT(slow.held(), 0u);
    ASSERT_EQ(Msiexec("/i", new_, L"", "upgrade.log"), 0);
  }
  EXPECT_EQ(::WaitForSingleObject(first.process, 0), static_cast<DWORD>(WAIT_OBJECT_0))
      << "the old instance was stopped";
  ::CloseHandle(first.process);
  ExpectInstalled(new_version_);
  Instance second = WaitForOneInstance(10000);
  ASSERT_NE(second.process, nullptr) << "one Tavlo runs after the upgrade";
  EXPECT_NE(second.pid, first.pid);

  // The uninstall stops it first, then removes everything; it too takes 2 s
  // to end.
  {
    RemovalWatch watch(second.process, InstalledExe());
    SlowToEnd slow(second.pid, 2000);
    ASSERT_GT(slow.held(), 0u);
    ASSERT_EQ(Msiexec("/x", new_, L"", "uninstall.log"), 0);
    watch.Stop();
    EXPECT_FALSE(watch.file_went_first()) << "Tavlo.exe was removed while the instance still ran";
  }
  EXPECT_EQ(::WaitForSingleObject(second.process, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  ::CloseHandle(second.process);
  const std::string log = ReadLog(LogPath("uninstall.log"));
  EXPECT_NE(log.find("instance(s) of " + Narrow(InstalledExe()) + " ended"), std::string::npos) << log;
  ExpectNothingLeft("after the uninstall");
}

TEST_F(Package, InstallWithoutStartingTavlo) {
  ASSERT_EQ(Msiexec("/i", old_, L"TAVLO_START=0", "install-nostart.log"), 0);
  ExpectInstalled(old_version_);
  ::Sleep(2000);
  EXPECT_EQ(RunningCount(), 0u);
  ASSERT_EQ(Msiexec("/x", old_, L"", "uninstall-nostart.log"), 0);
  EXPECT_NE(ReadLog(LogPath("uninstall-nostart.log")).find("is not running"), std::string::npos);
  ExpectNothingLeft("after the uninstall");
}

// Without the driver Tavlo shows its message box, and a /Kill takes effect
// only once the box is closed: the uninstall's wait runs out, it ends without
// the instance, and Tavlo.exe, still in use, goes at the next restart.
TEST_F(Package, UninstallWhileTheDriverMissingBoxIsOpen) {
  HWND box = nullptr;
  Instance instance = InstallAndUninstallWithTheBoxOpen("box", &box);
  ASSERT_TRUE(instance.process && box);
  const std::string log = ReadLog(LogPath("uninstall-box.log"));
  const std::string exe = Narrow(InstalledExe());
  EXPECT_NE(log.find("1 instance(s) of " + exe + " still running"), std::string::npos) << log;
  EXPECT_NE(log.find(exe + " is still in use; it is removed (as "), std::string::npos) << log;
  EXPECT_FALSE(Exists(InstalledExe())) << "moved out of the way";
  EXPECT_EQ(::WaitForSingleObject(instance.process, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "the box holds it";
  EXPECT_EQ(RunValue(), L"");
  EXPECT_TRUE(UninstallEntries().empty());

  CloseTheBox(box, &instance);

  // Wine's restart carries out the pending removals.
  EXPECT_EQ(RunCommand(L"wineboot.exe -r"), 0);
  ExpectNothingLeft("after the restart");
}

// Installed again before the restart that removes the old file: the restart
// leaves the new Tavlo.exe alone.
TEST_F(Package, InstallAgainBeforeTheRestartThatRemovesTheOldFile) {
  HWND box = nullptr;
  Instance instance = InstallAndUninstallWithTheBoxOpen("box-again", &box);
  ASSERT_TRUE(instance.process && box);
  CloseTheBox(box, &instance);

  ASSERT_EQ(Msiexec("/i", new_, L"TAVLO_START=0", "install-before-restart.log"), 0);
  EXPECT_EQ(RunCommand(L"wineboot.exe -r"), 0);
  ExpectInstalled(new_version_);

  ASSERT_EQ(Msiexec("/x", new_, L"", "uninstall-after-restart.log"), 0);
  ExpectNothingLeft("after the uninstall");
}

}  // namespace
