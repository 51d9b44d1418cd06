// The system DLLs that Tavlo.exe does not import: hid.dll, setupapi.dll and
// psapi.dll. Windows looks for an imported DLL that is not one of its
// KnownDLLs in the program's own folder first, so a hid.dll beside a
// Tavlo.exe run from Downloads would be loaded into Tavlo. Instead each is
// loaded on first use by its full path in the system directory
// (GetSystemDirectoryW), with LOAD_WITH_ALTERED_SEARCH_PATH so that its own
// dependencies are looked for there first too, and its functions are looked
// up once and kept in the table below for the rest of the run.
//
// A library that cannot be loaded, or a function it does not export, is
// reported on the debug output once (platform/trace.h: "LoadLibraryExW
// <path>" or "GetProcAddress <function>"); the function's entry then stays
// null, and the platform call that needs it fails with ERROR_PROC_NOT_FOUND
// (platform/win32/hid.cpp, process.cpp).
#pragma once

#include <windows.h>
#include <setupapi.h>
#include <psapi.h>
// mingw-w64's HID headers declare their functions without C linkage.
extern "C" {
#include <hidsdi.h>
#include <hidpi.h>
}

namespace platform {

// Takes the program's own folder and the current folder out of the places
// Windows searches for a DLL named without a path: SetDefaultDllDirectories
// (LOAD_LIBRARY_SEARCH_SYSTEM32) where Windows has it (Windows 8, and 7 or
// Vista with KB2533623), looked up at run time; SetDllDirectoryW(L"") where
// it has not, which takes out the current folder only (Windows XP SP1 and
// later). A program's first call, before anything could load a DLL.
void RestrictDllSearch();

namespace win32 {

struct HidFunctions {
  decltype(&::HidD_GetPreparsedData) GetPreparsedData;
  decltype(&::HidD_FreePreparsedData) FreePreparsedData;
  decltype(&::HidD_GetAttributes) GetAttributes;
  decltype(&::HidD_FlushQueue) FlushQueue;
  decltype(&::HidD_GetHidGuid) GetHidGuid;
  decltype(&::HidP_GetCaps) GetCaps;
  decltype(&::HidP_GetSpecificButtonCaps) GetSpecificButtonCaps;
  decltype(&::HidP_GetSpecificValueCaps) GetSpecificValueCaps;
  decltype(&::HidP_MaxUsageListLength) MaxUsageListLength;
};

struct SetupApiFunctions {
  decltype(&::SetupDiGetClassDevsW) GetClassDevsW;
  decltype(&::SetupDiEnumDeviceInterfaces) EnumDeviceInterfaces;
  decltype(&::SetupDiGetDeviceInterfaceDetailW) GetDeviceInterfaceDetailW;
  decltype(&::SetupDiDestroyDeviceInfoList) DestroyDeviceInfoList;
};

struct PsapiFunctions {
  decltype(&::GetProcessImageFileNameW) GetProcessImageFileNameW;
};

// The tables, each filled on its first use (thread-safe) and kept.
const HidFunctions& Hid();
const SetupApiFunctions& SetupApi();
const PsapiFunctions& Psapi();

// The steps the tables are filled with, for the tests.
//
// Loads `directory`\`file` by that full path with LOAD_WITH_ALTERED_SEARCH_PATH;
// null, and one debug line naming the path, when it cannot be loaded or the
// path does not fit MAX_PATH.
HMODULE LoadLibraryFrom(const wchar_t* directory, const wchar_t* file);
// The same from the system directory (GetSystemDirectoryW).
HMODULE LoadSystemLibrary(const wchar_t* file);
// GetProcAddress(module, name); null, and one debug line naming the
// function, when the module does not export it. A null module gives null
// without a line (its load was reported).
FARPROC FindFunction(HMODULE module, const char* name);

}  // namespace win32
}  // namespace platform
