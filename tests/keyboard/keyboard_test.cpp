// The test keyboard under Wine: plugging and unplugging it through SetupAPI,
// what the HID class library reports about it, reports pushed through its
// side channel, and the device notices that a window receives.
#include <windows.h>
#include <dbt.h>
#include <setupapi.h>
extern "C" {
#include <hidsdi.h>
#include <hidpi.h>
}

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cwctype>
#include <memory>
#include <string>
#include <vector>

#include "tests/keyboard/keyboard_control.h"

namespace {

using testkbd::Keyboard;
using testkbd::Narrow;

const GUID kHidInterface = {0x4d1e55b2, 0xf16f, 0x11cf, {0x88, 0xcb, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

bool SamePath(const std::wstring& a, const std::wstring& b) { return Lower(a) == Lower(b); }

bool Listed(const std::wstring& path) {
  for (const std::wstring& p : testkbd::KeyboardInterfacePaths()) {
    if (SamePath(p, path)) return true;
  }
  return false;
}

struct Handle {
  HANDLE h = INVALID_HANDLE_VALUE;
  Handle() = default;
  explicit Handle(HANDLE handle) : h(handle) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() {
    if (h != INVALID_HANDLE_VALUE && h != nullptr) CloseHandle(h);
  }
  bool valid() const { return h != INVALID_HANDLE_VALUE && h != nullptr; }
};

HANDLE OpenInterface(const std::wstring& path) {
  return CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                     OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
}

// One overlapped read of an input report, started at construction.
class PendingRead {
 public:
  explicit PendingRead(HANDLE device) : device_(device) {
    event_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    overlapped_.hEvent = event_;
    started_ = ReadFile(device_, buffer_, sizeof(buffer_), nullptr, &overlapped_) != FALSE ||
               GetLastError() == ERROR_IO_PENDING;
    start_error_ = GetLastError();
  }
  ~PendingRead() {
    if (started_ && !collected_) {
      CancelIo(device_);
      DWORD ignored = 0;
      GetOverlappedResult(device_, &overlapped_, &ignored, TRUE);
    }
    CloseHandle(event_);
  }
  PendingRead(const PendingRead&) = delete;
  PendingRead& operator=(const PendingRead&) = delete;

  bool started() const { return started_; }
  DWORD start_error() const { return start_error_; }
  bool Done() const { return WaitForSingleObject(event_, 0) == WAIT_OBJECT_0; }
  // Waits up to timeout_ms for the read; false when it has not ended.
  bool Wait(DWORD timeout_ms) {
    if (WaitForSingleObject(event_, timeout_ms) != WAIT_OBJECT_0) return false;
    DWORD got = 0;
    ok_ = GetOverlappedResult(device_, &overlapped_, &got, FALSE) != FALSE;
    error_ = ok_ ? 0 : GetLastError();
    length_ = got;
    collected_ = true;
    return true;
  }
  bool ok() const { return ok_; }
  DWORD error() const { return error_; }
  std::vector<unsigned char> bytes() const { return {buffer_, buffer_ + length_}; }

 private:
  HANDLE device_;
  HANDLE event_ = nullptr;
  OVERLAPPED overlapped_ = {};
  unsigned char buffer_[64] = {};
  bool started_ = false;
  bool collected_ = false;
  bool ok_ = false;
  DWORD start_error_ = 0;
  DWORD error_ = 0;
  DWORD length_ = 0;
};

std::vector<unsigned char> ReadOne(HANDLE device, DWORD timeout_ms = 5000) {
  PendingRead read(device);
  if (!read.started() || !read.Wait(timeout_ms) || !read.ok()) return {};
  return read.bytes();
}

std::string Hex(const std::vector<unsigned char>& bytes) {
  std::string out;
  char part[4];
  for (unsigned char b : bytes) {
    std::snprintf(part, sizeof(part), "%02X ", b);
    out += part;
  }
  return out;
}

class TestKeyboard : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { session_ = new testkbd::Session(); }
  static void TearDownTestSuite() {
    delete session_;  // removes every node, the service and the files
    session_ = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(session_->ok()) << Narrow(session_->error()); }
  void TearDown() override {
    for (const Keyboard& k : plugged_) {
      std::wstring ignored;
      testkbd::Unplug(k, &ignored);
    }
  }

  // Plugs one keyboard, remembered for unplugging at the end of the test.
  bool PlugOne(Keyboard* out, double* ms = nullptr) {
    std::wstring error;
    LARGE_INTEGER f, a, b;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&a);
    bool ok = testkbd::Plug(out, &error);
    QueryPerformanceCounter(&b);
    if (ms != nullptr) *ms = 1000.0 * double(b.QuadPart - a.QuadPart) / double(f.QuadPart);
    EXPECT_TRUE(ok) << Narrow(error);
    if (ok) plugged_.push_back(*out);
    return ok;
  }
  bool UnplugOne(const Keyboard& keyboard, double* ms = nullptr) {
    std::wstring error;
    LARGE_INTEGER f, a, b;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&a);
    bool ok = testkbd::Unplug(keyboard, &error);
    QueryPerformanceCounter(&b);
    if (ms != nullptr) *ms = 1000.0 * double(b.QuadPart - a.QuadPart) / double(f.QuadPart);
    EXPECT_TRUE(ok) << Narrow(error);
    plugged_.erase(std::remove_if(plugged_.begin(), plugged_.end(),
                                  [&](const Keyboard& k) { return k.instance_id == keyboard.instance_id; }),
                   plugged_.end());
    return ok;
  }

  static testkbd::Session* session_;
  std::vector<Keyboard> plugged_;
};

testkbd::Session* TestKeyboard::session_ = nullptr;

TEST_F(TestKeyboard, PluggedKeyboardIsListedWithItsIdentityAndConsumerCollection) {
  ASSERT_TRUE(testkbd::KeyboardInterfacePaths().empty());
  Keyboard k;
  ASSERT_TRUE(PlugOne(&k));
  EXPECT_NE(Lower(k.interface_path).find(L"vid_1c4f&pid_0002"), std::wstring::npos) << Narrow(k.interface_path);
  EXPECT_TRUE(Listed(k.interface_path));
  EXPECT_EQ(testkbd::CountKeyboards(), 1);
  std::printf("[ info ] node %s, interface %s\n", Narrow(k.instance_id).c_str(), Narrow(k.interface_path).c_str());

  Handle device(OpenInterface(k.interface_path));
  ASSERT_TRUE(device.valid()) << GetLastError();
  HIDD_ATTRIBUTES attributes = {};
  attributes.Size = sizeof(attributes);
  ASSERT_TRUE(HidD_GetAttributes(device.h, &attributes));
  EXPECT_EQ(attributes.VendorID, 0x1C4F);
  EXPECT_EQ(attributes.ProductID, 0x0002);

  PHIDP_PREPARSED_DATA preparsed = nullptr;
  ASSERT_TRUE(HidD_GetPreparsedData(device.h, &preparsed));
  HIDP_CAPS caps = {};
  EXPECT_EQ(HidP_GetCaps(preparsed, &caps), HIDP_STATUS_SUCCESS);
  EXPECT_EQ(caps.UsagePage, 0x000C);
  EXPECT_EQ(caps.Usage, 0x0001);
  EXPECT_EQ(caps.InputReportByteLength, 3);
  EXPECT_EQ(caps.OutputReportByteLength, 0);
  EXPECT_EQ(caps.FeatureReportByteLength, 0);
  // One 16-bit field under report ID 1.
  HIDP_BUTTON_CAPS buttons[4] = {};
  USHORT count = 4;
  EXPECT_EQ(HidP_GetButtonCaps(HidP_Input, buttons, &count, preparsed), HIDP_STATUS_SUCCESS);
  ASSERT_EQ(count, 1);
  EXPECT_EQ(buttons[0].UsagePage, 0x000C);
  EXPECT_EQ(buttons[0].ReportID, 1);
  HidD_FreePreparsedData(preparsed);

  wchar_t product[64] = {};
  if (HidD_GetProductString(device.h, product, sizeof(product))) {
    EXPECT_EQ(std::wstring(product), L"Tavlo test keyboard");
  }
}

TEST_F(TestKeyboard, PushedReportsArriveExactlyAndInOrder) {
  Keyboard k;
  ASSERT_TRUE(PlugOne(&k));
  Handle device(OpenInterface(k.interface_path));
  ASSERT_TRUE(device.valid()) << GetLastError();

  const std::vector<std::vector<unsigned char>> reports = {
      {0x01, 0xFE, 0x00},  // layer key held
      {0x01, 0x00, 0x00},  // released
      {0x01, 0xFD, 0x00},  // other values pass through unchanged
      {0x01, 0x00, 0xFE}, {0x01, 0xFF, 0x03},
  };
  // One at a time, with the read already waiting.
  for (const auto& report : reports) {
    PendingRead read(device.h);
    ASSERT_TRUE(read.started()) << read.start_error();
    EXPECT_FALSE(read.Done()) << "a read completed before any report was pushed";
    ASSERT_EQ(testkbd::PushReport(report.data(), report.size()), 1);
    ASSERT_TRUE(read.Wait(5000)) << "report " << Hex(report) << " did not arrive";
    ASSERT_TRUE(read.ok()) << read.error();
    EXPECT_EQ(read.bytes(), report);
  }
  // A burst pushed before anyone reads: nothing lost, nothing reordered.
  for (const auto& report : reports) ASSERT_EQ(testkbd::PushReport(report.data(), report.size()), 1);
  for (const auto& report : reports) EXPECT_EQ(Hex(ReadOne(device.h)), Hex(report));

  // The layer-key helper sends the keyboard's two reports.
  ASSERT_EQ(testkbd::PushLayerKey(true), 1);
  EXPECT_EQ(ReadOne(device.h), (std::vector<unsigned char>{0x01, 0xFE, 0x00}));
  ASSERT_EQ(testkbd::PushLayerKey(false), 1);
  EXPECT_EQ(ReadOne(device.h), (std::vector<unsigned char>{0x01, 0x00, 0x00}));
}

TEST_F(TestKeyboard, SideChannelRefusesMalformedPushes) {
  Keyboard k;
  ASSERT_TRUE(PlugOne(&k));
  unsigned char big[65] = {0x01};
  EXPECT_EQ(testkbd::PushReport(big, 0), -1);
  EXPECT_EQ(testkbd::PushReport(big, sizeof(big)), -1);
  // The keyboard still works after the refusals.
  Handle device(OpenInterface(k.interface_path));
  ASSERT_TRUE(device.valid());
  ASSERT_EQ(testkbd::PushLayerKey(true), 1);
  EXPECT_EQ(ReadOne(device.h), (std::vector<unsigned char>{0x01, 0xFE, 0x00}));
}

// A window registered for HID interface notices, as the product's is.
class NoticeWindow {
 public:
  struct Notice {
    WPARAM event;
    std::wstring name;
  };

  NoticeWindow() {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = &NoticeWindow::Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"TavloTestKeyboardNotices";
    RegisterClassW(&wc);
    hwnd_ =
        CreateWindowExW(0, wc.lpszClassName, L"", WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr, wc.hInstance, nullptr);
    if (hwnd_ == nullptr) return;
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    DEV_BROADCAST_DEVICEINTERFACE_W filter = {};
    filter.dbcc_size = sizeof(filter);
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = kHidInterface;
    notify_ = RegisterDeviceNotificationW(hwnd_, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
  }
  ~NoticeWindow() {
    if (notify_ != nullptr) UnregisterDeviceNotification(notify_);
    if (hwnd_ != nullptr) DestroyWindow(hwnd_);
  }
  bool ok() const { return hwnd_ != nullptr && notify_ != nullptr; }

  // Pumps messages until a notice of `event` names `path`, or timeout.
  bool WaitFor(WPARAM event, const std::wstring& path, DWORD timeout_ms) {
    DWORD start = GetTickCount();
    for (;;) {
      for (const Notice& n : notices_) {
        if (n.event == event && SamePath(n.name, path)) return true;
      }
      DWORD elapsed = GetTickCount() - start;
      if (elapsed > timeout_ms) return false;
      MsgWaitForMultipleObjects(0, nullptr, FALSE, timeout_ms - elapsed, QS_ALLINPUT);
      MSG msg;
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
    }
  }
  const std::vector<Notice>& notices() const { return notices_; }

 private:
  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto* self = reinterpret_cast<NoticeWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (msg == WM_DEVICECHANGE && self != nullptr && lp != 0 &&
        (wp == DBT_DEVICEARRIVAL || wp == DBT_DEVICEREMOVECOMPLETE)) {
      auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lp);
      if (header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE &&
          header->dbch_size > offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name)) {
        auto* iface = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(lp);
        size_t room = (header->dbch_size - offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name)) / sizeof(wchar_t);
        size_t n = 0;
        while (n < room && iface->dbcc_name[n] != 0) ++n;
        self->notices_.push_back({wp, std::wstring(iface->dbcc_name, n)});
      }
      return TRUE;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
  }

  HWND hwnd_ = nullptr;
  HDEVNOTIFY notify_ = nullptr;
  std::vector<Notice> notices_;
};

TEST_F(TestKeyboard, WindowGetsArrivalAndRemovalNoticesWithTheInterfaceName) {
  NoticeWindow window;
  ASSERT_TRUE(window.ok()) << GetLastError();
  Keyboard k;
  ASSERT_TRUE(PlugOne(&k));
  EXPECT_TRUE(window.WaitFor(DBT_DEVICEARRIVAL, k.interface_path, 5000))
      << "no arrival notice for " << Narrow(k.interface_path);
  ASSERT_TRUE(UnplugOne(k));
  EXPECT_TRUE(window.WaitFor(DBT_DEVICEREMOVECOMPLETE, k.interface_path, 5000))
      << "no removal notice for " << Narrow(k.interface_path);
  EXPECT_FALSE(Listed(k.interface_path));

  // Plugging again announces the keyboard again.
  Keyboard again;
  ASSERT_TRUE(PlugOne(&again));
  EXPECT_TRUE(window.WaitFor(DBT_DEVICEARRIVAL, again.interface_path, 5000));
}

TEST_F(TestKeyboard, UnplugFailsThePendingReadAndPluggingAgainWorks) {
  Keyboard k;
  ASSERT_TRUE(PlugOne(&k));
  {
    Handle device(OpenInterface(k.interface_path));
    ASSERT_TRUE(device.valid());
    PendingRead read(device.h);
    ASSERT_TRUE(read.started()) << read.start_error();
    EXPECT_FALSE(read.Done());
    ASSERT_TRUE(UnplugOne(k));
    ASSERT_TRUE(read.Wait(5000)) << "the pending read outlived the unplug";
    EXPECT_FALSE(read.ok());
    std::printf("[ info ] pending read after unplug failed with error %lu\n", static_cast<unsigned long>(read.error()));
    // The handle stays closable and further reads fail.
    PendingRead after(device.h);
    if (after.started()) {
      ASSERT_TRUE(after.Wait(5000));
      EXPECT_FALSE(after.ok());
    }
    EXPECT_EQ(testkbd::PushLayerKey(true), 0);  // nobody is plugged
  }
  EXPECT_EQ(testkbd::CountKeyboards(), 0);

  Keyboard again;
  ASSERT_TRUE(PlugOne(&again));
  Handle device(OpenInterface(again.interface_path));
  ASSERT_TRUE(device.valid());
  ASSERT_EQ(testkbd::PushLayerKey(true), 1);
  EXPECT_EQ(ReadOne(device.h), (std::vector<unsigned char>{0x01, 0xFE, 0x00}));
}

TEST_F(TestKeyboard, TwoKeyboardsBothGetReportsAndOneSurvivesTheOthersUnplug) {
  Keyboard a, b;
  ASSERT_TRUE(PlugOne(&a));
  ASSERT_TRUE(PlugOne(&b));
  EXPECT_FALSE(SamePath(a.interface_path, b.interface_path));
  EXPECT_NE(a.instance_id, b.instance_id);
  EXPECT_EQ(testkbd::KeyboardInterfacePaths().size(), 2u);
  Handle da(OpenInterface(a.interface_path));
  Handle db(OpenInterface(b.interface_path));
  ASSERT_TRUE(da.valid() && db.valid());

  ASSERT_EQ(testkbd::PushLayerKey(true), 2);
  EXPECT_EQ(ReadOne(da.h), (std::vector<unsigned char>{0x01, 0xFE, 0x00}));
  EXPECT_EQ(ReadOne(db.h), (std::vector<unsigned char>{0x01, 0xFE, 0x00}));

  // A report aimed at one keyboard reaches only that one.
  ASSERT_EQ(testkbd::PushLayerKeyTo(b, false), 1);
  EXPECT_EQ(ReadOne(db.h), (std::vector<unsigned char>{0x01, 0x00, 0x00}));
  {
    PendingRead quiet(da.h);
    ASSERT_TRUE(quiet.started());
    ASSERT_EQ(testkbd::PushLayerKeyTo(a, true), 1);
    ASSERT_TRUE(quiet.Wait(5000));
    EXPECT_EQ(quiet.bytes(), (std::vector<unsigned char>{0x01, 0xFE, 0x00}));
  }
  // b got nothing meanwhile: its next report is the one pushed to it next.
  const unsigned char other[3] = {0x01, 0xFD, 0x00};
  ASSERT_EQ(testkbd::PushReportTo(b, other, sizeof(other)), 1);
  EXPECT_EQ(ReadOne(db.h), (std::vector<unsigned char>{0x01, 0xFD, 0x00}));
  Keyboard stranger;
  stranger.instance_id = L"ROOT\\VID_1C4F&PID_0002\\9999";
  EXPECT_EQ(testkbd::PushLayerKeyTo(stranger, true), 0);

  ASSERT_TRUE(UnplugOne(a));
  EXPECT_FALSE(Listed(a.interface_path));
  EXPECT_TRUE(Listed(b.interface_path));
  EXPECT_EQ(testkbd::PushLayerKeyTo(a, true), 0);
  ASSERT_EQ(testkbd::PushLayerKey(false), 1);
  EXPECT_EQ(ReadOne(db.h), (std::vector<unsigned char>{0x01, 0x00, 0x00}));
}

TEST_F(TestKeyboard, RepeatedPlugAndUnplugCycles) {
  const int kCycles = 5;
  double plug_ms[kCycles], unplug_ms[kCycles];
  for (int i = 0; i < kCycles; ++i) {
    Keyboard k;
    ASSERT_TRUE(PlugOne(&k, &plug_ms[i])) << "cycle " << i;
    Handle device(OpenInterface(k.interface_path));
    ASSERT_TRUE(device.valid()) << "cycle " << i;
    ASSERT_EQ(testkbd::PushLayerKey(i % 2 == 0), 1);
    EXPECT_EQ(ReadOne(device.h).size(), 3u) << "cycle " << i;
    ASSERT_TRUE(UnplugOne(k, &unplug_ms[i])) << "cycle " << i;
    EXPECT_TRUE(testkbd::KeyboardInterfacePaths().empty()) << "cycle " << i;
  }
  // Figures for the record; timing is not asserted here.
  for (int i = 0; i < kCycles; ++i)
    std::printf("[ info ] cycle %d: plug %.1f ms, unplug %.1f ms\n", i, plug_ms[i], unplug_ms[i]);
}

TEST_F(TestKeyboard, CleanUpRemovesNodesServiceAndFiles) {
  Keyboard k;
  ASSERT_TRUE(PlugOne(&k));
  std::wstring error;
  ASSERT_TRUE(testkbd::CleanUp(&error)) << Narrow(error);
  plugged_.clear();
  EXPECT_TRUE(testkbd::KeyboardInterfacePaths().empty());

  // No device node with the keyboard's hardware ID is left, present or not.
  HDEVINFO set = SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
  ASSERT_NE(set, INVALID_HANDLE_VALUE);
  SP_DEVINFO_DATA data = {};
  data.cbSize = sizeof(data);
  int left = 0;
  for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &data); ++i) {
    wchar_t ids[512] = {};
    if (SetupDiGetDeviceRegistryPropertyW(set, &data, SPDRP_HARDWAREID, nullptr, reinterpret_cast<BYTE*>(ids),
                                          sizeof(ids) - 4, nullptr) &&
        Lower(ids) == L"tavlo\\testkeyboard")
      ++left;
    // Nor the HID class driver's child nodes, HID\VID_1C4F&PID_0002\<n>.
    wchar_t instance[256] = {};
    if (SetupDiGetDeviceInstanceIdW(set, &data, instance, 256, nullptr) &&
        Lower(instance).rfind(L"hid\\vid_1c4f&pid_0002\\", 0) == 0)
      ++left;
  }
  SetupDiDestroyDeviceInfoList(set);
  EXPECT_EQ(left, 0);

  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  ASSERT_NE(manager, nullptr);
  SC_HANDLE service = OpenServiceW(manager, L"TavloTestKbd", SERVICE_QUERY_STATUS);
  DWORD open_error = GetLastError();
  if (service != nullptr) CloseServiceHandle(service);
  CloseServiceHandle(manager);
  EXPECT_EQ(service, nullptr);
  EXPECT_EQ(open_error, static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));

  wchar_t system[MAX_PATH] = {};
  GetSystemDirectoryW(system, MAX_PATH);
  std::wstring image = std::wstring(system) + L"\\drivers\\tavlo_testkbd.sys";
  EXPECT_EQ(GetFileAttributesW(image.c_str()), INVALID_FILE_ATTRIBUTES);

  // No installed copy of the INF either.
  wchar_t windows[MAX_PATH] = {};
  GetWindowsDirectoryW(windows, MAX_PATH);
  std::wstring inf = std::wstring(windows) + L"\\inf\\tavlo_testkbd.inf";
  EXPECT_EQ(GetFileAttributesW(inf.c_str()), INVALID_FILE_ATTRIBUTES);

  // Cleaning up again is harmless, and the keyboard installs afresh.
  EXPECT_TRUE(testkbd::CleanUp(&error)) << Narrow(error);
  ASSERT_TRUE(testkbd::InstallDriver(&error)) << Narrow(error);
  Keyboard again;
  ASSERT_TRUE(PlugOne(&again));
  Handle device(OpenInterface(again.interface_path));
  ASSERT_TRUE(device.valid());
  ASSERT_EQ(testkbd::PushLayerKey(true), 1);
  EXPECT_EQ(ReadOne(device.h), (std::vector<unsigned char>{0x01, 0xFE, 0x00}));
}

}  // namespace
