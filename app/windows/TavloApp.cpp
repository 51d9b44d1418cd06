#include "app/windows/TavloApp.h"

#include <commctrl.h>

#include <clocale>
#include <cstdlib>
#include <cstring>

#include "app/command_line.h"
#include "app/instance.h"
#include "app/launch.h"
#include "ui/TavloDlg.h"

BEGIN_MESSAGE_MAP(CTavloApp, CWinApp)
  ON_COMMAND(ID_HELP, &CWinApp::OnHelp)
END_MESSAGE_MAP()

CTavloApp::CTavloApp() : CWinApp(nullptr) { m_dwRestartManagerSupportFlags = AFX_RESTART_MANAGER_SUPPORT_RESTART; }

CTavloApp theApp;

BOOL CTavloApp::InitInstance() {
  INITCOMMONCONTROLSEX controls = {};
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_WIN95_CLASSES;
  ::InitCommonControlsEx(&controls);

  CWinApp::InitInstance();
  AfxEnableControlContainer();
  CShellManager* shellManager = new CShellManager;
  SetRegistryKey(L"Tavlo");

  const char* current = std::setlocale(LC_ALL, nullptr);
  const size_t savedLength = current ? std::strlen(current) : 0;
  char* savedLocale = new char[savedLength + 1];
  if (current) std::memcpy(savedLocale, current, savedLength);
  savedLocale[savedLength] = '\0';
  std::setlocale(LC_ALL, "chs");

  ::GetModuleFileNameW(nullptr, reinterpret_cast<wchar_t*>(ModulePath), platform::kPathBufferLength);
  ModulePath[platform::kPathBufferLength - 1] = u'\0';  // XP leaves a cut path unterminated

  StartedByStartSwitch = 0;
  const CommandLineSwitches switches = ScanCommandLine(__argc, reinterpret_cast<const char16_t* const*>(__wargv));
  if (switches.Start) StartedByStartSwitch = 1;

  const LaunchRole role = TakeLaunchRole(switches);
  if (role == LaunchRole::Killer) {
    SignalRunningInstance(ModulePath, SignalKill);
  } else if (role == LaunchRole::SecondLaunch) {
    SignalRunningInstance(ModulePath, SignalOpen);
  } else {
    CTavloDlg dialog;
    m_pMainWnd = &dialog;
    dialog.DoModal();
    // The window's end clears this; a run that made no window must too,
    // before the object goes.
    m_pMainWnd = nullptr;
  }

  std::setlocale(LC_ALL, savedLocale);
  delete[] savedLocale;
  delete shellManager;
  return FALSE;
}
