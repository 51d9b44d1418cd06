// A small application and dialog framework on plain Win32, with the names and
// the behaviour of the Microsoft Foundation Classes for the pieces Tavlo uses:
// the application object and its start-up, a dialog from a template run
// modally, message maps, dialog data exchange for controls, and the message
// box. Everything runs on the thread that calls wWinMain.
#pragma once

#include <windows.h>

#include <type_traits>

#ifndef AFXAPI
#define AFXAPI __stdcall
#endif

class CWnd;
class CCmdTarget;
class CDataExchange;

// ---- message maps ----

// A handler thunk: calls one member function of the class that declared the
// entry and gives its result as an LRESULT.
using AFX_PMSG_THUNK = LRESULT (*)(CCmdTarget* target, WPARAM wParam, LPARAM lParam);

struct AFX_MSGMAP_ENTRY {
  UINT nMessage;       // window message; WM_COMMAND for command entries
  UINT nCode;          // notification code of a command entry
  UINT nID;            // control or command id of a command entry
  AFX_PMSG_THUNK pfn;  // null ends the table
};

struct AFX_MSGMAP {
  const AFX_MSGMAP* (*pfnGetBaseMap)();
  const AFX_MSGMAP_ENTRY* lpEntries;
};

// Thunks for the handler forms in use, one per form; each calls the member
// function of the class that declared it.
template <class M>
struct AfxMemberClass;
template <class C, class R, class... A>
struct AfxMemberClass<R (C::*)(A...)> {
  using type = C;
};
template <auto F>
LRESULT AfxThunkVoid(CCmdTarget* target, WPARAM, LPARAM) {
  using C = typename AfxMemberClass<decltype(F)>::type;
  static_assert(std::is_same<decltype(F), void (C::*)()>::value, "handler form: void ()");
  (static_cast<C*>(target)->*F)();
  return 0;
}
template <auto F>
LRESULT AfxThunkCursor(CCmdTarget* target, WPARAM, LPARAM) {
  using C = typename AfxMemberClass<decltype(F)>::type;
  static_assert(std::is_same<decltype(F), HCURSOR (C::*)()>::value, "handler form: HCURSOR ()");
  return reinterpret_cast<LRESULT>((static_cast<C*>(target)->*F)());
}
template <auto F>
LRESULT AfxThunkMessage(CCmdTarget* target, WPARAM wParam, LPARAM lParam) {
  using C = typename AfxMemberClass<decltype(F)>::type;
  static_assert(std::is_same<decltype(F), LRESULT (C::*)(WPARAM, LPARAM)>::value,
                "handler form: LRESULT (WPARAM, LPARAM)");
  return (static_cast<C*>(target)->*F)(wParam, lParam);
}

#define DECLARE_MESSAGE_MAP()                   \
 protected:                                     \
  static const AFX_MSGMAP* GetThisMessageMap(); \
  const AFX_MSGMAP* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                      \
  const AFX_MSGMAP* theClass::GetMessageMap() const { return GetThisMessageMap(); } \
  const AFX_MSGMAP* theClass::GetThisMessageMap() {                                 \
    typedef theClass ThisClass;                                                     \
    typedef baseClass TheBaseClass;                                                 \
    static const AFX_MSGMAP_ENTRY _messageEntries[] = {
// The closing half of a map is not a statement clang-format can read.
// clang-format off
#define END_MESSAGE_MAP()                                                     \
      {0, 0, 0, nullptr}};                                                    \
    static_assert(std::is_base_of<TheBaseClass, ThisClass>::value, "map base"); \
    static const AFX_MSGMAP messageMap = {&TheBaseClass::GetThisMessageMap, \
                                          &_messageEntries[0]};              \
    return &messageMap;                                                       \
  }
// clang-format on

// The standard forms name the handler after the message; ON_MESSAGE,
// ON_COMMAND and ON_CONTROL take the member function (&CClass::OnX).
#define ON_WM_PAINT() {WM_PAINT, 0, 0, &AfxThunkVoid<&ThisClass::OnPaint>},
#define ON_WM_CLOSE() {WM_CLOSE, 0, 0, &AfxThunkVoid<&ThisClass::OnClose>},
#define ON_WM_DESTROY() {WM_DESTROY, 0, 0, &AfxThunkVoid<&ThisClass::OnDestroy>},
#define ON_WM_QUERYDRAGICON() {WM_QUERYDRAGICON, 0, 0, &AfxThunkCursor<&ThisClass::OnQueryDragIcon>},
#define ON_MESSAGE(message, memberFxn) {(message), 0, 0, &AfxThunkMessage<memberFxn>},
#define ON_COMMAND(id, memberFxn) {WM_COMMAND, 0, (id), &AfxThunkVoid<memberFxn>},
#define ON_CONTROL(code, id, memberFxn) {WM_COMMAND, (code), (id), &AfxThunkVoid<memberFxn>},
#define ON_BN_CLICKED(id, memberFxn) ON_CONTROL(BN_CLICKED, id, memberFxn)

// ---- command targets and windows ----

class CCmdTarget {
 public:
  CCmdTarget() = default;
  CCmdTarget(const CCmdTarget&) = delete;
  CCmdTarget& operator=(const CCmdTarget&) = delete;
  virtual ~CCmdTarget() = default;

  // Runs the command handler of the maps for (code, id); FALSE if none.
  virtual BOOL OnCmdMsg(UINT nID, int nCode);

 protected:
  static const AFX_MSGMAP* GetThisMessageMap();
  virtual const AFX_MSGMAP* GetMessageMap() const;
  // The entry for a message (and for WM_COMMAND, its code and id), searched
  // from this class's map up through its bases.
  const AFX_MSGMAP_ENTRY* FindEntry(UINT message, UINT code, UINT id) const;
};

class CWnd : public CCmdTarget {
 public:
  CWnd() = default;
  ~CWnd() override;

  HWND m_hWnd = nullptr;
  HWND GetSafeHwnd() const { return m_hWnd; }
  DWORD GetStyle() const;
  BOOL IsIconic() const { return ::IsIconic(m_hWnd); }
  void GetClientRect(LPRECT rect) const { ::GetClientRect(m_hWnd, rect); }
  LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    return ::SendMessageW(m_hWnd, message, wParam, lParam);
  }
  BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    return ::PostMessageW(m_hWnd, message, wParam, lParam);
  }
  void SetIcon(HICON icon, BOOL bigIcon) {
    SendMessage(WM_SETICON, bigIcon ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(icon));
  }
  virtual BOOL DestroyWindow();

  // Routes the window's messages through this object: the window procedure
  // becomes the framework's, the old one stays for default processing.
  BOOL SubclassWindow(HWND hWnd);
  // The object that owns a subclassed window, or null.
  static CWnd* FromHandlePermanent(HWND hWnd);

  // Dialog data exchange: reads (bSaveAndValidate) or sets the controls.
  BOOL UpdateData(BOOL bSaveAndValidate = TRUE);

  virtual BOOL PreTranslateMessage(MSG* pMsg);

 protected:
  virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  virtual BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);
  virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);
  virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  virtual void DoDataExchange(CDataExchange* pDX);
  virtual void PostNcDestroy() {}
  // Default processing of the message being handled.
  LRESULT Default();

  // The framework's standard handlers: default processing.
  void OnPaint() { Default(); }
  void OnClose() { Default(); }
  void OnDestroy() { Default(); }
  HCURSOR OnQueryDragIcon() { return reinterpret_cast<HCURSOR>(Default()); }

  WNDPROC m_pfnSuper = nullptr;

 private:
  friend LRESULT CALLBACK AfxWndProc(HWND, UINT, WPARAM, LPARAM);
  void Detach();
};

LRESULT CALLBACK AfxWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

class CButton : public CWnd {};

class CDataExchange {
 public:
  CDataExchange(CWnd* pDlgWnd, BOOL bSaveAndValidate) : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd) {}
  BOOL m_bSaveAndValidate;
  CWnd* m_pDlgWnd;
  HWND PrepareCtrl(int nIDC) const;
};

// Binds a control of the dialog to a window object (once).
void AFXAPI DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl);

// ---- dialogs ----

// RunModalLoop flags.
constexpr DWORD MLF_NOIDLEMSG = 0x0001;
constexpr DWORD MLF_NOKICKIDLE = 0x0002;
constexpr DWORD MLF_SHOWONIDLE = 0x0004;
// Sent to the dialog while its queue is idle; MFC's private value.
constexpr UINT WM_KICKIDLE = 0x036A;

class CDialog : public CWnd {
 public:
  explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
  ~CDialog() override;

  virtual INT_PTR DoModal();
  void EndDialog(int nResult);
  // The modal loop: pumps messages until EndDialog, showing the window when
  // the queue first runs idle with MLF_SHOWONIDLE and sending WM_ENTERIDLE to
  // the parent unless MLF_NOIDLEMSG.
  int RunModalLoop(DWORD dwFlags = 0);
  virtual BOOL ContinueModal() { return (m_nFlags & kContinueModal) != 0; }
  virtual void EndModalLoop(int nResult);

  BOOL PreTranslateMessage(MSG* pMsg) override;

 protected:
  virtual BOOL OnInitDialog();
  virtual void OnOK();
  virtual void OnCancel();
  virtual HWND PreModal();
  virtual void PostModal();

  // The framework's modal run; flagsFor decides the loop flags from the
  // created window's style (null: MLF_SHOWONIDLE, and MLF_NOIDLEMSG for
  // DS_NOIDLEMSG).
  INT_PTR DoModalWithFlags(DWORD (*flagsFor)(DWORD style));

  UINT m_nIDHelp = 0;
  LPCWSTR m_lpszTemplateName;
  CWnd* m_pParentWnd;
  int m_nModalResult = -1;

  static const AFX_MSGMAP* GetThisMessageMap();
  const AFX_MSGMAP* GetMessageMap() const override;

 private:
  static constexpr UINT kModalLoop = 0x0001;
  static constexpr UINT kContinueModal = 0x0002;
  UINT m_nFlags = 0;
  friend INT_PTR CALLBACK AfxDlgProc(HWND, UINT, WPARAM, LPARAM);
};

INT_PTR CALLBACK AfxDlgProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

class CDialogEx : public CDialog {
 public:
  explicit CDialogEx(UINT nIDTemplate, CWnd* pParentWnd = nullptr) : CDialog(nIDTemplate, pParentWnd) {}
};

// ---- the application ----

// m_dwRestartManagerSupportFlags bits.
constexpr DWORD AFX_RESTART_MANAGER_SUPPORT_RESTART = 0x01;

class CWinApp : public CCmdTarget {
 public:
  // The one application object; registers itself as such.
  explicit CWinApp(LPCWSTR lpszAppName = nullptr);
  ~CWinApp() override;

  virtual BOOL InitInstance();
  // The framework's own message loop, run only when InitInstance succeeds.
  virtual int Run();
  virtual int ExitInstance();

  void SetRegistryKey(LPCWSTR lpszRegistryKey);
  void OnHelp();

  HINSTANCE m_hInstance = nullptr;
  LPWSTR m_lpCmdLine = nullptr;
  int m_nCmdShow = SW_SHOWNORMAL;
  LPCWSTR m_pszAppName = nullptr;
  LPCWSTR m_pszExeName = nullptr;
  LPCWSTR m_pszRegistryKey = nullptr;
  LPCWSTR m_pszProfileName = nullptr;
  CWnd* m_pMainWnd = nullptr;
  DWORD m_dwRestartManagerSupportFlags = 0;
  // Whether RegisterApplicationRestart accepted the process.
  BOOL m_bRegisteredForRestart = FALSE;

 protected:
  static const AFX_MSGMAP* GetThisMessageMap();
  const AFX_MSGMAP* GetMessageMap() const override;

 private:
  void RegisterWithRestartManager();
  wchar_t* m_pszOwnedRegistryKey = nullptr;
};

CWinApp* AFXAPI AfxGetApp();
HINSTANCE AFXAPI AfxGetResourceHandle();
// MessageBoxW owned by the main window, with the application's name as the
// caption; nIDHelp is the help context of the prompt.
int AFXAPI AfxMessageBox(LPCWSTR lpszText, UINT nType = MB_OK, UINT nIDHelp = 0);
// Lets dialogs host ActiveX controls; this framework hosts none, so this only
// records the request.
void AFXAPI AfxEnableControlContainer();
BOOL AFXAPI AfxControlContainerEnabled();

// The shell manager: shell item helpers for dialogs. Nothing in Tavlo asks
// it for anything; its lifetime is the application's to decide.
class CShellManager {
 public:
  CShellManager();
  ~CShellManager();
  CShellManager(const CShellManager&) = delete;
  CShellManager& operator=(const CShellManager&) = delete;
  static int LiveCount();
};

// The command id of Help.
constexpr UINT ID_HELP = 0xE146;
