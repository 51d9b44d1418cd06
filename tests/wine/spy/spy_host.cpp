// Hooks the message retrieval of one thread of a running Tavlo with the
// message spy beside this program and keeps the hook until it is told to
// end. A hook DLL loads only into a process of its own bitness, so a test
// spies on a 32-bit Tavlo through the i686 build of this program and of the
// spy, and on a 64-bit one through the x86_64 build.
//   tavlo_spy_host THREAD_ID
// Once the hook is set it signals the event kSpyHostReadyName (created by
// the test) and runs until a WM_QUIT reaches its thread. Exit codes: 2 a bad
// command line, 3 the spy did not load, 4 it has no hook procedure, 5 the
// hook was refused, 6 the ready event could not be set.
#include <windows.h>

#include <cwchar>
#include <string>

#include "tests/wine/spy/spy_log.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 2;
  wchar_t* end = nullptr;
  const unsigned long thread = std::wcstoul(argv[1], &end, 10);
  if (thread == 0 || *end != L'\0') return 2;

  wchar_t own[MAX_PATH] = {};
  const DWORD length = ::GetModuleFileNameW(nullptr, own, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return 3;
  std::wstring dll = own;
  dll = dll.substr(0, dll.find_last_of(L'\\')) + L"\\tavlo_message_spy.dll";
  HMODULE spy = ::LoadLibraryW(dll.c_str());
  if (!spy) return 3;
  auto proc = reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(::GetProcAddress(spy, "SpyGetMsgProc")));
  if (!proc) return 4;
  HHOOK hook = ::SetWindowsHookExW(WH_GETMESSAGE, proc, spy, thread);
  if (!hook) return 5;

  MSG msg;
  ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);  // the queue that WM_QUIT is posted to
  HANDLE ready = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, kSpyHostReadyName);
  if (!ready || !::SetEvent(ready)) return 6;
  ::CloseHandle(ready);
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) ::DispatchMessageW(&msg);
  ::UnhookWindowsHookEx(hook);
  return 0;
}
