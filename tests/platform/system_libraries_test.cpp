// hid.dll, setupapi.dll and psapi.dll loaded by full path (platform/win32/
// system_libraries.h), under Wine: every function Tavlo needs is found and
// comes from the system directory; a library or function that cannot be had
// gives null and one line on the debug output; and the restricted DLL search
// no longer finds a DLL in the program's folder or the current folder.
#include <windows.h>

#include <gtest/gtest.h>

#include <cwctype>
#include <string>
#include <vector>

#include "platform/win32/system_libraries.h"
#include "tests/support/debug_output.h"

namespace {

using namespace platform::win32;

// Wide text as ASCII for messages; other characters show as '?'.
std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(::towlower(c));
  return text;
}

// The folder of the module that holds `address`, in lower case.
std::wstring FolderOf(const void* address) {
  HMODULE module = nullptr;
  if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCWSTR>(address), &module))
    return L"";
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(module, path, MAX_PATH);
  std::wstring folder = path;
  return Lower(folder.substr(0, folder.rfind(L'\\')));
}

// The system directory, and the 32-bit one a WoW64 process may report its
// system DLLs from.
std::vector<std::wstring> SystemFolders() {
  std::vector<std::wstring> folders;
  wchar_t path[MAX_PATH] = {};
  if (::GetSystemDirectoryW(path, MAX_PATH)) folders.push_back(Lower(path));
  if (::GetSystemWow64DirectoryW(path, MAX_PATH)) folders.push_back(Lower(path));
  return folders;
}

template <typename Function>
void ExpectFromTheSystem(Function function, const char* name) {
  ASSERT_NE(function, nullptr) << name;
  const std::wstring folder = FolderOf(reinterpret_cast<const void*>(function));
  bool system = false;
  for (const std::wstring& s : SystemFolders()) system = system || folder == s;
  EXPECT_TRUE(system) << name << " comes from " << Narrow(folder);
}

TEST(SystemLibraries, EveryFunctionIsFoundInTheSystemDirectory) {
  const HidFunctions& hid = Hid();
  ExpectFromTheSystem(hid.GetPreparsedData, "HidD_GetPreparsedData");
  ExpectFromTheSystem(hid.FreePreparsedData, "HidD_FreePreparsedData");
  ExpectFromTheSystem(hid.GetAttributes, "HidD_GetAttributes");
  ExpectFromTheSystem(hid.FlushQueue, "HidD_FlushQueue");
  ExpectFromTheSystem(hid.GetHidGuid, "HidD_GetHidGuid");
  ExpectFromTheSystem(hid.GetCaps, "HidP_GetCaps");
  ExpectFromTheSystem(hid.GetSpecificButtonCaps, "HidP_GetSpecificButtonCaps");
  ExpectFromTheSystem(hid.GetSpecificValueCaps, "HidP_GetSpecificValueCaps");
  ExpectFromTheSystem(hid.MaxUsageListLength, "HidP_MaxUsageListLength");
  const SetupApiFunctions& setup = SetupApi();
  ExpectFromTheSystem(setup.GetClassDevsW, "SetupDiGetClassDevsW");
  ExpectFromTheSystem(setup.EnumDeviceInterfaces, "SetupDiEnumDeviceInterfaces");
  ExpectFromTheSystem(setup.GetDeviceInterfaceDetailW, "SetupDiGetDeviceInterfaceDetailW");
  ExpectFromTheSystem(setup.DestroyDeviceInfoList, "SetupDiDestroyDeviceInfoList");
  ExpectFromTheSystem(Psapi().GetProcessImageFileNameW, "GetProcessImageFileNameW");
  // Looked up once: the same table every time.
  EXPECT_EQ(&Hid(), &hid);
}

// The lines this process wrote to the debug output while `action` ran.
template <typename Action>
std::vector<std::string> DebugLinesOf(Action action) {
  DebugOutputReader reader;
  EXPECT_TRUE(reader.Start());
  action();
  // OutputDebugStringW returns only once the reader took the line.
  ::Sleep(100);
  return reader.LinesOf(::GetCurrentProcessId());
}

TEST(SystemLibraries, WhatCannotBeHadIsNullAndReportedOnce) {
  struct Case {
    const char* what;
    std::wstring directory;
    const char* function;  // looked up in kernel32 when not null
    const char* line;      // the start of the one line expected
  };
  const std::wstring longFolder = L"C:\\" + std::wstring(MAX_PATH, L'x');
  const Case cases[] = {
      {"a library that is not there", L"C:\\tavlo-no-such-folder", nullptr,
       "Tavlo: LoadLibraryExW C:\\tavlo-no-such-folder\\hid.dll failed, error "},
      {"a path longer than MAX_PATH", longFolder, nullptr, "Tavlo: LoadLibraryExW C:\\xxx"},
      {"a function the library does not export", L"", "TavloNoSuchFunction",
       "Tavlo: GetProcAddress TavloNoSuchFunction failed, error 127\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    void* result = reinterpret_cast<void*>(1);
    const std::vector<std::string> lines = DebugLinesOf([&] {
      if (c.function) {
        result = reinterpret_cast<void*>(FindFunction(::GetModuleHandleW(L"kernel32.dll"), c.function));
      } else {
        result = LoadLibraryFrom(c.directory.c_str(), L"hid.dll");
      }
    });
    EXPECT_EQ(result, nullptr);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind(c.line, 0), 0u) << lines[0];
    EXPECT_EQ(lines[0].back(), '\n');
  }
  // What a failed load left is not looked up again, and says nothing more.
  EXPECT_TRUE(DebugLinesOf([] { EXPECT_EQ(FindFunction(nullptr, "HidD_GetAttributes"), nullptr); }).empty());
}

// Last in this program: the restriction cannot be undone.
TEST(SystemLibraries, TheRestrictedSearchLeavesOutTheCurrentAndTheProgramsFolder) {
  wchar_t own[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, own, MAX_PATH);
  std::wstring ownFolder = own;
  ownFolder = ownFolder.substr(0, ownFolder.rfind(L'\\'));
  ASSERT_NE(::GetFileAttributesW((ownFolder + L"\\tavlo_dll_probe.dll").c_str()), INVALID_FILE_ATTRIBUTES);

  wchar_t temp[MAX_PATH] = {};
  ::GetTempPathW(MAX_PATH, temp);
  const std::wstring current = std::wstring(temp) + L"tavlo-dll-search-" + std::to_wstring(::GetCurrentProcessId());
  ::CreateDirectoryW(current.c_str(), nullptr);
  const std::wstring copy = current + L"\\tavlo_cwd_probe.dll";
  ASSERT_TRUE(::CopyFileW((ownFolder + L"\\tavlo_dll_probe.dll").c_str(), copy.c_str(), FALSE));
  wchar_t before[MAX_PATH] = {};
  ::GetCurrentDirectoryW(MAX_PATH, before);
  ASSERT_TRUE(::SetCurrentDirectoryW(current.c_str()));

  // Found by name in both folders first (the control), then in neither.
  struct Probe {
    const wchar_t* name;
    bool gone;  // whether the restriction takes the folder out here
  };
  const bool setDefault = ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories");
  const Probe probes[] = {
      {L"tavlo_cwd_probe.dll", true},
      // SetDllDirectoryW, the fallback, leaves the program's folder searched.
      {L"tavlo_dll_probe.dll", setDefault},
  };
  for (const Probe& p : probes) {
    HMODULE module = ::LoadLibraryW(p.name);
    EXPECT_NE(module, nullptr) << Narrow(p.name) << " is not found by name even before";
    if (module) ::FreeLibrary(module);
  }
  EXPECT_TRUE(DebugLinesOf([] { platform::RestrictDllSearch(); }).empty()) << "the restriction reported a failure";
  for (const Probe& p : probes) {
    HMODULE module = ::LoadLibraryW(p.name);
    EXPECT_EQ(module == nullptr, p.gone) << Narrow(p.name);
    if (module) ::FreeLibrary(module);
  }
  // What Tavlo loads by path is still found.
  EXPECT_NE(LoadSystemLibrary(L"hid.dll"), nullptr);

  ::SetCurrentDirectoryW(before);
  ::DeleteFileW(copy.c_str());
  ::RemoveDirectoryW(current.c_str());
}

}  // namespace
