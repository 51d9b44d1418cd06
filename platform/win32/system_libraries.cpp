// hid.dll, setupapi.dll and psapi.dll loaded by full path from the system
// directory, and the process's DLL search kept out of the program's folder.
#include "platform/win32/system_libraries.h"

#include "platform/text.h"
#include "platform/trace.h"

namespace platform {

namespace {

// Not in the XP-level headers the product is built with.
constexpr DWORD kLoadLibrarySearchSystem32 = 0x00000800;

const char16_t* Text(const wchar_t* text) { return reinterpret_cast<const char16_t*>(text); }

template <typename Function>
Function Lookup(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(win32::FindFunction(module, name)));
}

template <typename Function>
void Resolve(HMODULE module, const char* name, Function& slot) {
  slot = Lookup<Function>(module, name);
}

}  // namespace

void RestrictDllSearch() {
  // kernel32 is in every process before its first instruction: nothing is
  // searched for here.
  const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  if (!kernel) {
    TraceFailure(u"GetModuleHandleW", u"kernel32.dll", ::GetLastError());
    return;
  }
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  // Absent before Windows 8 unless KB2533623 is installed: not a failure.
  const auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
      reinterpret_cast<void*>(::GetProcAddress(kernel, "SetDefaultDllDirectories")));
  if (setDefault) {
    if (setDefault(kLoadLibrarySearchSystem32)) return;
    TraceFailure(u"SetDefaultDllDirectories", nullptr, ::GetLastError());
  }
  using SetDllDirectoryFn = BOOL(WINAPI*)(LPCWSTR);
  const auto setDirectory = Lookup<SetDllDirectoryFn>(kernel, "SetDllDirectoryW");
  if (setDirectory && !setDirectory(L"")) TraceFailure(u"SetDllDirectoryW", nullptr, ::GetLastError());
}

namespace win32 {

HMODULE LoadLibraryFrom(const wchar_t* directory, const wchar_t* file) {
  char16_t path[MAX_PATH] = {};
  CopyBounded(path, MAX_PATH, Text(directory));
  AppendBounded(path, MAX_PATH, u"\\");
  AppendBounded(path, MAX_PATH, Text(file));
  // A cut path would name another file.
  if (TextLength(Text(directory)) + 1 + TextLength(Text(file)) >= MAX_PATH) {
    TraceFailure(u"LoadLibraryExW", path, ERROR_FILENAME_EXCED_RANGE);
    return nullptr;
  }
  const HMODULE module =
      ::LoadLibraryExW(reinterpret_cast<const wchar_t*>(path), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (!module) TraceFailure(u"LoadLibraryExW", path, ::GetLastError());
  return module;
}

HMODULE LoadSystemLibrary(const wchar_t* file) {
  wchar_t directory[MAX_PATH] = {};
  const UINT length = ::GetSystemDirectoryW(directory, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    TraceFailure(u"GetSystemDirectoryW", nullptr, length == 0 ? ::GetLastError() : ERROR_INSUFFICIENT_BUFFER);
    return nullptr;
  }
  return LoadLibraryFrom(directory, file);
}

FARPROC FindFunction(HMODULE module, const char* name) {
  if (!module) return nullptr;
  const FARPROC function = ::GetProcAddress(module, name);
  if (!function) {
    const DWORD error = ::GetLastError();
    char16_t subject[64] = {};
    for (size_t i = 0; name[i] && i + 1 < 64; ++i) subject[i] = static_cast<char16_t>(name[i]);
    TraceFailure(u"GetProcAddress", subject, error);
  }
  return function;
}

const HidFunctions& Hid() {
  static const HidFunctions table = [] {
    HidFunctions f = {};
    const HMODULE module = LoadSystemLibrary(L"hid.dll");
    Resolve(module, "HidD_GetPreparsedData", f.GetPreparsedData);
    Resolve(module, "HidD_FreePreparsedData", f.FreePreparsedData);
    Resolve(module, "HidD_GetAttributes", f.GetAttributes);
    Resolve(module, "HidD_FlushQueue", f.FlushQueue);
    Resolve(module, "HidD_GetHidGuid", f.GetHidGuid);
    Resolve(module, "HidP_GetCaps", f.GetCaps);
    Resolve(module, "HidP_GetSpecificButtonCaps", f.GetSpecificButtonCaps);
    Resolve(module, "HidP_GetSpecificValueCaps", f.GetSpecificValueCaps);
    Resolve(module, "HidP_MaxUsageListLength", f.MaxUsageListLength);
    return f;
  }();
  return table;
}

const SetupApiFunctions& SetupApi() {
  static const SetupApiFunctions table = [] {
    SetupApiFunctions f = {};
    const HMODULE module = LoadSystemLibrary(L"setupapi.dll");
    Resolve(module, "SetupDiGetClassDevsW", f.GetClassDevsW);
    Resolve(module, "SetupDiEnumDeviceInterfaces", f.EnumDeviceInterfaces);
    Resolve(module, "SetupDiGetDeviceInterfaceDetailW", f.GetDeviceInterfaceDetailW);
    Resolve(module, "SetupDiDestroyDeviceInfoList", f.DestroyDeviceInfoList);
    return f;
  }();
  return table;
}

const PsapiFunctions& Psapi() {
  static const PsapiFunctions table = [] {
    PsapiFunctions f = {};
    Resolve(LoadSystemLibrary(L"psapi.dll"), "GetProcessImageFileNameW", f.GetProcessImageFileNameW);
    return f;
  }();
  return table;
}

}  // namespace win32
}  // namespace platform
