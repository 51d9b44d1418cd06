// The framework's classes on plain Win32.
#include "framework/afxwin.h"

#include <cstring>
#include <cwchar>

namespace {

CWinApp* g_app = nullptr;
bool g_controlContainerEnabled = false;
int g_shellManagers = 0;

// The property that ties a subclassed window to its object.
const wchar_t kWndProperty[] = L"TavloFrameworkWnd";

// The message being handled, for Default(). Windows of this framework live
// on one thread; nested messages save and restore it.
struct CurrentMessage {
  HWND hWnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};
CurrentMessage g_current = {};

}  // namespace

// ---- command targets ----

const AFX_MSGMAP* CCmdTarget::GetThisMessageMap() {
  static const AFX_MSGMAP_ENTRY entries[] = {{0, 0, 0, nullptr}};
  static const AFX_MSGMAP map = {nullptr, &entries[0]};
  return &map;
}

const AFX_MSGMAP* CCmdTarget::GetMessageMap() const { return GetThisMessageMap(); }

const AFX_MSGMAP_ENTRY* CCmdTarget::FindEntry(UINT message, UINT code, UINT id) const {
  for (const AFX_MSGMAP* map = GetMessageMap(); map; map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr) {
    for (const AFX_MSGMAP_ENTRY* e = map->lpEntries; e->pfn; ++e) {
      if (e->nMessage != message) continue;
      if (message == WM_COMMAND && (e->nCode != code || e->nID != id)) continue;
      return e;
    }
  }
  return nullptr;
}

BOOL CCmdTarget::OnCmdMsg(UINT nID, int nCode) {
  const AFX_MSGMAP_ENTRY* entry = FindEntry(WM_COMMAND, static_cast<UINT>(nCode), nID);
  if (!entry) return FALSE;
  entry->pfn(this, 0, 0);
  return TRUE;
}

// ---- windows ----

CWnd::~CWnd() {
  if (m_hWnd && FromHandlePermanent(m_hWnd) == this) {
    ::DestroyWindow(m_hWnd);
  }
  if (m_hWnd) Detach();
}

DWORD CWnd::GetStyle() const { return static_cast<DWORD>(::GetWindowLongW(m_hWnd, GWL_STYLE)); }

BOOL CWnd::DestroyWindow() {
  if (!m_hWnd) return FALSE;
  return ::DestroyWindow(m_hWnd);
}

CWnd* CWnd::FromHandlePermanent(HWND hWnd) {
  if (!hWnd) return nullptr;
  return static_cast<CWnd*>(::GetPropW(hWnd, kWndProperty));
}

BOOL CWnd::SubclassWindow(HWND hWnd) {
  if (!hWnd || m_hWnd || FromHandlePermanent(hWnd)) return FALSE;
  if (!::SetPropW(hWnd, kWndProperty, this)) return FALSE;
  m_hWnd = hWnd;
  m_pfnSuper =
      reinterpret_cast<WNDPROC>(::SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&AfxWndProc)));
  return TRUE;
}

void CWnd::Detach() {
  if (m_hWnd && FromHandlePermanent(m_hWnd) == this) ::RemovePropW(m_hWnd, kWndProperty);
  m_hWnd = nullptr;
  m_pfnSuper = nullptr;
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (m_pfnSuper) return ::CallWindowProcW(m_pfnSuper, m_hWnd, message, wParam, lParam);
  return ::DefWindowProcW(m_hWnd, message, wParam, lParam);
}

LRESULT CWnd::Default() { return DefWindowProc(g_current.message, g_current.wParam, g_current.lParam); }

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  if (!OnWndMsg(message, wParam, lParam, &result)) result = DefWindowProc(message, wParam, lParam);
  return result;
}

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
  if (message == WM_COMMAND) {
    if (!OnCommand(wParam, lParam)) return FALSE;
    *pResult = 1;
    return TRUE;
  }
  const AFX_MSGMAP_ENTRY* entry = FindEntry(message, 0, 0);
  if (!entry) return FALSE;
  *pResult = entry->pfn(this, wParam, lParam);
  return TRUE;
}

BOOL CWnd::OnCommand(WPARAM wParam, LPARAM) {
  const UINT id = LOWORD(wParam);
  const int code = HIWORD(wParam);
  if (OnCmdMsg(id, code)) return TRUE;
  // Commands the window does not handle go to the application (Help).
  CWinApp* app = AfxGetApp();
  return app && app->OnCmdMsg(id, code);
}

BOOL CWnd::PreTranslateMessage(MSG*) { return FALSE; }

void CWnd::DoDataExchange(CDataExchange*) {}

BOOL CWnd::UpdateData(BOOL bSaveAndValidate) {
  CDataExchange dx(this, bSaveAndValidate);
  DoDataExchange(&dx);
  return TRUE;
}

LRESULT CALLBACK AfxWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  CWnd* wnd = CWnd::FromHandlePermanent(hWnd);
  if (!wnd) return ::DefWindowProcW(hWnd, message, wParam, lParam);
  const CurrentMessage saved = g_current;
  g_current = {hWnd, message, wParam, lParam};
  LRESULT result;
  if (message == WM_NCDESTROY) {
    // The last message: default processing, then the object lets go of the
    // window, and the application forgets it as its main window.
    WNDPROC super = wnd->m_pfnSuper;
    ::SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(super));
    wnd->Detach();
    result = super ? ::CallWindowProcW(super, hWnd, message, wParam, lParam)
                   : ::DefWindowProcW(hWnd, message, wParam, lParam);
    CWinApp* app = AfxGetApp();
    if (app && app->m_pMainWnd == wnd) app->m_pMainWnd = nullptr;
    wnd->PostNcDestroy();
  } else {
    result = wnd->WindowProc(message, wParam, lParam);
  }
  g_current = saved;
  return result;
}

HWND CDataExchange::PrepareCtrl(int nIDC) const { return ::GetDlgItem(m_pDlgWnd->m_hWnd, nIDC); }

void AFXAPI DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl) {
  if (rControl.m_hWnd) return;  // bound already
  HWND control = pDX->PrepareCtrl(nIDC);
  if (control) rControl.SubclassWindow(control);
}

// ---- dialogs ----

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd)
    : m_nIDHelp(nIDTemplate), m_lpszTemplateName(MAKEINTRESOURCEW(nIDTemplate)), m_pParentWnd(pParentWnd) {}

CDialog::~CDialog() {
  if (m_hWnd) DestroyWindow();
}

BEGIN_MESSAGE_MAP(CDialog, CWnd)
  ON_COMMAND(IDOK, &CDialog::OnOK)
  ON_COMMAND(IDCANCEL, &CDialog::OnCancel)
END_MESSAGE_MAP()

BOOL CDialog::OnInitDialog() {
  UpdateData(FALSE);
  return TRUE;
}

void CDialog::OnOK() {
  if (!UpdateData(TRUE)) return;
  EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

HWND CDialog::PreModal() {
  HWND parent = m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr;
  return parent;
}

void CDialog::PostModal() {}

INT_PTR CALLBACK AfxDlgProc(HWND hWnd, UINT message, WPARAM, LPARAM lParam) {
  if (message != WM_INITDIALOG) return FALSE;
  auto* dialog = reinterpret_cast<CDialog*>(lParam);
  if (!dialog || !dialog->SubclassWindow(hWnd)) return TRUE;
  return dialog->OnInitDialog();
}

void CDialog::EndModalLoop(int nResult) {
  m_nModalResult = nResult;
  if (m_nFlags & kContinueModal) {
    m_nFlags &= ~kContinueModal;
    PostMessage(WM_NULL);  // wakes the loop
  }
}

void CDialog::EndDialog(int nResult) {
  if (m_nFlags & (kModalLoop | kContinueModal)) EndModalLoop(nResult);
  if (m_hWnd) ::EndDialog(m_hWnd, nResult);
}

BOOL CDialog::PreTranslateMessage(MSG* pMsg) {
  if (CWnd::PreTranslateMessage(pMsg)) return TRUE;
  // Keyboard and mouse input goes through the dialog manager: Tab moves the
  // focus, Enter becomes IDOK (or the default button) and Escape IDCANCEL.
  const bool input = (pMsg->message >= WM_KEYFIRST && pMsg->message <= WM_KEYLAST) ||
                     (pMsg->message >= WM_MOUSEFIRST && pMsg->message <= WM_MOUSELAST);
  if (!input || !m_hWnd) return FALSE;
  return ::IsDialogMessageW(m_hWnd, pMsg);
}

namespace {

// Offers a message to the objects of the windows from its target up to and
// including `top`.
BOOL WalkPreTranslateTree(HWND top, MSG* msg) {
  for (HWND hWnd = msg->hwnd; hWnd; hWnd = ::GetParent(hWnd)) {
    CWnd* wnd = CWnd::FromHandlePermanent(hWnd);
    if (wnd && wnd->PreTranslateMessage(msg)) return TRUE;
    if (hWnd == top) break;
  }
  return FALSE;
}

// Whether a message is one after which the loop may go idle again.
bool IsIdleMessage(const MSG& msg) {
  return msg.message != WM_MOUSEMOVE && msg.message != WM_NCMOUSEMOVE && msg.message != WM_PAINT &&
         msg.message != 0x0118 /* WM_SYSTIMER */ && msg.message != WM_NULL;
}

}  // namespace

int CDialog::RunModalLoop(DWORD dwFlags) {
  bool idle = true;
  LONG idleCount = 0;
  bool showOnIdle = (dwFlags & MLF_SHOWONIDLE) && !(GetStyle() & WS_VISIBLE);
  HWND parent = ::GetParent(m_hWnd);
  m_nFlags |= kModalLoop | kContinueModal;
  MSG msg = {};
  for (;;) {
    // Idle: the queue is empty.
    while (idle && !::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
      if (showOnIdle) {
        ::ShowWindow(m_hWnd, SW_SHOWNORMAL);
        ::UpdateWindow(m_hWnd);
        showOnIdle = false;
      }
      if (!(dwFlags & MLF_NOIDLEMSG) && parent && idleCount == 0) {
        ::SendMessageW(parent, WM_ENTERIDLE, MSGF_DIALOGBOX, reinterpret_cast<LPARAM>(m_hWnd));
      }
      if ((dwFlags & MLF_NOKICKIDLE) || !SendMessage(WM_KICKIDLE, MSGF_DIALOGBOX, idleCount++)) {
        idle = false;
      }
    }
    // Busy: pump what is there.
    do {
      if (!ContinueModal()) goto ExitModal;
      const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
      if (got == 0 || got == -1) {
        // WM_QUIT ends the run; it is posted again for the loop outside.
        if (got == 0) ::PostQuitMessage(static_cast<int>(msg.wParam));
        m_nFlags &= ~(kModalLoop | kContinueModal);
        return -1;
      }
      if (!WalkPreTranslateTree(m_hWnd, &msg)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
      }
      if (showOnIdle && (msg.message == 0x0118 || msg.message == WM_SYSKEYDOWN)) {
        ::ShowWindow(m_hWnd, SW_SHOWNORMAL);
        ::UpdateWindow(m_hWnd);
        showOnIdle = false;
      }
      if (!ContinueModal()) goto ExitModal;
      if (IsIdleMessage(msg)) {
        idle = true;
        idleCount = 0;
      }
    } while (::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE));
  }
ExitModal:
  m_nFlags &= ~(kModalLoop | kContinueModal);
  return m_nModalResult;
}

INT_PTR CDialog::DoModal() { return DoModalWithFlags(nullptr); }

INT_PTR CDialog::DoModalWithFlags(DWORD (*flagsFor)(DWORD style)) {
  HINSTANCE resources = AfxGetResourceHandle();
  HRSRC found = ::FindResourceW(resources, m_lpszTemplateName, MAKEINTRESOURCEW(5) /* RT_DIALOG */);
  HGLOBAL loaded = found ? ::LoadResource(resources, found) : nullptr;
  auto* dialogTemplate = loaded ? static_cast<LPCDLGTEMPLATEW>(::LockResource(loaded)) : nullptr;
  if (!dialogTemplate) return -1;

  HWND parent = PreModal();
  bool enableParent = false;
  if (parent && parent != m_hWnd && ::IsWindowEnabled(parent)) {
    ::EnableWindow(parent, FALSE);
    enableParent = true;
  }

  m_nModalResult = -1;
  m_nFlags |= kContinueModal;
  ::CreateDialogIndirectParamW(resources, dialogTemplate, parent, &AfxDlgProc, reinterpret_cast<LPARAM>(this));
  if (!m_hWnd) m_nFlags &= ~kContinueModal;  // no window: nothing to run
  if (m_nFlags & kContinueModal) {
    DWORD flags;
    if (flagsFor) {
      flags = flagsFor(GetStyle());
    } else {
      flags = MLF_SHOWONIDLE;
      if (GetStyle() & DS_NOIDLEMSG) flags |= MLF_NOIDLEMSG;
    }
    RunModalLoop(flags);
  }
  if (m_hWnd) {
    ::SetWindowPos(m_hWnd, nullptr, 0, 0, 0, 0,
                   SWP_HIDEWINDOW | SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE | SWP_NOZORDER);
  }
  if (enableParent) ::EnableWindow(parent, TRUE);
  if (parent && ::GetActiveWindow() == m_hWnd) ::SetActiveWindow(parent);
  DestroyWindow();
  PostModal();
  return m_nModalResult;
}

// ---- the application ----

CWinApp::CWinApp(LPCWSTR lpszAppName) : m_pszAppName(lpszAppName) { g_app = this; }

CWinApp::~CWinApp() {
  delete[] m_pszOwnedRegistryKey;
  if (g_app == this) g_app = nullptr;
}

BEGIN_MESSAGE_MAP(CWinApp, CCmdTarget)
END_MESSAGE_MAP()

CWinApp* AFXAPI AfxGetApp() { return g_app; }

HINSTANCE AFXAPI AfxGetResourceHandle() {
  return g_app && g_app->m_hInstance ? g_app->m_hInstance : ::GetModuleHandleW(nullptr);
}

BOOL CWinApp::InitInstance() {
  if (m_dwRestartManagerSupportFlags & AFX_RESTART_MANAGER_SUPPORT_RESTART) RegisterWithRestartManager();
  return TRUE;
}

void CWinApp::RegisterWithRestartManager() {
  // Newer than Windows XP: looked up at run time.
  using RegisterApplicationRestartFn = HRESULT(WINAPI*)(PCWSTR, DWORD);
  HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  auto registerRestart = kernel ? reinterpret_cast<RegisterApplicationRestartFn>(
                                      reinterpret_cast<void*>(::GetProcAddress(kernel, "RegisterApplicationRestart")))
                                : nullptr;
  if (!registerRestart) return;
  // The arguments of this launch (after the program), then an argument that
  // tells a restarted process it was restarted.
  const wchar_t* line = ::GetCommandLineW();
  if (!line) line = L"";
  bool quoted = false;
  for (; *line && (quoted || (*line != L' ' && *line != L'\t')); ++line) {
    if (*line == L'"') quoted = !quoted;
  }
  while (*line == L' ' || *line == L'\t') ++line;
  wchar_t identifier[40];
  ::wsprintfW(identifier, L"/RestartByRestartManager:%08lX%08lX", ::GetCurrentProcessId(), ::GetTickCount());
  // RESTART_MAX_CMD_LINE is 1024 with the NUL: a longer line is not cut,
  // the process is then not registered.
  wchar_t command[1024];
  const size_t lineLength = std::wcslen(line);
  const size_t idLength = std::wcslen(identifier);
  if (lineLength + 1 + idLength + 1 > sizeof command / sizeof command[0]) return;
  std::memcpy(command, line, lineLength * sizeof(wchar_t));
  size_t at = lineLength;
  if (at) command[at++] = L' ';
  std::memcpy(command + at, identifier, (idLength + 1) * sizeof(wchar_t));
  m_bRegisteredForRestart = SUCCEEDED(registerRestart(command, 0));
}

int CWinApp::Run() {
  MSG msg;
  BOOL got;
  while ((got = ::GetMessageW(&msg, nullptr, 0, 0)) != 0 && got != -1) {
    if (!m_pMainWnd || !WalkPreTranslateTree(m_pMainWnd->m_hWnd, &msg)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
  }
  return ExitInstance();
}

int CWinApp::ExitInstance() { return 0; }

void CWinApp::SetRegistryKey(LPCWSTR lpszRegistryKey) {
  // Names HKEY_CURRENT_USER\Software\<key>\<application>; nothing is read or
  // written here.
  if (!lpszRegistryKey) return;
  const size_t length = std::wcslen(lpszRegistryKey);
  auto* copy = new wchar_t[length + 1];
  std::memcpy(copy, lpszRegistryKey, (length + 1) * sizeof(wchar_t));
  delete[] m_pszOwnedRegistryKey;
  m_pszOwnedRegistryKey = copy;
  m_pszRegistryKey = copy;
  m_pszProfileName = m_pszAppName;
}

void CWinApp::OnHelp() {
  // The program ships no help file: Help has nothing to open.
}

int AFXAPI AfxMessageBox(LPCWSTR lpszText, UINT nType, UINT nIDHelp) {
  CWinApp* app = AfxGetApp();
  HWND owner = app && app->m_pMainWnd ? app->m_pMainWnd->m_hWnd : nullptr;
  const wchar_t* caption = app && app->m_pszAppName ? app->m_pszAppName : L"";
  // The help context is given to the box so F1 could name it.
  MSGBOXPARAMSW params = {};
  params.cbSize = sizeof params;
  params.hwndOwner = owner;
  params.hInstance = AfxGetResourceHandle();
  params.lpszText = lpszText;
  params.lpszCaption = caption;
  params.dwStyle = nType;
  params.dwContextHelpId = nIDHelp;
  params.dwLanguageId = MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL);
  return ::MessageBoxIndirectW(&params);
}

void AFXAPI AfxEnableControlContainer() { g_controlContainerEnabled = true; }
BOOL AFXAPI AfxControlContainerEnabled() { return g_controlContainerEnabled; }

CShellManager::CShellManager() { ++g_shellManagers; }
CShellManager::~CShellManager() { --g_shellManagers; }
int CShellManager::LiveCount() { return g_shellManagers; }
