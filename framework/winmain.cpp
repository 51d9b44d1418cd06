// The program's entry: the application object, built as a static before this
// runs, is started; when its InitInstance gives FALSE the framework's own
// message loop is skipped.
#include "framework/afxwin.h"

#include <cstring>
#include <cwchar>

#include "platform/win32/system_libraries.h"

namespace {

// The program's name: the executable's file name without its extension.
void SetNames(CWinApp* app, wchar_t* buffer, size_t capacity) {
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  path[MAX_PATH - 1] = L'\0';
  const wchar_t* name = path;
  for (const wchar_t* p = path; *p; ++p) {
    if (*p == L'\\' || *p == L'/' || *p == L':') name = p + 1;
  }
  size_t n = 0;
  while (name[n] && n + 1 < capacity) {
    buffer[n] = name[n];
    ++n;
  }
  buffer[n] = L'\0';
  if (wchar_t* dot = std::wcsrchr(buffer, L'.')) *dot = L'\0';
  app->m_pszExeName = buffer;
  if (!app->m_pszAppName) app->m_pszAppName = buffer;
}

wchar_t g_exeName[MAX_PATH];

}  // namespace

extern "C" int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE, LPWSTR lpCmdLine, int nCmdShow) {
  // Before anything else could load a DLL by its name: no DLL is looked for
  // in the program's folder (Downloads, for a program run from there) or the
  // current folder. The static objects built before this load none.
  platform::RestrictDllSearch();
  CWinApp* app = AfxGetApp();
  if (!app) return -1;
  app->m_hInstance = hInstance;
  app->m_lpCmdLine = lpCmdLine;
  app->m_nCmdShow = nCmdShow;
  SetNames(app, g_exeName, MAX_PATH);
  int code;
  if (!app->InitInstance()) {
    if (app->m_pMainWnd) app->m_pMainWnd->DestroyWindow();
    code = app->ExitInstance();
  } else {
    code = app->Run();
  }
  return code;
}
