// The framework's dialog: the modal loop's flags (shown on idle or never),
// Enter and Escape through the dialog manager, command and message maps,
// control binding and the end of the run.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/afxwin.h"

namespace {

constexpr UINT kProbeTemplate = 200;
constexpr UINT kProbeButton = 1001;
constexpr UINT kStep = WM_APP + 1;

class CProbeApp : public CWinApp {};
CProbeApp probeApp;

// A dialog that runs a script of posted messages once the run is under way
// (a timer fires only after the queue has been idle).
class CProbeDlg : public CDialogEx {
 public:
  CProbeDlg(UINT templateId, bool hiddenFlags) : CDialogEx(templateId), hiddenFlags_(hiddenFlags) {}

  INT_PTR DoModal() override {
    if (hiddenFlags_) return DoModalWithFlags([](DWORD) -> DWORD { return 0; });
    return CDialogEx::DoModal();
  }

  std::vector<MSG> script;  // posted to the dialog when the timer fires
  bool endInInit = false;
  bool visibleAtTimer = false;
  bool sawInit = false;
  int buttonClicks = 0;
  int destroys = 0;
  HWND boundButton = nullptr;
  HWND dialogItem = nullptr;
  CButton m_btnProbe;

 protected:
  void DoDataExchange(CDataExchange* pDX) override {
    CDialogEx::DoDataExchange(pDX);
    DDX_Control(pDX, kProbeButton, m_btnProbe);
  }
  BOOL OnInitDialog() override {
    CDialogEx::OnInitDialog();
    sawInit = true;
    boundButton = m_btnProbe.m_hWnd;
    dialogItem = ::GetDlgItem(m_hWnd, kProbeButton);
    if (endInInit) {
      EndDialog(77);
      return TRUE;
    }
    ::SetTimer(m_hWnd, 1, 50, nullptr);
    return TRUE;
  }
  LRESULT OnTimerMessage(WPARAM, LPARAM) {
    ::KillTimer(m_hWnd, 1);
    visibleAtTimer = ::IsWindowVisible(m_hWnd) != FALSE;
    for (const MSG& m : script) PostMessage(m.message, m.wParam, m.lParam);
    return 0;
  }
  void OnProbeButton() { ++buttonClicks; }
  void OnDestroy() {
    ++destroys;
    CDialogEx::OnDestroy();
  }
  DECLARE_MESSAGE_MAP()

 private:
  bool hiddenFlags_;
};

BEGIN_MESSAGE_MAP(CProbeDlg, CDialogEx)
  ON_MESSAGE(WM_TIMER, &CProbeDlg::OnTimerMessage)
  ON_BN_CLICKED(kProbeButton, &CProbeDlg::OnProbeButton)
  ON_WM_DESTROY()
END_MESSAGE_MAP()

MSG Key(WPARAM key) { return MSG{nullptr, WM_KEYDOWN, key, 1, 0, {0, 0}}; }
MSG Command(WPARAM wParam) { return MSG{nullptr, WM_COMMAND, wParam, 0, 0, {0, 0}}; }

class FrameworkDialog : public ::testing::Test {
 protected:
  void SetUp() override { probeApp.m_hInstance = ::GetModuleHandleW(nullptr); }
};

TEST_F(FrameworkDialog, StandardRunShowsTheDialogWhenIdleAndEscapeCancels) {
  CProbeDlg dlg(kProbeTemplate, false);
  probeApp.m_pMainWnd = &dlg;
  dlg.script = {Key(VK_ESCAPE)};
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  EXPECT_TRUE(dlg.visibleAtTimer);
  EXPECT_EQ(dlg.destroys, 1);
  EXPECT_EQ(dlg.m_hWnd, nullptr);
  EXPECT_EQ(dlg.m_btnProbe.m_hWnd, nullptr);
  EXPECT_EQ(probeApp.m_pMainWnd, nullptr);  // the window's end clears it
}

TEST_F(FrameworkDialog, HiddenRunNeverShowsAndEnterGivesOk) {
  CProbeDlg dlg(kProbeTemplate, true);
  dlg.script = {Key(VK_RETURN)};
  EXPECT_EQ(dlg.DoModal(), IDOK);
  EXPECT_TRUE(dlg.sawInit);
  EXPECT_FALSE(dlg.visibleAtTimer);
}

TEST_F(FrameworkDialog, CommandsReachTheMapsAndCloseEndsTheRun) {
  CProbeDlg dlg(kProbeTemplate, true);
  dlg.script = {Command(MAKEWPARAM(kProbeButton, BN_CLICKED)), Command(MAKEWPARAM(kProbeButton, BN_CLICKED)),
                MSG{nullptr, WM_CLOSE, 0, 0, 0, {0, 0}}};
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);  // the dialog's WM_CLOSE is IDCANCEL
  EXPECT_EQ(dlg.buttonClicks, 2);
  EXPECT_NE(dlg.boundButton, nullptr);
  EXPECT_EQ(dlg.boundButton, dlg.dialogItem);
}

TEST_F(FrameworkDialog, EndDialogDuringInitSkipsTheLoop) {
  CProbeDlg dlg(kProbeTemplate, false);
  dlg.endInInit = true;
  EXPECT_EQ(dlg.DoModal(), 77);
  EXPECT_EQ(dlg.destroys, 1);
}

TEST_F(FrameworkDialog, MissingTemplateGivesMinusOne) {
  CProbeDlg dlg(999, true);
  EXPECT_EQ(dlg.DoModal(), -1);
  EXPECT_FALSE(dlg.sawInit);
}

TEST(FrameworkApp, RestartRegistrationNeedsTheFlagAndControlContainerIsRecorded) {
  CWinApp* app = AfxGetApp();
  ASSERT_EQ(app, &probeApp);
  app->m_dwRestartManagerSupportFlags = 0;
  app->m_bRegisteredForRestart = FALSE;
  app->InitInstance();
  EXPECT_FALSE(app->m_bRegisteredForRestart);
  app->m_dwRestartManagerSupportFlags = AFX_RESTART_MANAGER_SUPPORT_RESTART;
  app->InitInstance();
  // Registered where the system has RegisterApplicationRestart.
  const bool available = ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "RegisterApplicationRestart") != nullptr;
  EXPECT_EQ(app->m_bRegisteredForRestart != FALSE, available);
  AfxEnableControlContainer();
  EXPECT_TRUE(AfxControlContainerEnabled());
  app->SetRegistryKey(L"Tavlo");
  EXPECT_EQ(std::wstring(app->m_pszRegistryKey), L"Tavlo");
}

}  // namespace
