// A hid.dll planted beside a program (see CMakeLists.txt). Loaded into a
// process, it writes "planted-hid-loaded.txt" beside itself, naming the
// process's executable; its exports forward to the system's hid.dll, loaded
// by full path.
#include <windows.h>

namespace {

HMODULE g_self = nullptr;

void LeaveMarker() {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = ::GetModuleFileNameW(g_self, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  wchar_t* slash = path;
  for (wchar_t* p = path; *p; ++p)
    if (*p == L'\\') slash = p;
  const wchar_t name[] = L"\\planted-hid-loaded.txt";
  if (static_cast<size_t>(slash - path) + sizeof name / sizeof name[0] > MAX_PATH) return;
  for (size_t i = 0; i < sizeof name / sizeof name[0]; ++i) slash[i] = name[i];
  HANDLE file = ::CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  wchar_t exe[MAX_PATH] = {};
  const DWORD exeLength = ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
  DWORD written = 0;
  ::WriteFile(file, exe, exeLength * sizeof(wchar_t), &written, nullptr);
  ::CloseHandle(file);
}

// The system's function of that name; null if it cannot be had (or if the
// system's hid.dll turned out to be this one).
FARPROC Real(const char* name) {
  static HMODULE system = [] {
    wchar_t path[MAX_PATH] = {};
    const UINT length = ::GetSystemDirectoryW(path, MAX_PATH - 10);
    if (length == 0 || length >= MAX_PATH - 10) return static_cast<HMODULE>(nullptr);
    const wchar_t file[] = L"\\hid.dll";
    for (size_t i = 0; i < sizeof file / sizeof file[0]; ++i) path[length + i] = file[i];
    HMODULE module = ::LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    return module == g_self ? static_cast<HMODULE>(nullptr) : module;
  }();
  return system ? ::GetProcAddress(system, name) : nullptr;
}

template <typename Function>
Function As(FARPROC function) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(function));
}

constexpr LONG kNotImplemented = static_cast<LONG>(0xC0110020);

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_self = module;
    LeaveMarker();
  }
  return TRUE;
}

// The functions Tavlo.exe imported from hid.dll before it loaded it by path.
__declspec(dllexport) void WINAPI HidD_GetHidGuid(GUID* guid) {
  if (auto real = As<void(WINAPI*)(GUID*)>(Real("HidD_GetHidGuid"))) real(guid);
}
__declspec(dllexport) BOOLEAN WINAPI HidD_GetPreparsedData(HANDLE device, void** data) {
  auto real = As<BOOLEAN(WINAPI*)(HANDLE, void**)>(Real("HidD_GetPreparsedData"));
  return real ? real(device, data) : FALSE;
}
__declspec(dllexport) BOOLEAN WINAPI HidD_FreePreparsedData(void* data) {
  auto real = As<BOOLEAN(WINAPI*)(void*)>(Real("HidD_FreePreparsedData"));
  return real ? real(data) : FALSE;
}
__declspec(dllexport) BOOLEAN WINAPI HidD_GetAttributes(HANDLE device, void* attributes) {
  auto real = As<BOOLEAN(WINAPI*)(HANDLE, void*)>(Real("HidD_GetAttributes"));
  return real ? real(device, attributes) : FALSE;
}
__declspec(dllexport) BOOLEAN WINAPI HidD_FlushQueue(HANDLE device) {
  auto real = As<BOOLEAN(WINAPI*)(HANDLE)>(Real("HidD_FlushQueue"));
  return real ? real(device) : FALSE;
}
__declspec(dllexport) LONG WINAPI HidP_GetCaps(void* data, void* caps) {
  auto real = As<LONG(WINAPI*)(void*, void*)>(Real("HidP_GetCaps"));
  return real ? real(data, caps) : kNotImplemented;
}
__declspec(dllexport) LONG WINAPI HidP_GetSpecificButtonCaps(int type, USHORT page, USHORT collection, USHORT usage,
                                                             void* caps, USHORT* length, void* data) {
  auto real = As<LONG(WINAPI*)(int, USHORT, USHORT, USHORT, void*, USHORT*, void*)>(Real("HidP_GetSpecificButtonCaps"));
  return real ? real(type, page, collection, usage, caps, length, data) : kNotImplemented;
}
__declspec(dllexport) LONG WINAPI HidP_GetSpecificValueCaps(int type, USHORT page, USHORT collection, USHORT usage,
                                                            void* caps, USHORT* length, void* data) {
  auto real = As<LONG(WINAPI*)(int, USHORT, USHORT, USHORT, void*, USHORT*, void*)>(Real("HidP_GetSpecificValueCaps"));
  return real ? real(type, page, collection, usage, caps, length, data) : kNotImplemented;
}
__declspec(dllexport) ULONG WINAPI HidP_MaxUsageListLength(int type, USHORT page, void* data) {
  auto real = As<ULONG(WINAPI*)(int, USHORT, void*)>(Real("HidP_MaxUsageListLength"));
  return real ? real(type, page, data) : 0;
}

}  // extern "C"
