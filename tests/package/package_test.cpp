// Tavlo's MSI package: its tables as users get them, and its install,
// upgrade and uninstall under Wine's msiexec, in a fresh prefix of its own
// (scripts/package-test.sh prepares it and sets the environment):
//   TAVLO_PACKAGE_ARCH   x86 (the 32-bit package in a WoW64 prefix) or x64
//   TAVLO_PACKAGE_OLD    the package of version TAVLO_PACKAGE_OLD_VERSION
//   TAVLO_PACKAGE_NEW    the package of version TAVLO_PACKAGE_NEW_VERSION
//   TAVLO_PACKAGE_OLD_CONTENTS, TAVLO_PACKAGE_NEW_CONTENTS
//                        what each holds: its tables as msiinfo exports them
//                        (tables/NAME.idt) and its files (files/)
//   TAVLO_PACKAGE_LOGS   where the MSI logs and the test-only copies of the
//                        packages go
// Paths are POSIX paths of the build tree (drive Z:).
//
// Wine's msiexec rolls back no files, has no Restart Manager and no sessions,
// and runs every process elevated: what depends on those is checked on the
// tables (PackageTables), by Windows Installer's documentation.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <objbase.h>
#include <psapi.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <map>
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

// The package's Program Files: Program Files (x86) for the 32-bit package.
std::wstring ProgramFiles() { return ExpandedPath(IsX86() ? L"%ProgramFiles(x86)%" : L"%ProgramW6432%"); }

// Where the package puts Tavlo.
std::wstring InstallFolder() { return ProgramFiles() + L"\\Tavlo"; }
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

// The keys of every uninstall entry named Tavlo, in both registry views, with
// the view each was found in.
struct UninstallKey {
  std::wstring key;
  REGSAM view;
};
std::vector<UninstallKey> UninstallKeys() {
  std::vector<UninstallKey> keys;
  for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
    HKEY uninstall = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_READ | view, &uninstall) != ERROR_SUCCESS) continue;
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
      DWORD length = 256;
      if (::RegEnumKeyExW(uninstall, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      const std::wstring key = std::wstring(kUninstallKey) + L"\\" + name;
      std::wstring display;
      if (ReadString(HKEY_LOCAL_MACHINE, key.c_str(), L"DisplayName", view, &display) && display == L"Tavlo") {
        // A key that has no 32-bit twin shows in both views.
        bool seen = false;
        for (const UninstallKey& k : keys) seen = seen || k.key == key;
        if (!seen) keys.push_back({key, view});
      }
    }
    ::RegCloseKey(uninstall);
  }
  return keys;
}

// DisplayVersion of every uninstall entry named Tavlo.
std::vector<std::wstring> UninstallEntries() {
  std::vector<std::wstring> versions;
  for (const UninstallKey& entry : UninstallKeys()) {
    std::wstring version;
    ReadString(HKEY_LOCAL_MACHINE, entry.key.c_str(), L"DisplayVersion", entry.view, &version);
    versions.push_back(version);
  }
  return versions;
}

// A value of the one uninstall entry named Tavlo; "" if there is not exactly
// one, or it has no such value.
std::wstring UninstallValue(const wchar_t* name) {
  const std::vector<UninstallKey> keys = UninstallKeys();
  std::wstring value;
  if (keys.size() == 1) ReadString(HKEY_LOCAL_MACHINE, keys[0].key.c_str(), name, keys[0].view, &value);
  return value;
}

// The product code of the one uninstall entry named Tavlo (its key's name).
std::wstring InstalledProductCode() {
  const std::vector<UninstallKey> keys = UninstallKeys();
  if (keys.size() != 1) return L"";
  return keys[0].key.substr(keys[0].key.rfind(L'\\') + 1);
}

std::string ReadBytes(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
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

// The language of an executable's version resource, in decimal ("2052"), ""
// if it has none.
std::wstring FileLanguage(const std::wstring& path) {
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
  if (size == 0) return L"";
  std::vector<unsigned char> block(size);
  if (!::GetFileVersionInfoW(path.c_str(), 0, size, block.data())) return L"";
  WORD* translation = nullptr;
  UINT length = 0;
  if (!::VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length) ||
      length < 2 * sizeof(WORD)) {
    return L"";
  }
  return std::to_wstring(translation[0]);
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

// The started Tavlo runs with a user's normal rights: its token is not
// elevated. (Wine runs every process elevated; only a start with a limited
// token gives a process that is not.)
::testing::AssertionResult NotElevated(const Instance& instance) {
  HANDLE process = ::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, instance.pid);
  HANDLE token = nullptr;
  if (!process || !::OpenProcessToken(process, TOKEN_QUERY, &token)) {
    const DWORD error = ::GetLastError();
    if (process) ::CloseHandle(process);
    return ::testing::AssertionFailure() << "the token of process " << instance.pid << " cannot be read: error "
                                         << error;
  }
  TOKEN_ELEVATION elevation = {};
  DWORD size = 0;
  const bool read = ::GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size);
  const DWORD error = ::GetLastError();
  ::CloseHandle(token);
  ::CloseHandle(process);
  if (!read) return ::testing::AssertionFailure() << "TokenElevation cannot be read: error " << error;
  if (elevation.TokenIsElevated) return ::testing::AssertionFailure() << "Tavlo runs elevated";
  return ::testing::AssertionSuccess();
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

// A test-only copy of a package, `name` in the logs folder, with SQL
// statements run on its tables by Windows Installer's database functions;
// "" (and a failure) if it cannot be made. Nothing of these copies is in the
// packages users get.
std::string TestPackage(const std::string& package, const std::string& name,
                        const std::vector<std::wstring>& statements) {
  const std::string copy = Env("TAVLO_PACKAGE_LOGS") + "/" + name;
  const std::wstring windows_copy = e2e::WindowsPath(copy.c_str());
  if (!::CopyFileW(e2e::WindowsPath(package.c_str()).c_str(), windows_copy.c_str(), FALSE)) {
    ADD_FAILURE() << "cannot copy " << package << " to " << copy << ": error " << ::GetLastError();
    return "";
  }
  MSIHANDLE database = 0;
  UINT result = ::MsiOpenDatabaseW(windows_copy.c_str(), MSIDBOPEN_TRANSACT, &database);
  for (size_t i = 0; result == ERROR_SUCCESS && i < statements.size(); ++i) {
    MSIHANDLE view = 0;
    result = ::MsiDatabaseOpenViewW(database, statements[i].c_str(), &view);
    if (result == ERROR_SUCCESS) result = ::MsiViewExecute(view, 0);
    if (view) ::MsiCloseHandle(view);
    if (result != ERROR_SUCCESS) ADD_FAILURE() << Narrow(statements[i]) << ": error " << result;
  }
  if (result == ERROR_SUCCESS) result = ::MsiDatabaseCommit(database);
  if (database) ::MsiCloseHandle(database);
  if (result != ERROR_SUCCESS) {
    ADD_FAILURE() << "cannot make " << copy << ": error " << result;
    return "";
  }
  return copy;
}

// The statements that add one action to a test copy: a row of CustomAction
// and its place in InstallExecuteSequence.
std::vector<std::wstring> AddAction(const std::wstring& action, int type, const std::wstring& source,
                                    const std::wstring& target, int sequence) {
  return {L"INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('" + action + L"', " +
              std::to_wstring(type) + L", '" + source + L"', '" + target + L"')",
          L"INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('" + action + L"', " +
              std::to_wstring(sequence) + L")"};
}

std::vector<std::wstring> Joined(std::vector<std::wstring> a, const std::vector<std::wstring>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// A deferred action that fails the installation at `sequence`: cmd.exe, named
// by a property, exits 1 (type 50, an executable named by a property, +0x400
// in the script; its exit code is checked).
std::vector<std::wstring> FailAt(int sequence) {
  return Joined({L"INSERT INTO `Property` (`Property`, `Value`) VALUES ('TAVLO_TEST_SHELL', 'cmd.exe')"},
                AddAction(L"FailForTest", 50 + 0x400, L"TAVLO_TEST_SHELL", L"/c exit 1", sequence));
}

// Wine cannot install as LocalSystem. This makes the installation say that
// it does, as Windows Installer says for a deployment as SYSTEM: UserSID
// S-1-5-18 from the start of the sequence (type 51 sets a property). The
// token's own user, which Wine cannot make SYSTEM either, is covered by
// start_rules_test.
std::vector<std::wstring> AsLocalSystem() { return AddAction(L"PretendLocalSystem", 51, L"UserSID", L"S-1-5-18", 1); }

// One table of a package as msiinfo exports it (an .idt file): column names,
// types and keys in the first three lines, then one row a line, fields
// separated by tabs.
class Table {
 public:
  Table(const std::string& contents, const std::string& name) {
    std::ifstream in(e2e::WindowsPath((contents + "/tables/" + name + ".idt").c_str()).c_str(), std::ios::binary);
    std::string line;
    for (int n = 0; std::getline(in, line); ++n) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      std::vector<std::string> fields;
      std::string field;
      std::istringstream split(line);
      while (std::getline(split, field, '\t')) fields.push_back(field);
      if (!line.empty() && line.back() == '\t') fields.push_back("");
      if (n == 0) columns_ = fields;
      if (n >= 3) rows_.push_back(fields);
    }
  }
  bool exists() const { return !columns_.empty(); }
  const std::vector<std::vector<std::string>>& rows() const { return rows_; }
  // A field of the row whose first field is `key`; "" if there is none.
  std::string Field(const std::string& key, const std::string& column) const {
    for (size_t c = 0; c < columns_.size(); ++c) {
      if (columns_[c] != column) continue;
      for (const std::vector<std::string>& row : rows_) {
        if (!row.empty() && row[0] == key && c < row.size()) return row[c];
      }
    }
    return "";
  }
  bool HasRow(const std::string& key) const {
    for (const std::vector<std::string>& row : rows_) {
      if (!row.empty() && row[0] == key) return true;
    }
    return false;
  }

 private:
  std::vector<std::string> columns_;
  std::vector<std::vector<std::string>> rows_;
};

// Whether Windows Installer lets the package install with these properties:
// every launch condition of the package evaluated, in a session of the
// package (no action runs), after the properties are set. "" sets a property
// empty (unset).
bool LaunchConditionsHold(const std::string& package, const std::string& contents,
                          const std::map<std::wstring, std::wstring>& properties) {
  ::MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
  MSIHANDLE session = 0;
  const UINT opened = ::MsiOpenPackageW(e2e::WindowsPath(package.c_str()).c_str(), &session);
  EXPECT_EQ(opened, static_cast<UINT>(ERROR_SUCCESS)) << "MsiOpenPackage " << package;
  if (opened != ERROR_SUCCESS) return false;
  for (const auto& property : properties) ::MsiSetPropertyW(session, property.first.c_str(), property.second.c_str());
  bool hold = true;
  const Table conditions(contents, "LaunchCondition");
  for (const std::vector<std::string>& row : conditions.rows()) {
    const MSICONDITION result = ::MsiEvaluateConditionW(session, Widen(row[0]).c_str());
    EXPECT_NE(result, MSICONDITION_ERROR) << row[0];
    if (result != MSICONDITION_TRUE) hold = false;
  }
  ::MsiCloseHandle(session);
  return hold;
}

// A property of a session of the package, as Windows Installer sets it.
std::wstring SessionProperty(const std::string& package, const wchar_t* name) {
  ::MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
  MSIHANDLE session = 0;
  if (::MsiOpenPackageW(e2e::WindowsPath(package.c_str()).c_str(), &session) != ERROR_SUCCESS) return L"";
  wchar_t value[MAX_PATH] = {};
  DWORD length = MAX_PATH;
  ::MsiGetPropertyW(session, name, value, &length);
  ::MsiCloseHandle(session);
  return value;
}

// A failed installation: 1603 (ERROR_INSTALL_FAILURE) from Windows'
// msiexec; Wine's gives 1627 (ERROR_FUNCTION_FAILED) when a custom action
// fails.
::testing::AssertionResult Failed(long code) {
  if (code == ERROR_INSTALL_FAILURE || code == ERROR_FUNCTION_FAILED) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "msiexec exited " << code << ", not as a failed installation";
}

// An installation that the launch conditions refused: exit code 1603, and
// its log ends with LaunchConditions, before the costing. (Windows logs the
// condition's message there too; Wine's msiexec does not.)
::testing::AssertionResult RefusedAtLaunch(long code, const std::string& log) {
  if (code != ERROR_INSTALL_FAILURE) return ::testing::AssertionFailure() << "msiexec exited " << code;
  if (log.find(": LaunchConditions.") == std::string::npos || log.find(": CostInitialize.") != std::string::npos) {
    return ::testing::AssertionFailure() << "not refused by the launch conditions:\n" << log;
  }
  return ::testing::AssertionSuccess();
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

// The packages under test, older and newer.
struct PackageUnderTest {
  const char* which;
  std::string msi;
  std::string contents;
  std::wstring version;
};
std::vector<PackageUnderTest> PackagesUnderTest() {
  return {
      {"older", Env("TAVLO_PACKAGE_OLD"), Env("TAVLO_PACKAGE_OLD_CONTENTS"), Widen(Env("TAVLO_PACKAGE_OLD_VERSION"))},
      {"newer", Env("TAVLO_PACKAGE_NEW"), Env("TAVLO_PACKAGE_NEW_CONTENTS"), Widen(Env("TAVLO_PACKAGE_NEW_VERSION"))}};
}

// The package's tables, as users get them, against Windows Installer's
// documentation: what Wine's msiexec cannot show (rollback of files and of the
// older version's removal, installs that Windows elevates or that run as
// SYSTEM) rests on these.
class PackageTables : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(Env("TAVLO_PACKAGE_OLD_CONTENTS").empty()) << "run through scripts/package-test.sh";
    for (const PackageUnderTest& package : PackagesUnderTest()) {
      ASSERT_TRUE(Table(package.contents, "InstallExecuteSequence").exists()) << package.contents;
    }
  }
};

// An upgrade is one transaction: if it fails or is cancelled, Windows
// Installer restores the older version ("RemoveExistingProducts Action":
// between InstallExecute and InstallFinalize, the removal is rolled back with
// the new installation). This package stops Tavlo first, with a rollback
// action that starts it again; InstallExecute runs that part of the script
// before RemoveExistingProducts, which does its work where it stands in the
// sequence (ICE63: nothing between InstallExecute and it).
TEST_F(PackageTables, UpgradeIsOneTransactionThatStopsTavloFirst) {
  for (const PackageUnderTest& package : PackagesUnderTest()) {
    SCOPED_TRACE(package.which);
    const Table sequence(package.contents, "InstallExecuteSequence");
    auto at = [&](const char* action) {
      const std::string number = sequence.Field(action, "Sequence");
      return number.empty() ? -1 : std::atoi(number.c_str());
    };
    const char* order[] = {"InstallInitialize", "StartTavloAgain",        "StopTavlo",
                           "InstallExecute",    "RemoveExistingProducts", "RemoveFiles",
                           "InstallFiles",      "InstallFinalize",        "StartTavlo"};
    for (size_t i = 0; i < sizeof order / sizeof order[0]; ++i) {
      EXPECT_GT(at(order[i]), 0) << order[i] << " is not in the sequence";
      if (i > 0) {
        EXPECT_LT(at(order[i - 1]), at(order[i])) << order[i - 1] << " comes after " << order[i];
      }
    }
    for (const std::vector<std::string>& row : sequence.rows()) {
      const int number = row.size() > 2 ? std::atoi(row[2].c_str()) : 0;
      const bool between =
          at("InstallExecute") > 0 && number > at("InstallExecute") && number < at("RemoveExistingProducts");
      EXPECT_FALSE(between) << row[0] << " falls between InstallExecute and RemoveExistingProducts";
    }
    // The deferred actions' data is set before they are scheduled; the
    // rollback action is scheduled whenever its action is.
    EXPECT_LT(at("SetStopTavlo"), at("StopTavlo"));
    EXPECT_LT(at("SetStartTavloAgain"), at("StartTavloAgain"));
    EXPECT_EQ(sequence.Field("StartTavloAgain", "Condition"), sequence.Field("StopTavlo", "Condition"));
    EXPECT_EQ(sequence.Field("SetStartTavloAgain", "Condition"), sequence.Field("StopTavlo", "Condition"));
    // Windows Installer itself replaces or removes a Tavlo.exe in use at the
    // next restart: nothing of the package's own does that, as LocalSystem.
    EXPECT_FALSE(sequence.HasRow("RemoveTavloAtRestart"));
  }
}

// The custom actions' types ("Custom Action In-Script Execution Options",
// "Custom Action Return Processing Options"): 1 a function of a DLL in the
// Binary table; +0x40 its result is ignored; +0x100 rollback only; +0x400 in
// the script (deferred); without 0x800 it runs as the installing user.
TEST_F(PackageTables, CustomActionTypes) {
  struct Row {
    const char* action;
    int type;
    const char* source;
    const char* target;
  };
  const Row rows[] = {
      // Deferred, as the installing user, before files change.
      {"StopTavlo", 1 + 0x400, "TavloSetup", "StopTavlo"},
      // StopTavlo's rollback: deferred, only on rollback, as the installing
      // user (wixl writes Execute="rollback" as 1, an immediate action).
      {"StartTavloAgain", 1 + 0x100 + 0x400, "TavloSetup", "StartTavloAgain"},
      // Immediate, after the installation, as the installing user; a failed
      // start never fails the installation.
      {"StartTavlo", 1 + 0x40, "TavloSetup", "StartTavlo"},
      // Their CustomActionData (type 51 sets a property).
      {"SetStopTavlo", 51, "StopTavlo", "[INSTALLFOLDER]Tavlo.exe"},
      {"SetStartTavloAgain", 51, "StartTavloAgain", "[UserSID]|[INSTALLFOLDER]Tavlo.exe"},
  };
  for (const PackageUnderTest& package : PackagesUnderTest()) {
    SCOPED_TRACE(package.which);
    const Table actions(package.contents, "CustomAction");
    for (const Row& row : rows) {
      EXPECT_EQ(actions.Field(row.action, "Type"), std::to_string(row.type)) << row.action;
      EXPECT_EQ(actions.Field(row.action, "Source"), row.source) << row.action;
      EXPECT_EQ(actions.Field(row.action, "Target"), row.target) << row.action;
    }
    EXPECT_FALSE(actions.HasRow("RemoveTavloAtRestart"));
  }
}

// Secure properties pass from the command line into an installation that
// Windows elevates ("SecureCustomProperties property"); Tavlo.exe is a
// versioned file ("File Table", "MsiFileHash Table"); the uninstall entry
// shows Tavlo's icon ("ARPPRODUCTICON property") and its publisher
// (Manufacturer).
TEST_F(PackageTables, PropertiesFileAndIcon) {
  for (const PackageUnderTest& package : PackagesUnderTest()) {
    SCOPED_TRACE(package.which);
    const Table properties(package.contents, "Property");
    std::vector<std::string> secure;
    std::istringstream list(properties.Field("SecureCustomProperties", "Value"));
    for (std::string name; std::getline(list, name, ';');) secure.push_back(name);
    for (const char* name : {"TAVLO_START", "INSTALLFOLDER"}) {
      EXPECT_TRUE(std::find(secure.begin(), secure.end(), name) != secure.end())
          << name << " is not in SecureCustomProperties";
    }
    EXPECT_EQ(properties.Field("ALLUSERS", "Value"), "1");
    EXPECT_EQ(properties.Field("Manufacturer", "Value"), "Tavlo");
    const std::string icon = properties.Field("ARPPRODUCTICON", "Value");
    EXPECT_FALSE(icon.empty()) << "no ARPPRODUCTICON";
    const Table icons(package.contents, "Icon");
    EXPECT_TRUE(icons.HasRow(icon)) << "no icon " << icon;
    // msiinfo writes the icon's stream beside the table, as Icon/<Data>.
    const std::string data = icons.Field(icon, "Data");
    EXPECT_EQ(ReadBytes(e2e::WindowsPath((package.contents + "/tables/Icon/" + data).c_str())),
              ReadBytes(e2e::WindowsPath(TAVLO_ICON)))
        << "the icon is not ui/res/Tavlo.ico";

    // The File row of Tavlo.exe carries the version and language of the
    // Tavlo.exe in the package, and it has no hash.
    const Table files(package.contents, "File");
    const std::wstring exe = e2e::WindowsPath((package.contents + "/files/Tavlo/Tavlo.exe").c_str());
    ASSERT_TRUE(Exists(exe)) << Narrow(exe);
    EXPECT_EQ(Widen(files.Field("TavloExe", "Version")), FileVersion(exe));
    EXPECT_EQ(FileVersion(exe), package.version + L".0");
    EXPECT_EQ(Widen(files.Field("TavloExe", "Language")), FileLanguage(exe));
    EXPECT_FALSE(FileLanguage(exe).empty());
    EXPECT_FALSE(Table(package.contents, "MsiFileHash").HasRow("TavloExe"));
  }
}

// The launch conditions, evaluated by Windows Installer in a session of the
// package, for what Wine's msiexec cannot be made to install as: an account
// without administrator rights (Privileged unset; on XP, or without
// AlwaysInstallElevated), and per user (on Windows 7 and later ALLUSERS=2 with
// MSIINSTALLPERUSER=1 resets ALLUSERS to ""; Wine installs per machine
// anyway). The folder cases that msiexec shows are in
// Package.InstallFolderOutsideProgramFilesIsRefused.
TEST_F(PackageTables, LaunchConditionsAllowOnlyAnAdministratorsInstallInProgramFiles) {
  const PackageUnderTest package = PackagesUnderTest()[0];
  const std::wstring program_files =
      SessionProperty(package.msi, IsX86() ? L"ProgramFilesFolder" : L"ProgramFiles64Folder");
  ASSERT_FALSE(program_files.empty());
  ASSERT_EQ(program_files.back(), L'\\');
  struct Case {
    const char* name;
    std::map<std::wstring, std::wstring> properties;
    bool installs;
  };
  const Case cases[] = {
      {"an administrator, per machine", {{L"Privileged", L"1"}, {L"ALLUSERS", L"1"}}, true},
      {"per user", {{L"Privileged", L"1"}, {L"ALLUSERS", L""}}, false},
      {"without administrator rights", {{L"Privileged", L""}, {L"ALLUSERS", L"1"}}, false},
      {"removal of an installed Tavlo", {{L"Installed", L"00:00:00"}, {L"Privileged", L""}, {L"ALLUSERS", L""}}, true},
      {"in Program Files", {{L"Privileged", L"1"}, {L"INSTALLFOLDER", program_files + L"Tools\\Tavlo\\"}}, true},
      {"in Program Files, other case",
       {{L"Privileged", L"1"}, {L"INSTALLFOLDER", L"c:" + program_files.substr(2) + L"TAVLO"}},
       true},
      {"beside Program Files",
       {{L"Privileged", L"1"}, {L"INSTALLFOLDER", program_files.substr(0, program_files.size() - 1) + L" Tavlo\\"}},
       false},
      {"out of Program Files by ..",
       {{L"Privileged", L"1"}, {L"INSTALLFOLDER", program_files + L"..\\Tavlo\\"}},
       false},
      {"elsewhere", {{L"Privileged", L"1"}, {L"INSTALLFOLDER", L"C:\\Tools\\Tavlo\\"}}, false},
      {"a share", {{L"Privileged", L"1"}, {L"INSTALLFOLDER", L"\\\\server\\tools\\Tavlo\\"}}, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LaunchConditionsHold(package.msi, package.contents, c.properties), c.installs) << c.name;
  }
}

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

  // The package's StopTavlo in its exported tables; the test copies fail
  // right after it.
  static int StopTavloSequence(const char* contents_variable) {
    return std::atoi(Table(Env(contents_variable), "InstallExecuteSequence").Field("StopTavlo", "Sequence").c_str());
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
  // msiexec runs elevated (every process does under Wine): Tavlo does not.
  EXPECT_TRUE(NotElevated(first));

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
  EXPECT_TRUE(NotElevated(second));

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

// The uninstall entry shows Tavlo's icon and its publisher: Windows Installer
// keeps the icon of ARPPRODUCTICON for the product (ProductIcon).
TEST_F(Package, UninstallEntryHasTavlosIconAndPublisher) {
  ASSERT_EQ(Msiexec("/i", old_, L"TAVLO_START=0", "install-icon.log"), 0);
  EXPECT_EQ(UninstallValue(L"Publisher"), L"Tavlo");
  const std::wstring product = InstalledProductCode();
  ASSERT_FALSE(product.empty());
  wchar_t icon[MAX_PATH] = {};
  DWORD length = MAX_PATH;
  EXPECT_EQ(::MsiGetProductInfoW(product.c_str(), INSTALLPROPERTY_PRODUCTICON, icon, &length),
            static_cast<UINT>(ERROR_SUCCESS));
  EXPECT_NE(icon[0], L'\0') << "no product icon";
  if (icon[0]) {
    EXPECT_EQ(ReadBytes(icon), ReadBytes(e2e::WindowsPath(TAVLO_ICON))) << Narrow(icon) << " is not ui/res/Tavlo.ico";
  }
  ASSERT_EQ(Msiexec("/x", old_, L"", "uninstall-icon.log"), 0);
  ExpectNothingLeft("after the uninstall");
}

// Without the driver Tavlo shows its message box, and a /Kill takes effect
// only once the box is closed: the uninstall's wait runs out, and it ends
// without the instance. Windows Installer then moves the Tavlo.exe in use out
// of the way, deletes it at the next restart and exits 3010 ("Logging of
// Reboot Requests", "System Reboots"); Wine's msiexec exits 0 and leaves the
// file where it is.
TEST_F(Package, UninstallWhileTheDriverMissingBoxIsOpen) {
  ASSERT_EQ(Msiexec("/i", old_, L"", "install-box.log"), 0);
  Instance instance = WaitForOneInstance(10000);
  ASSERT_NE(instance.process, nullptr);
  const HWND box = WaitForVisibleDialog(instance.pid, 10000);
  ASSERT_NE(box, nullptr) << "the driver-missing box";

  EXPECT_EQ(Msiexec("/x", old_, L"", "uninstall-box.log"), 0);
  const std::string log = ReadLog(LogPath("uninstall-box.log"));
  EXPECT_NE(log.find("1 instance(s) of " + Narrow(InstalledExe()) + " still running"), std::string::npos) << log;
  EXPECT_EQ(::WaitForSingleObject(instance.process, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "the box holds it";
  EXPECT_EQ(RunValue(), L"");
  EXPECT_TRUE(UninstallEntries().empty());

  // Closing the box ends the instance: its kill was not lost.
  ::PostMessageW(box, WM_COMMAND, IDOK, 0);
  EXPECT_EQ(::WaitForSingleObject(instance.process, 10000), static_cast<DWORD>(WAIT_OBJECT_0));
  ::CloseHandle(instance.process);

  // What Windows removes at the restart.
  ::DeleteFileW(InstalledExe().c_str());
  ::RemoveDirectoryW(InstallFolder().c_str());
  ExpectNothingLeft("after the box is closed");
}

// An upgrade that fails after it stopped Tavlo starts the installed Tavlo
// again, not elevated. (The failure comes before the older version is
// removed: Wine cannot roll that removal, or files, back.)
TEST_F(Package, FailedUpgradeStartsTheStoppedTavloAgain) {
  testdriver::ScopedDriver driver(e2e::WindowsPath(KBDFILTR_TEST_SYS));
  ASSERT_EQ(driver.error(), static_cast<DWORD>(ERROR_SUCCESS)) << driver.failed_step();
  const std::string failing =
      TestPackage(new_, "failing-after-stop.msi", FailAt(StopTavloSequence("TAVLO_PACKAGE_NEW_CONTENTS") + 1));
  ASSERT_FALSE(failing.empty());

  ASSERT_EQ(Msiexec("/i", old_, L"", "install-before-failure.log"), 0);
  Instance first = WaitForOneInstance(10000);
  ASSERT_NE(first.process, nullptr);

  EXPECT_TRUE(Failed(Msiexec("/i", failing, L"", "failed-upgrade.log")));
  const std::string log = ReadLog(LogPath("failed-upgrade.log"));
  EXPECT_NE(log.find("instance(s) of " + Narrow(InstalledExe()) + " ended"), std::string::npos) << "Tavlo was stopped\n"
                                                                                                << log;
  EXPECT_EQ(::WaitForSingleObject(first.process, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  ::CloseHandle(first.process);
  Instance again = WaitForOneInstance(10000);
  ASSERT_NE(again.process, nullptr) << "Tavlo runs again after the rollback\n" << log;
  EXPECT_NE(again.pid, first.pid);
  EXPECT_TRUE(NotElevated(again));
  EXPECT_NE(log.find("Tavlo: started again " + Narrow(InstalledExe()) + " /Start"), std::string::npos) << log;
  ExpectInstalled(old_version_);
  ::CloseHandle(again.process);

  ASSERT_EQ(Msiexec("/x", old_, L"", "uninstall-after-failure.log"), 0);
  ExpectNothingLeft("after the uninstall");
}

// A deployment as LocalSystem starts nothing: Tavlo starts at the next
// sign-in, from its Run value.
TEST_F(Package, InstallAsLocalSystemStartsNothing) {
  testdriver::ScopedDriver driver(e2e::WindowsPath(KBDFILTR_TEST_SYS));
  ASSERT_EQ(driver.error(), static_cast<DWORD>(ERROR_SUCCESS)) << driver.failed_step();
  const std::string as_system = TestPackage(old_, "as-local-system.msi", AsLocalSystem());
  ASSERT_FALSE(as_system.empty());

  ASSERT_EQ(Msiexec("/i", as_system, L"", "install-as-system.log"), 0);
  ExpectInstalled(old_version_);
  ::Sleep(2000);
  EXPECT_EQ(RunningCount(), 0u);
  const std::string log = ReadLog(LogPath("install-as-system.log"));
  EXPECT_NE(log.find("Tavlo: not started: the installation runs as LocalSystem"), std::string::npos) << log;

  ASSERT_EQ(Msiexec("/x", as_system, L"", "uninstall-as-system.log"), 0);
  ExpectNothingLeft("after the uninstall");
}

// The rollback's start follows the same rules.
TEST_F(Package, RollbackAsLocalSystemStartsNothing) {
  testdriver::ScopedDriver driver(e2e::WindowsPath(KBDFILTR_TEST_SYS));
  ASSERT_EQ(driver.error(), static_cast<DWORD>(ERROR_SUCCESS)) << driver.failed_step();
  const std::string failing =
      TestPackage(new_, "failing-as-local-system.msi",
                  Joined(AsLocalSystem(), FailAt(StopTavloSequence("TAVLO_PACKAGE_NEW_CONTENTS") + 1)));
  ASSERT_FALSE(failing.empty());

  ASSERT_EQ(Msiexec("/i", old_, L"", "install-before-system-failure.log"), 0);
  Instance first = WaitForOneInstance(10000);
  ASSERT_NE(first.process, nullptr);

  EXPECT_TRUE(Failed(Msiexec("/i", failing, L"", "failed-upgrade-as-system.log")));
  EXPECT_EQ(::WaitForSingleObject(first.process, 10000), static_cast<DWORD>(WAIT_OBJECT_0));
  ::CloseHandle(first.process);
  ::Sleep(2000);
  EXPECT_EQ(RunningCount(), 0u);
  const std::string log = ReadLog(LogPath("failed-upgrade-as-system.log"));
  EXPECT_NE(log.find("Tavlo: not started again: the installation runs as LocalSystem"), std::string::npos) << log;
  ExpectInstalled(old_version_);

  ASSERT_EQ(Msiexec("/x", old_, L"", "uninstall-after-system-failure.log"), 0);
  ExpectNothingLeft("after the uninstall");
}

// A per-user install is refused: it would register Tavlo for one user only,
// while its Run value starts it for everyone.
TEST_F(Package, PerUserInstallIsRefused) {
  const long code = Msiexec("/i", old_, L"ALLUSERS=\"\"", "install-per-user.log");
  EXPECT_TRUE(RefusedAtLaunch(code, ReadLog(LogPath("install-per-user.log"))));
  ExpectNothingLeft("after the refusal");
}

// INSTALLFOLDER, given on the command line, must lie in Program Files.
TEST_F(Package, InstallFolderOutsideProgramFilesIsRefused) {
  const std::wstring elsewhere = ExpandedPath(L"%SystemDrive%\\TavloElsewhere");
  const std::wstring outside[] = {elsewhere, ProgramFiles() + L"\\..\\TavloElsewhere",
                                  ProgramFiles() + L"\\Tavlo\\..\\..\\TavloElsewhere"};
  for (const std::wstring& folder : outside) {
    SCOPED_TRACE(Narrow(folder));
    const long code = Msiexec("/i", old_, L"TAVLO_START=0 INSTALLFOLDER=\"" + folder + L"\"", "install-outside.log");
    EXPECT_TRUE(RefusedAtLaunch(code, ReadLog(LogPath("install-outside.log"))));
    EXPECT_FALSE(Exists(elsewhere));
    ExpectNothingLeft("after the refusal");
  }

  // Given as Program Files' own folder, it installs.
  ASSERT_EQ(Msiexec("/i", old_, L"TAVLO_START=0 INSTALLFOLDER=\"" + InstallFolder() + L"\"", "install-inside.log"), 0);
  ExpectInstalled(old_version_);
  ASSERT_EQ(Msiexec("/x", old_, L"", "uninstall-inside.log"), 0);
  ExpectNothingLeft("after the uninstall");
}

}  // namespace
