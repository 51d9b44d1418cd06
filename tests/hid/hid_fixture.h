// A fixture for native tests of hid/: a fresh simulated machine, and at the
// end every handle, heap block, preparsed data, device-information set and
// thread back to what it was.
#pragma once

#include <gtest/gtest.h>

#include "platform/sim/sim.h"
#include "platform/sim/sim_hid.h"

class HidTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::sim::ResetMachine();
    handles_ = platform::sim::OpenHandleCount();
    blocks_ = platform::sim::LiveBlockCount();
    preparsed_ = platform::sim::LivePreparsedDataCount();
    closedUses_ = platform::sim::UseOfClosedHandleCount();
  }
  void TearDown() override {
    platform::sim::ClearFailures();
    EXPECT_TRUE(platform::sim::WaitForAllThreadsEnded());
    EXPECT_EQ(platform::sim::LiveThreadCount(), 0);
    EXPECT_EQ(platform::sim::OpenHandleCount(), handles_) << "handles leaked";
    EXPECT_EQ(platform::sim::LiveBlockCount(), blocks_) << "heap blocks leaked";
    EXPECT_EQ(platform::sim::LivePreparsedDataCount(), preparsed_) << "preparsed data leaked";
    EXPECT_EQ(platform::sim::LiveDeviceInfoSetCount(), 0);
    EXPECT_EQ(platform::sim::UseOfClosedHandleCount(), closedUses_) << "a closed handle was used";
    platform::sim::ResetMachine();
  }

 private:
  int handles_ = 0;
  long blocks_ = 0;
  long preparsed_ = 0;
  long closedUses_ = 0;
};
