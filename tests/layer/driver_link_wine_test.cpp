// The driver link and the typing on real Win32 (run under Wine): Unicode
// input into a real edit control, the Shift/Caps Lock choice read from the
// real keyboard state, and the missing driver with its real message box.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "layer/driver_link.h"
#include "platform/control_device.h"

using namespace tavlo;

namespace {

// Runs the message loop of this thread until the edit control holds
// `length` characters or two seconds have passed.
std::u16string PumpUntilLength(HWND edit, size_t length) {
  const DWORD start = GetTickCount();
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    wchar_t text[256] = {};
    const int n = GetWindowTextW(edit, text, 256);
    if (static_cast<size_t>(n) >= length || GetTickCount() - start > 2000)
      return std::u16string(reinterpret_cast<const char16_t*>(text), static_cast<size_t>(n));
    Sleep(5);
  }
}

class EditWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    edit_ = CreateWindowExW(0, L"EDIT", L"", WS_OVERLAPPEDWINDOW | WS_VISIBLE | ES_AUTOHSCROLL, 10, 10, 400, 80,
                            nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(edit_, nullptr);
    SetForegroundWindow(edit_);
    SetFocus(edit_);
    PumpUntilLength(edit_, 0);
    ASSERT_EQ(GetFocus(), edit_);
  }
  void TearDown() override {
    if (edit_) DestroyWindow(edit_);
  }
  void Clear() {
    SetWindowTextW(edit_, L"");
    PumpUntilLength(edit_, 0);
  }
  // Sets this thread's view of Shift and Caps Lock, which GetKeyState reads.
  static void SetShiftAndCaps(bool shift, bool caps) {
    BYTE state[256] = {};
    ASSERT_TRUE(GetKeyboardState(state));
    state[VK_SHIFT] = shift ? 0x80 : 0;
    state[VK_LSHIFT] = shift ? 0x80 : 0;
    state[VK_CAPITAL] = caps ? 0x01 : 0;
    ASSERT_TRUE(SetKeyboardState(state));
  }
  HWND edit_ = nullptr;
};

}  // namespace

// Each code unit goes as its key-down and key-up: VK_PACKET is up again
// afterwards, in this thread's key state and in the system's. (Wine 8 does
// not mark a key-down of a VK_PACKET already down as an auto-repeat, as
// Windows does with bit 30 of WM_KEYDOWN's lParam; the key state is what it
// keeps.)
TEST_F(EditWindow, InjectTextTypesEachCodeUnitIntoTheFocusedEdit) {
  const char16_t text[] = u"\u0253\u0257\u0199\u01B4\u20A6";  // ɓɗƙƴ₦
  EXPECT_EQ(InjectText(text), 10) << "a key-down and a key-up per code unit";
  EXPECT_EQ(PumpUntilLength(edit_, 5), text);
  EXPECT_EQ(InjectText(u""), 0);
  EXPECT_EQ(InjectText(u"\u014B"), 2);
  EXPECT_EQ(PumpUntilLength(edit_, 6), std::u16string(text) + u"\u014B") << "an empty text types nothing";
  EXPECT_EQ(GetKeyState(VK_PACKET) & 0x8000, 0) << "VK_PACKET is left down for this thread";
  EXPECT_EQ(GetAsyncKeyState(VK_PACKET) & 0x8000, 0) << "VK_PACKET is left down";
}

TEST_F(EditWindow, ShiftAndCapsLockChoiceFromTheRealKeyboardState) {
  struct Case {
    bool shift;
    bool caps;
    const char16_t* expected;  // slot 0 (A), then slot 26 (digit 1)
  };
  const Case cases[] = {
      {false, false, u"\u028C\u00AC"},
      {true, false, u"\u0245\u0300"},
      {false, true, u"\u0245\u00AC"},
      {true, true, u"\u028C\u0300"},
  };
  for (const Case& c : cases) {
    Clear();
    SetShiftAndCaps(c.shift, c.caps);
    EXPECT_EQ(TypeLayerKey(0), 2);
    PumpUntilLength(edit_, 1);
    SetShiftAndCaps(c.shift, c.caps);
    EXPECT_EQ(TypeLayerKey(26), 2);
    EXPECT_EQ(PumpUntilLength(edit_, 2), c.expected) << "shift " << c.shift << " caps " << c.caps;
  }
  SetShiftAndCaps(false, false);
}

TEST(DriverLinkWin32, ControlDeviceIsAbsentUnderWine) {
  SetLastError(0);
  EXPECT_EQ(platform::OpenControlDevice(kKeyFilterDevicePath), platform::InvalidHandle());
  EXPECT_EQ(platform::LastError(), platform::kErrorFileNotFound);
}

namespace {

struct FoundBox {
  HWND box = nullptr;
};

BOOL CALLBACK FindDialog(HWND hwnd, LPARAM raw) {
  wchar_t cls[32] = {};
  GetClassNameW(hwnd, cls, 32);
  if (std::wstring(cls) == L"#32770") {
    reinterpret_cast<FoundBox*>(raw)->box = hwnd;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

// The box blocks its thread until closed: OpenKeyFilter runs on a thread of
// its own while this one inspects the real box and presses its OK button.
TEST(DriverLinkWin32, MissingDriverShowsTheBoxReturnsTenAndStartsNothing) {
  CreateKeyEvents();
  std::atomic<DWORD> threadId{0};
  std::atomic<int> result{-1};
  std::thread opener([&] {
    threadId = GetCurrentThreadId();
    result = OpenKeyFilter(nullptr);
  });
  while (threadId.load() == 0) Sleep(1);

  FoundBox found;
  const DWORD start = GetTickCount();
  while (!found.box && GetTickCount() - start < 10000) {
    EnumThreadWindows(threadId.load(), FindDialog, reinterpret_cast<LPARAM>(&found));
    if (!found.box) Sleep(10);
  }
  ASSERT_NE(found.box, nullptr) << "no message box appeared";
  // The box is found as soon as it exists; its text is set while it
  // initialises, and it is shown after that.
  while (!IsWindowVisible(found.box) && GetTickCount() - start < 10000) Sleep(10);
  Sleep(100);
  EXPECT_EQ(result.load(), -1) << "OpenKeyFilter returned while its box was still shown";

  wchar_t text[256] = {};
  GetDlgItemTextW(found.box, 0xFFFF, text, 256);
  EXPECT_EQ(std::wstring(text), L"Detected that the driver is not fully installed!");
  wchar_t caption[64] = {};
  GetWindowTextW(found.box, caption, 64);
  EXPECT_EQ(std::wstring(caption), L"Tavlo");
  // The style value itself (MB_OK | MB_TOPMOST) is checked on the simulated
  // machine: Wine's box under Xvfb does not carry WS_EX_TOPMOST.
  EXPECT_NE(GetDlgItem(found.box, IDOK), nullptr) << "an OK button";
  EXPECT_EQ(GetDlgItem(found.box, IDCANCEL), nullptr) << "and no other";

  PostMessageW(found.box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  opener.join();
  EXPECT_EQ(result.load(), kKeyFilterMissing);
  EXPECT_EQ(DriverHandle, INVALID_HANDLE_VALUE);
  EXPECT_EQ(DispatcherThread(), nullptr);

  // The rest of the run leaves the missing driver alone.
  SendLayerMode(1);
  EXPECT_EQ(LayerMode.load(), 1);
  CloseKeyFilter();
  EXPECT_EQ(DriverHandle, INVALID_HANDLE_VALUE);
  CloseKeyEvents();
  EXPECT_EQ(KeyEvents[0], nullptr);
  DriverHandle = nullptr;
}
