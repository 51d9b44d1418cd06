// Custom actions of Tavlo's MSI package (packaging/Tavlo.wxs). Each gets the
// full path of the installed Tavlo.exe as its CustomActionData and never
// fails the installation: what it could not do it writes to the MSI log.
//
// StopTavlo runs, as the installing user, before any file is removed or
// replaced: it starts the installed "Tavlo.exe /Kill" and then waits, at most
// kStopWaitMs, for every instance of that executable to end. /Kill itself only
// asks the instances to close and returns before they have ended.
//
// An instance that shows the driver-missing message box ends only once the box
// is closed. Then the wait runs out, the package goes on, and
// RemoveTavloAtRestart, which runs as the system after the files were removed,
// finds Tavlo.exe still there. It renames the file (a running program may be
// renamed, not deleted) and has the renamed file and the folder removed at the
// next restart: a Tavlo installed again before then keeps its Tavlo.exe.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <psapi.h>

#include <cwchar>

#include "app/instance.h"
#include "platform/text.h"

namespace {

// How long the instances get to end after /Kill; they take 0.6-1.8 s.
constexpr DWORD kStopWaitMs = 10000;

constexpr DWORD kMaxProcesses = 1024;
constexpr size_t kPathLength = platform::kPathBufferLength;
constexpr size_t kLineLength = 2 * kPathLength + 200;

const char16_t* AsText(const wchar_t* text) { return reinterpret_cast<const char16_t*>(text); }

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

// The path of the installed Tavlo.exe, from CustomActionData; false if it is
// missing or too long.
bool TavloPath(MSIHANDLE install, wchar_t (&path)[kPathLength]) {
  DWORD length = kPathLength;
  if (::MsiGetPropertyW(install, L"CustomActionData", path, &length) != ERROR_SUCCESS) return false;
  return path[0] != L'\0';
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

// Starts "path" /Kill and waits for that launch itself to end.
bool RunKill(const wchar_t* path) {
  wchar_t commandLine[kPathLength + 16];
  std::swprintf(commandLine, sizeof commandLine / sizeof commandLine[0], L"\"%ls\" /Kill", path);
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
        L"message box ends when the box is closed. A Tavlo.exe still in use is removed at the next restart.",
        running, path, elapsed);
  }
  for (DWORD i = 0; i < count; ++i) ::CloseHandle(instances[i]);
  return ERROR_SUCCESS;
}

extern "C" UINT __stdcall RemoveTavloAtRestart(MSIHANDLE install) {
  wchar_t path[kPathLength] = {};
  if (!TavloPath(install, path) || !FileExists(path)) return ERROR_SUCCESS;

  wchar_t folder[kPathLength];
  std::wcsncpy(folder, path, kPathLength);
  folder[kPathLength - 1] = L'\0';
  wchar_t* name = std::wcsrchr(folder, L'\\');
  if (!name) return ERROR_SUCCESS;
  *name = L'\0';

  // Out of the way under a name of its own, in the same folder.
  wchar_t moved[kPathLength] = {};
  const wchar_t* removed = path;
  if (::GetTempFileNameW(folder, L"Tav", 0, moved) != 0) {
    if (::MoveFileExW(path, moved, MOVEFILE_REPLACE_EXISTING)) {
      removed = moved;
    } else {
      ::DeleteFileW(moved);
    }
  }
  if (::MoveFileExW(removed, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
    // The folder goes after its file, if nothing else is in it by then.
    ::MoveFileExW(folder, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    Log(install, L"Tavlo: %ls is still in use; it is removed (as %ls), with its folder, at the next restart.", path,
        removed);
  } else {
    Log(install, L"Tavlo: %ls is still in use and could not be marked for removal (error %lu).", path,
        ::GetLastError());
  }
  return ERROR_SUCCESS;
}
