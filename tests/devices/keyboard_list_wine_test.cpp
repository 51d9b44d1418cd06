// The keyboard list end to end on real Win32 (under Wine): the test keyboard
// (tests/keyboard) found by the start-up scan, its Consumer-Control reports
// reaching the test filter driver (tests/driver) as layer-mode calls, and an
// unplug while the layer key is held.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "devices/keyboard_list.h"
#include "layer/driver_link.h"
#include "tests/driver/driver_control.h"
#include "tests/keyboard/keyboard_control.h"

using namespace tavlo;

namespace {

// The layer modes the driver received through the control device, in order.
std::vector<int> ModeCalls(testdriver::TestDevice& device) {
  testdriver::Log log;
  std::vector<int> modes;
  if (device.ReadLog(&log) != ERROR_SUCCESS) return {-2};
  for (const testdriver::LogEntry& e : log.entries)
    if (e.kind == KBDTEST_LOG_DEVICE_CONTROL && e.code == IOCTL_SET_LAYER_MODE)
      modes.push_back(e.input.size() == 1 ? e.input[0] : -1);
  return modes;
}

// Waits (up to two seconds) until the driver has received `count` layer-mode
// calls; returns them.
std::vector<int> WaitForModeCalls(testdriver::TestDevice& device, size_t count) {
  const DWORD start = GetTickCount();
  for (;;) {
    const std::vector<int> modes = ModeCalls(device);
    if (modes.size() >= count || GetTickCount() - start > 2000) return modes;
    Sleep(10);
  }
}

std::u16string Upper(const std::wstring& text) {
  std::u16string out(reinterpret_cast<const char16_t*>(text.c_str()), text.size());
  for (char16_t& c : out)
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  return out;
}

TEST(KeyboardListUnderWine, LayerKeyReportsReachTheDriverAndUnplugSendsNoRelease) {
  testdriver::ScopedDriver driver(TAVLO_KBDFILTR_TEST_SYS);
  ASSERT_EQ(driver.error(), static_cast<DWORD>(ERROR_SUCCESS)) << driver.failed_step();
  testkbd::Session session;
  ASSERT_TRUE(session.ok()) << testkbd::Narrow(session.error());
  testkbd::Keyboard kb;
  std::wstring error;
  ASSERT_TRUE(testkbd::Plug(&kb, &error)) << testkbd::Narrow(error);

  CreateKeyEvents();
  ASSERT_EQ(OpenKeyFilter(nullptr), kKeyFilterOpened);
  testdriver::TestDevice device;
  ASSERT_EQ(device.Open(), static_cast<DWORD>(ERROR_SUCCESS));
  ASSERT_EQ(device.ClearLog(), static_cast<DWORD>(ERROR_SUCCESS));

  // Wine's own HID devices are enumerated too; only the keyboard is listed.
  ScanKeyboardInterfaces(nullptr);
  ASSERT_EQ(DeviceList.Count, 1u);
  EXPECT_EQ(std::u16string(DeviceList.Entries[0].Path), Upper(kb.interface_path));

  ASSERT_EQ(testkbd::PushLayerKey(true), 1);
  EXPECT_EQ(WaitForModeCalls(device, 1), std::vector<int>{1});
  const unsigned char other[] = {0x01, 0xFD, 0x00};
  ASSERT_EQ(testkbd::PushReport(other, sizeof other), 1);
  ASSERT_EQ(testkbd::PushLayerKey(false), 1);
  EXPECT_EQ(WaitForModeCalls(device, 2), (std::vector<int>{1, 0})) << "0x00FD sends nothing";

  ASSERT_EQ(testkbd::PushLayerKey(true), 1);
  EXPECT_EQ(WaitForModeCalls(device, 3), (std::vector<int>{1, 0, 1}));
  ASSERT_TRUE(testkbd::Unplug(kb, &error)) << testkbd::Narrow(error);
  RemoveKeyboardInterface(reinterpret_cast<const char16_t*>(kb.interface_path.c_str()));
  EXPECT_EQ(DeviceList.Count, 0u);
  Sleep(100);
  EXPECT_EQ(ModeCalls(device), (std::vector<int>{1, 0, 1})) << "no mode 0 on account of the unplug";

  CloseKeyFilter();
  ReleaseKeyboardInterfaces();
  CloseKeyEvents();
}

}  // namespace
