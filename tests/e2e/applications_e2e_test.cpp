// Tavlo.exe typing into real applications that nobody here wrote: Wine's own
// notepad (an Edit control) and wordpad (a RichEdit control). Tavlo runs
// against the test filter driver as in the other end-to-end tests; each
// application is started, brought to the foreground, and the layer keys are
// pressed at the driver one after another. The application's text is read
// back from this process with WM_GETTEXT on its edit control and must be
// exactly the layer text, combining mark included. Afterwards VK_PACKET, the
// key Unicode input comes as, must be up in the system's key state: a key
// left down makes every later character an auto-repeat of it for the
// toolkits that track key state.
//
// Wine's console is left out on purpose: under Xvfb, Wine's console host takes
// no typed character from SendInput at all, not even a plain 'A' typed as a
// virtual key (only Enter arrives). A test of it would measure Wine, not
// Tavlo.
//
// Every application runs in a job that ends it with the test, and is closed
// with its text marked unmodified, so that it asks nothing on the way out.
#include <windows.h>

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "layer/key_map.h"
#include "tests/e2e/e2e_support.h"
#include "tests/e2e/tavlo_fixture.h"
#include "tests/support/win32_probe.h"

namespace {

using e2e::TavloExe;
using testdriver::Break;
using testdriver::Make;

constexpr uint8_t kLayerKey = 0x76;

struct Application {
  const char* name;
  const wchar_t* exe;
  const wchar_t* edit_class;  // the edit control's class, or the start of it
  bool class_prefix;
};

// Test names and messages show the application by its name.
void PrintTo(const Application& app, std::ostream* out) { *out << app.name; }

const Application kApplications[] = {
    {"notepad", L"C:\\windows\\system32\\notepad.exe", L"Edit", false},
    {"wordpad", L"C:\\Program Files\\Windows NT\\Accessories\\wordpad.exe", L"RichEdit", true},
};

// The keys pressed, in order, and the text they type with the layer on and
// neither Shift nor Caps Lock: B D K N 5 W 6, the last one a combining dot
// below that sits on the ɛ before it.
const int kSlots[] = {1, 3, 10, 13, 30, 22, 31};
const char16_t kLayerText[] = u"\u0253\u0257\u0199\u014B\u20A6\u025B\u0323";  // ɓɗƙŋ₦ɛ̣

bool IsEditOf(HWND window, const Application& app) {
  wchar_t cls[64] = {};
  ::GetClassNameW(window, cls, 64);
  const std::wstring name(cls);
  const std::wstring want(app.edit_class);
  if (app.class_prefix) return ::_wcsnicmp(name.c_str(), want.c_str(), want.size()) == 0;
  return ::_wcsicmp(name.c_str(), want.c_str()) == 0;
}

// The application's text, through the system's marshalling of WM_GETTEXT.
std::u16string TextOf(HWND edit) {
  DWORD_PTR length = 0;
  if (!::SendMessageTimeoutW(edit, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length)) return u"<no answer>";
  std::vector<wchar_t> buffer(length + 1);
  DWORD_PTR copied = 0;
  if (!::SendMessageTimeoutW(edit, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()), SMTO_ABORTIFHUNG,
                             5000, &copied))
    return u"<no answer>";
  return std::u16string(reinterpret_cast<const char16_t*>(buffer.data()),
                        static_cast<size_t>(copied < length ? copied : length));
}

class TypingIntoApplications : public e2e::TavloOnTestDriver, public ::testing::WithParamInterface<Application> {
 protected:
  void TearDown() override {
    if (layer_on_) device_.Inject({Break(kLayerKey)});
    CloseApplication();
    TavloOnTestDriver::TearDown();
  }

  // Starts the application and finds its top-level window and edit control.
  void StartApplication(const Application& app) {
    std::string error;
    ASSERT_TRUE(app_.Launch(app.exe, L"", &error)) << error;
    ::WaitForInputIdle(app_.process(), 10000);
    const DWORD start = ::GetTickCount();
    while (!edit_ && ::GetTickCount() - start < 10000) {
      for (HWND top : TopWindowsOf(app_.pid())) {
        if (!::IsWindowVisible(top)) continue;
        struct Find {
          const Application* app;
          HWND edit;
        } find{&app, nullptr};
        ::EnumChildWindows(
            top,
            [](HWND child, LPARAM raw) -> BOOL {
              auto* f = reinterpret_cast<Find*>(raw);
              if (!IsEditOf(child, *f->app)) return TRUE;
              f->edit = child;
              return FALSE;
            },
            reinterpret_cast<LPARAM>(&find));
        if (find.edit) {
          top_ = top;
          edit_ = find.edit;
          break;
        }
      }
      if (!edit_) ::Sleep(50);
    }
    ASSERT_NE(edit_, nullptr) << app.name << " showed no window with its edit control";
  }

  // Makes the application the foreground window and waits until its edit
  // control holds the keyboard focus.
  void BringToForeground() {
    const DWORD thread = ::GetWindowThreadProcessId(edit_, nullptr);
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    const DWORD start = ::GetTickCount();
    do {
      ::SetForegroundWindow(top_);
      ::Sleep(20);
      if (::GetForegroundWindow() == top_ && ::GetGUIThreadInfo(thread, &info) && info.hwndFocus == edit_) return;
    } while (::GetTickCount() - start < 5000);
    FAIL() << "the application is not in the foreground with its edit control focused (foreground "
           << ::GetForegroundWindow() << ", focus " << info.hwndFocus << ")";
  }

  // The layer key at the driver, and the wait until Tavlo switched the layer.
  void LayerKey(bool down) {
    ASSERT_EQ(device_.Inject({down ? Make(kLayerKey) : Break(kLayerKey)}), static_cast<DWORD>(ERROR_SUCCESS));
    layer_on_ = down;
    WaitForLayer(down);
  }

  // Waits until the application's text has `length` code units (or more).
  std::u16string WaitForText(size_t length, DWORD timeout_ms) {
    const DWORD start = ::GetTickCount();
    for (;;) {
      std::u16string text = TextOf(edit_);
      if (text.size() >= length || ::GetTickCount() - start >= timeout_ms) return text;
      ::Sleep(10);
    }
  }

  // Empties the text and marks it unmodified, so that the application closes
  // without asking to save, and waits for it to end.
  void CloseApplication() {
    if (!app_.Running()) return;
    if (edit_) {
      DWORD_PTR ignored = 0;
      ::SendMessageTimeoutW(edit_, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""), SMTO_ABORTIFHUNG, 5000, &ignored);
      ::SendMessageTimeoutW(edit_, EM_SETMODIFY, FALSE, 0, SMTO_ABORTIFHUNG, 5000, &ignored);
    }
    if (top_) ::PostMessageW(top_, WM_CLOSE, 0, 0);
    EXPECT_EQ(app_.WaitEnded(10000), 0) << "the application did not close on its own (a prompt?)";
    app_.Terminate();  // the job would end it too
  }

  e2e::TavloProcess app_;  // the same launcher, for its job
  HWND top_ = nullptr;
  HWND edit_ = nullptr;
  bool layer_on_ = false;
};

TEST_P(TypingIntoApplications, TypesExactlyTheLayerTextAndLeavesNoKeyDown) {
  const Application& app = GetParam();
  ASSERT_NO_FATAL_FAILURE(StartApplication(app));
  ASSERT_EQ(TextOf(edit_), u"") << app.name << " starts with text";
  ASSERT_NO_FATAL_FAILURE(BringToForeground());
  ASSERT_NO_FATAL_FAILURE(LayerKey(true));

  // The key map gives the same text as written out above.
  std::u16string expected;
  for (int slot : kSlots) expected += tavlo::LayerKeyMap[slot].Text;
  ASSERT_EQ(expected, kLayerText);

  // One key at a time, as typed: each press signals its own event, and the
  // next one is pressed once its text has arrived.
  size_t length = 0;
  for (int slot : kSlots) {
    SCOPED_TRACE("slot " + std::to_string(slot));
    std::vector<uint32_t> signalled;
    ASSERT_EQ(device_.Inject(e2e::Taps({slot}), &signalled), static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_EQ(signalled.size(), 1u) << "the key's press, not its release, is signalled";
    length += std::u16string(tavlo::LayerKeyMap[slot].Text).size();
    const std::u16string text = WaitForText(length, 5000);
    ASSERT_EQ(text.size(), length) << e2e::Utf8(text);
  }
  ASSERT_NO_FATAL_FAILURE(LayerKey(false));
  ::Sleep(200);  // anything typed late would show now
  const std::u16string text = TextOf(edit_);
  EXPECT_EQ(text, expected) << app.name << " holds " << e2e::Utf8(text);

  // The system's key state, read from this process as any program reads it.
  EXPECT_EQ(::GetAsyncKeyState(VK_PACKET) & 0x8000, 0)
      << "VK_PACKET is left down: every later character comes as an auto-repeat of a held key";
}

INSTANTIATE_TEST_SUITE_P(WineApplications, TypingIntoApplications, ::testing::ValuesIn(kApplications),
                         [](const ::testing::TestParamInfo<Application>& info) { return info.param.name; });

}  // namespace
