// Custom actions of Tavlo's MSI package (packaging/Tavlo.wxs). None of them
// fails the installation: what one could not do it writes to the MSI log.
//
// StopTavlo runs, as the installing user, before any file is removed or
// replaced (and, in an upgrade, before the older version is removed): it
// starts the installed "Tavlo.exe /Kill" and then waits, at most kStopWaitMs,
// for every instance of that executable to end. /Kill itself only asks the
// instances to close and returns before they have ended. An instance that
// shows the driver-missing message box ends only once the box is closed; then
// the wait runs out and Windows Installer replaces or removes the file in use
// at the next restart (and asks for that restart: exit code 3010).
// Its CustomActionData is the path of the installed Tavlo.exe.
//
// StartTavloAgain is StopTavlo's rollback action: when the installation fails
// or is cancelled after Tavlo was stopped, it starts the Tavlo.exe that the
// rollback restored, with /Start. Its CustomActionData is
// "UserSID|path of Tavlo.exe".
//
// StartTavlo runs after the installation, as the installing user, and starts
// the installed Tavlo.exe with /Start.
//
// Both starts follow the same rules (packaging/start_rules.h): nothing is
// started for LocalSystem or a service account or a user not signed in at the
// computer, and nothing is started elevated. An elevated installation starts
// Tavlo with the normal rights of the user signed in at the desktop: with the
// token of the shell's process, else with the linked (limited) token of the
// installation's own. Where Windows refuses both, nothing is started. Tavlo
// then starts at the next sign-in from its Run value.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <psapi.h>
#include <sddl.h>

#include <cwchar>

#include "app/instance.h"
#include "packaging/start_rules.h"
#include "platform/owner.h"
#include "platform/text.h"

namespace {

// How long the instances get to end after /Kill; they take 0.6-1.8 s.
constexpr DWORD kStopWaitMs = 10000;

constexpr DWORD kMaxProcesses = 1024;
constexpr size_t kPathLength = platform::kPathBufferLength;
constexpr size_t kLineLength = 2 * kPathLength + 300;
// A SID string: "S-1-5-21-" and up to five numbers of ten digits.
constexpr size_t kSidLength = 96;
// CustomActionData of StartTavloAgain: the SID, "|" and the path.
constexpr size_t kDataLength = kSidLength + 1 + kPathLength;

const char16_t* AsText(const wchar_t* text) { return reinterpret_cast<const char16_t*>(text); }

void CloseIfOpen(HANDLE handle) {
  if (handle) ::CloseHandle(handle);
}
using OwnedHandle = platform::Owner<HANDLE, CloseIfOpen>;

// One line in the MSI log (and in the installer's progress text).
void Log(MSIHANDLE install, const wchar_t* format, ...) {
  wchar_t line[kLineLength];
  va_list args;
  va_start(args, format);
  std::vswprintf(line, kLineLength, format, args);
  va_end(args);
  line[kLineLength - 1] = L'\0';
  // Field 0 is a template in which [..] names a property: the text goes in
  // field 1, where it stays as it is.
  MSIHANDLE record = ::MsiCreateRecord(1);
  ::MsiRecordSetStringW(record, 0, L"[1]");
  ::MsiRecordSetStringW(record, 1, line);
  ::MsiProcessMessage(install, INSTALLMESSAGE_INFO, record);
  ::MsiCloseHandle(record);
}

// A property's value into a buffer of `length` code units; false if it is
// missing, empty or too long.
bool ReadProperty(MSIHANDLE install, const wchar_t* name, wchar_t* value, DWORD length) {
  DWORD size = length;
  if (::MsiGetPropertyW(install, name, value, &size) != ERROR_SUCCESS) {
    value[0] = L'\0';
    return false;
  }
  return value[0] != L'\0';
}

// The path of the installed Tavlo.exe, from CustomActionData; false if it is
// missing or too long.
bool TavloPath(MSIHANDLE install, wchar_t (&path)[kPathLength]) {
  return ReadProperty(install, L"CustomActionData", path, kPathLength);
}

bool FileExists(const wchar_t* path) { return ::GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES; }

// Whether the process runs the executable at path.
bool RunsImage(HANDLE process, const wchar_t* path) {
  char16_t image[kPathLength] = {};
  if (::GetProcessImageFileNameW(process, reinterpret_cast<wchar_t*>(image), kPathLength) == 0) return false;
  image[kPathLength - 1] = u'\0';
  char16_t dosPath[kPathLength] = {};
  return ImagePathToDosPath(image, dosPath) && platform::EqualsNoCase(dosPath, AsText(path));
}

// Opens, for waiting, every process that runs the executable at path (up to
// MAXIMUM_WAIT_OBJECTS). Returns how many handles it stored.
DWORD OpenInstances(const wchar_t* path, HANDLE (&instances)[MAXIMUM_WAIT_OBJECTS]) {
  DWORD ids[kMaxProcesses];
  DWORD bytes = 0;
  if (!::EnumProcesses(ids, sizeof ids, &bytes)) return 0;
  const DWORD own = ::GetCurrentProcessId();
  DWORD found = 0;
  for (DWORD i = 0; i < bytes / sizeof(DWORD) && found < MAXIMUM_WAIT_OBJECTS; ++i) {
    if (ids[i] == 0 || ids[i] == own) continue;
    HANDLE process = ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, ids[i]);
    // Vista and later: the limited right, for an instance of higher integrity.
    if (!process) process = ::OpenProcess(SYNCHRONIZE | 0x1000 /* PROCESS_QUERY_LIMITED_INFORMATION */, FALSE, ids[i]);
    if (!process) continue;
    if (RunsImage(process, path)) {
      instances[found++] = process;
    } else {
      ::CloseHandle(process);
    }
  }
  return found;
}

// The command line "path" /Kill or "path" /Start.
void CommandLine(const wchar_t* path, const wchar_t* option, wchar_t (&line)[kPathLength + 16]) {
  std::swprintf(line, sizeof line / sizeof line[0], L"\"%ls\" %ls", path, option);
}

// Starts "path" /Kill and waits for that launch itself to end.
bool RunKill(const wchar_t* path) {
  wchar_t commandLine[kPathLength + 16];
  CommandLine(path, L"/Kill", commandLine);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION launched = {};
  if (!::CreateProcessW(path, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &launched)) {
    return false;
  }
  ::WaitForSingleObject(launched.hProcess, kStopWaitMs);
  ::CloseHandle(launched.hThread);
  ::CloseHandle(launched.hProcess);
  return true;
}

// --- Starting Tavlo for the installing user ---------------------------------

// The token the action runs with: the thread's when it impersonates, else
// the process's.
HANDLE OpenOwnToken(DWORD access) {
  HANDLE token = nullptr;
  if (::OpenThreadToken(::GetCurrentThread(), access, TRUE, &token)) return token;
  if (::OpenProcessToken(::GetCurrentProcess(), access, &token)) return token;
  return nullptr;
}

// The SID string of a token's user; false if it cannot be read.
bool TokenUserSid(HANDLE token, wchar_t (&sid)[kSidLength]) {
  sid[0] = L'\0';
  union {
    TOKEN_USER user;
    BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  } info;
  DWORD size = 0;
  if (!::GetTokenInformation(token, TokenUser, &info, sizeof info, &size)) return false;
  wchar_t* text = nullptr;
  if (!::ConvertSidToStringSidW(info.user.User.Sid, &text)) return false;
  const bool fits = platform::CopyBounded(reinterpret_cast<char16_t*>(sid), kSidLength, AsText(text)) ==
                    platform::TextLength(AsText(text));
  ::LocalFree(text);
  if (!fits) sid[0] = L'\0';
  return fits;
}

// Whether the token the action runs with holds the INTERACTIVE group.
bool IsInteractive() {
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID interactive = nullptr;
  if (!::AllocateAndInitializeSid(&nt, 1, SECURITY_INTERACTIVE_RID, 0, 0, 0, 0, 0, 0, 0, &interactive)) return false;
  BOOL member = FALSE;
  const bool checked = ::CheckTokenMembership(nullptr, interactive, &member) != FALSE;
  ::FreeSid(interactive);
  return checked && member;
}

bool WindowsHasElevation() {
  OSVERSIONINFOEXW version = {};
  version.dwOSVersionInfoSize = sizeof version;
  version.dwMajorVersion = 6;
  return ::VerifyVersionInfoW(&version, VER_MAJORVERSION,
                              ::VerSetConditionMask(0, VER_MAJORVERSION, VER_GREATER_EQUAL)) != FALSE;
}

// A token's elevation (Vista and later); false if it cannot be read.
bool ReadElevation(HANDLE token, bool* elevated) {
  TOKEN_ELEVATION elevation = {};
  DWORD size = 0;
  if (!::GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size)) return false;
  *elevated = elevation.TokenIsElevated != 0;
  return true;
}

// A primary token for starting a process, from any token that may be
// duplicated; null (and the error in *error) if Windows refuses.
HANDLE PrimaryTokenOf(HANDLE token, DWORD* error) {
  HANDLE primary = nullptr;
  const DWORD access =
      TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY | TOKEN_ADJUST_DEFAULT | TOKEN_ADJUST_SESSIONID;
  if (!::DuplicateTokenEx(token, access, nullptr, SecurityImpersonation, TokenPrimary, &primary)) {
    *error = ::GetLastError();
    return nullptr;
  }
  // Never a token that is elevated itself.
  bool elevated = true;
  if (!ReadElevation(primary, &elevated) || elevated) {
    *error = ERROR_ACCESS_DENIED;
    ::CloseHandle(primary);
    return nullptr;
  }
  return primary;
}

// The token of the shell's process on the action's desktop (Explorer's: the
// user signed in there, with normal rights), as a primary token.
HANDLE ShellToken(DWORD* error) {
  HWND shell = ::GetShellWindow();
  DWORD processId = 0;
  if (!shell || !::GetWindowThreadProcessId(shell, &processId) || processId == 0) {
    *error = ERROR_NOT_FOUND;
    return nullptr;
  }
  OwnedHandle process(::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, processId));
  OwnedHandle token;
  HANDLE opened = nullptr;
  if (!process.Get() || !::OpenProcessToken(process.Get(), TOKEN_QUERY | TOKEN_DUPLICATE, &opened)) {
    *error = ::GetLastError();
    return nullptr;
  }
  token.Reset(opened);
  return PrimaryTokenOf(token.Get(), error);
}

// The linked (limited) token of the action's own elevated token, as a primary
// token.
HANDLE LinkedToken(HANDLE own, DWORD* error) {
  TOKEN_LINKED_TOKEN linked = {};
  DWORD size = 0;
  if (!::GetTokenInformation(own, TokenLinkedToken, &linked, sizeof linked, &size)) {
    *error = ::GetLastError();
    return nullptr;
  }
  OwnedHandle owned(linked.LinkedToken);
  return PrimaryTokenOf(owned.Get(), error);
}

// Starts "path" /Start with the given primary token (null: the action's own
// rights); false, with the error, if Windows refuses.
bool LaunchStart(const wchar_t* path, HANDLE token, bool withShellToken, DWORD* error) {
  wchar_t commandLine[kPathLength + 16];
  CommandLine(path, L"/Start", commandLine);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION launched = {};
  BOOL started = FALSE;
  if (!token) {
    started = ::CreateProcessW(path, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &launched);
  } else if (withShellToken) {
    // Vista and later: another user's token (the desktop user's, where an
    // administrator elevated for them) needs CreateProcessWithTokenW.
    using CreateWithToken =
        BOOL(WINAPI*)(HANDLE, DWORD, LPCWSTR, LPWSTR, DWORD, LPVOID, LPCWSTR, LPSTARTUPINFOW, LPPROCESS_INFORMATION);
    HMODULE advapi = ::GetModuleHandleW(L"advapi32.dll");
    const auto createWithToken = advapi ? reinterpret_cast<CreateWithToken>(reinterpret_cast<void (*)()>(
                                              ::GetProcAddress(advapi, "CreateProcessWithTokenW")))
                                        : nullptr;
    if (!createWithToken) {
      *error = ERROR_PROC_NOT_FOUND;
      return false;
    }
    started = createWithToken(token, 0, path, commandLine, 0, nullptr, nullptr, &startup, &launched);
  } else {
    started = ::CreateProcessAsUserW(token, path, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                     &launched);
  }
  if (!started) {
    *error = ::GetLastError();
    return false;
  }
  ::CloseHandle(launched.hThread);
  ::CloseHandle(launched.hProcess);
  return true;
}

const wchar_t* NotStartedReason(StartPlan plan) {
  switch (plan) {
    case StartPlan::NotForLocalSystem:
      return L"the installation runs as LocalSystem";
    case StartPlan::NotForServiceAccount:
      return L"the installation runs as a service account";
    case StartPlan::NotInteractive:
      return L"the installing user is not signed in at this computer";
    case StartPlan::NotElevationUnknown:
      return L"the installation's rights could not be read";
    case StartPlan::StartAsIs:
    case StartPlan::StartWithNormalRights:
      break;
  }
  return L"";
}

// Starts "path" /Start for the installing user by the rules of
// start_rules.h, and logs what it did. `again` is set for the rollback's
// start; `userSid` is the installation's UserSID.
void StartForInstallingUser(MSIHANDLE install, const wchar_t* path, const wchar_t* userSid, bool again) {
  const wchar_t* started = again ? L"started again" : L"started";
  const wchar_t* notStarted = again ? L"not started again" : L"not started";
  if (!FileExists(path)) {
    Log(install, L"Tavlo: %ls: %ls is not there.", notStarted, path);
    return;
  }

  OwnedHandle own(OpenOwnToken(TOKEN_QUERY));
  wchar_t tokenSid[kSidLength] = {};
  StartFacts facts;
  facts.userSid = AsText(userSid);
  facts.windowsHasElevation = WindowsHasElevation();
  if (own.Get()) {
    TokenUserSid(own.Get(), tokenSid);
    facts.tokenSid = AsText(tokenSid);
    facts.interactive = IsInteractive();
    facts.elevationKnown = ReadElevation(own.Get(), &facts.elevated);
  }
  const StartPlan plan = PlanStart(facts);
  if (plan != StartPlan::StartAsIs && plan != StartPlan::StartWithNormalRights) {
    Log(install, L"Tavlo: %ls: %ls (user %ls, token user %ls); Tavlo starts at the next sign-in.", notStarted,
        NotStartedReason(plan), userSid[0] ? userSid : L"unknown", tokenSid[0] ? tokenSid : L"unknown");
    return;
  }

  DWORD error = 0;
  if (plan == StartPlan::StartAsIs) {
    if (LaunchStart(path, nullptr, false, &error)) {
      Log(install, L"Tavlo: %ls %ls /Start.", started, path);
    } else {
      Log(install, L"Tavlo: %ls: %ls /Start failed (error %lu); Tavlo starts at the next sign-in.", notStarted, path,
          error);
    }
    return;
  }

  // Elevated: the shell's token, else the linked one; never the own.
  DWORD shellError = 0;
  OwnedHandle shell(ShellToken(&shellError));
  if (shell.Get() && LaunchStart(path, shell.Get(), true, &shellError)) {
    Log(install, L"Tavlo: %ls %ls /Start with the normal rights of the desktop's user (the shell's token).", started,
        path);
    return;
  }
  DWORD linkedError = 0;
  OwnedHandle linked(own.Get() ? LinkedToken(own.Get(), &linkedError) : nullptr);
  if (!own.Get()) linkedError = ERROR_NO_TOKEN;
  if (linked.Get() && LaunchStart(path, linked.Get(), false, &linkedError)) {
    Log(install, L"Tavlo: %ls %ls /Start with the normal rights of the installing user (the linked token).", started,
        path);
    return;
  }
  Log(install,
      L"Tavlo: %ls: the installation runs elevated and Windows refused to start %ls with normal rights (the shell's "
      L"token: error %lu, the linked token: error %lu); Tavlo starts at the next sign-in.",
      notStarted, path, shellError, linkedError);
}

}  // namespace

extern "C" UINT __stdcall StopTavlo(MSIHANDLE install) {
  wchar_t path[kPathLength] = {};
  if (!TavloPath(install, path)) {
    Log(install, L"Tavlo: no path of Tavlo.exe given; nothing stopped.");
    return ERROR_SUCCESS;
  }
  if (!FileExists(path)) return ERROR_SUCCESS;

  HANDLE instances[MAXIMUM_WAIT_OBJECTS];
  const DWORD count = OpenInstances(path, instances);
  if (count == 0) {
    Log(install, L"Tavlo: %ls is not running.", path);
    return ERROR_SUCCESS;
  }

  const DWORD start = ::GetTickCount();
  if (!RunKill(path)) {
    Log(install, L"Tavlo: %ls /Kill could not be started (error %lu).", path, ::GetLastError());
  }
  const DWORD spent = ::GetTickCount() - start;
  const DWORD left = spent < kStopWaitMs ? kStopWaitMs - spent : 0;
  const DWORD result = ::WaitForMultipleObjects(count, instances, TRUE, left);
  const DWORD elapsed = ::GetTickCount() - start;

  if (result < WAIT_OBJECT_0 + count) {
    Log(install, L"Tavlo: %lu instance(s) of %ls ended %lu ms after /Kill.", count, path, elapsed);
  } else {
    DWORD running = 0;
    for (DWORD i = 0; i < count; ++i) {
      if (::WaitForSingleObject(instances[i], 0) == WAIT_TIMEOUT) ++running;
    }
    Log(install,
        L"Tavlo: %lu instance(s) of %ls still running %lu ms after /Kill; an instance that shows its "
        L"message box ends when the box is closed. Windows replaces or removes a Tavlo.exe still in use at the "
        L"next restart.",
        running, path, elapsed);
  }
  for (DWORD i = 0; i < count; ++i) ::CloseHandle(instances[i]);
  return ERROR_SUCCESS;
}

extern "C" UINT __stdcall StartTavloAgain(MSIHANDLE install) {
  // "UserSID|path": a SID has no "|", a path cannot have one.
  wchar_t data[kDataLength] = {};
  ReadProperty(install, L"CustomActionData", data, kDataLength);
  wchar_t* bar = std::wcschr(data, L'|');
  const wchar_t* userSid = L"";
  const wchar_t* path = data;
  if (bar) {
    *bar = L'\0';
    userSid = data;
    path = bar + 1;
  }
  if (path[0] == L'\0') {
    Log(install, L"Tavlo: no path of Tavlo.exe given; nothing started again.");
    return ERROR_SUCCESS;
  }
  StartForInstallingUser(install, path, userSid, true);
  return ERROR_SUCCESS;
}

extern "C" UINT __stdcall StartTavlo(MSIHANDLE install) {
  wchar_t folder[kPathLength] = {};
  wchar_t userSid[kSidLength] = {};
  ReadProperty(install, L"UserSID", userSid, kSidLength);
  if (!ReadProperty(install, L"INSTALLFOLDER", folder, kPathLength)) {
    Log(install, L"Tavlo: no INSTALLFOLDER; nothing started.");
    return ERROR_SUCCESS;
  }
  wchar_t path[kPathLength] = {};
  platform::CopyBounded(reinterpret_cast<char16_t*>(path), kPathLength, AsText(folder));
  if (platform::AppendBounded(reinterpret_cast<char16_t*>(path), kPathLength, u"Tavlo.exe") != 9) {
    Log(install, L"Tavlo: the path of Tavlo.exe in %ls is too long; nothing started.", folder);
    return ERROR_SUCCESS;
  }
  StartForInstallingUser(install, path, userSid, false);
  return ERROR_SUCCESS;
}
