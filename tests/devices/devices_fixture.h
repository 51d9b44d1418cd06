// A fixture for native tests of devices/: a fresh simulated machine with the
// filter driver present and the system started as the main window starts it
// (CreateSystemEvents, StartSystem; no keyboard is attached yet). A test that keeps the link
// closed (openDriver_ false) gets the key events alone. Tear-down shuts down
// as the main window does (StopSystem, CloseSystemEvents) and checks that every handle, heap
// block, preparsed data, device-information set and thread is back to where
// it was, that no closed handle was used and that the list is empty.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "app/system.h"
#include "devices/keyboard_list.h"
#include "layer/driver_link.h"
#include "platform/sim/sim.h"
#include "platform/sim/sim_driver.h"
#include "platform/sim/sim_hid.h"
#include "platform/sim/sim_input.h"
#include "tests/support/sim_resources.h"

namespace tavlo::testing {

using Bytes = std::vector<uint8_t>;

// A path as the list stores it (the simulated paths are ASCII).
inline std::u16string Upper(std::u16string text) {
  for (char16_t& c : text)
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  return text;
}

class DevicesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::sim::ResetMachine();
    before_ = SimResources::Now();
    CreateSystemEvents();
    if (openDriver_) {
      ASSERT_EQ(StartSystem(nullptr), kKeyFilterOpened);
    }
  }

  void TearDown() override {
    platform::sim::ClearFailures();
    StopSystem();
    CloseSystemEvents();
    if (platform::IsUsableHandle(DriverHandle)) platform::CloseHandle(DriverHandle);
    DriverHandle = nullptr;
    EXPECT_EQ(DeviceList.Count, 0u);
    EXPECT_EQ(DeviceList.Entries, nullptr);
    before_.ExpectRestored();
    platform::sim::ResetMachine();
  }

  static void Settle() { ASSERT_TRUE(platform::sim::WaitForQuiescence()); }

  // The layer modes that reached the driver, in order.
  static std::vector<int> ModeCalls() {
    std::vector<int> modes;
    for (const platform::sim::ControlCall& call : platform::sim::ControlCalls())
      if (call.code == IOCTL_SET_LAYER_MODE) modes.push_back(call.input.empty() ? -1 : call.input[0]);
    return modes;
  }

  // A report on an interface, delivered and handled before this returns.
  static void Report(const std::u16string& path, const Bytes& bytes) {
    platform::sim::PushInputReport(path, bytes);
    Settle();
  }
  static void Hold(const std::u16string& path) { Report(path, {0x01, 0xFE, 0x00}); }
  static void Release(const std::u16string& path) { Report(path, {0x01, 0x00, 0x00}); }

  // The device notices of a keyboard's arrival and departure.
  static void NoticeArrival(const platform::sim::ModelKeyboardPaths& kb) {
    AddKeyboardInterface(kb.consumerControl.c_str(), nullptr);
    AddKeyboardInterface(kb.keyboard.c_str(), nullptr);
  }
  static void NoticeRemoval(const platform::sim::ModelKeyboardPaths& kb) {
    RemoveKeyboardInterface(kb.consumerControl.c_str());
    RemoveKeyboardInterface(kb.keyboard.c_str());
  }

  static std::vector<std::u16string> ListedPaths() {
    std::vector<std::u16string> paths;
    for (uint32_t i = 0; i < DeviceList.Count; ++i) paths.push_back(DeviceList.Entries[i].Path);
    return paths;
  }

  bool openDriver_ = true;

 private:
  SimResources before_;
};

}  // namespace tavlo::testing
