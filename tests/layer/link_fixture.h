// A fixture for tests of the driver link on the simulated machine: a fresh
// machine with the filter driver present, Shift up and Caps Lock off, and the
// key events created as the main window does. Tear-down shuts the link down
// the way the main window does and checks nothing was left behind.
#pragma once

#include <gtest/gtest.h>

#include "layer/driver_link.h"
#include "platform/sim/sim.h"
#include "platform/sim/sim_driver.h"
#include "platform/sim/sim_input.h"

namespace tavlo::testing {

class LinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::sim::ResetMachine();
    handlesBefore_ = platform::sim::OpenHandleCount();
    CreateKeyEvents();
  }

  void TearDown() override {
    CloseKeyFilter();
    CloseKeyEvents();
    // A link whose dispatcher never started keeps its device open until the
    // process ends; the test plays the process end.
    if (platform::IsUsableHandle(DriverHandle)) platform::CloseHandle(DriverHandle);
    DriverHandle = nullptr;
    platform::sim::ClearFailures();
    platform::sim::HoldInput(false);
    EXPECT_TRUE(platform::sim::WaitForAllThreadsEnded());
    EXPECT_EQ(platform::sim::UseOfClosedHandleCount(), 0);
    EXPECT_EQ(platform::sim::OpenHandleCount(), handlesBefore_ + extraHandlesAllowed_);
  }

  // Steps the machine: returns once the dispatcher is blocked again.
  static void Settle() { ASSERT_TRUE(platform::sim::WaitForQuiescence()); }

  static void Press(uint8_t scanCode) {
    platform::sim::PressScanCode(scanCode);
    Settle();
  }
  static void Release(uint8_t scanCode) {
    platform::sim::ReleaseScanCode(scanCode);
    Settle();
  }
  // Press and release of a character key.
  static void Tap(uint8_t scanCode) {
    Press(scanCode);
    Release(scanCode);
  }

  int handlesBefore_ = 0;
  int extraHandlesAllowed_ = 0;
};

}  // namespace tavlo::testing
