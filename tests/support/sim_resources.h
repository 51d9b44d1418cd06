// What the simulated machine holds for the system: handles, heap blocks,
// preparsed data, device-information sets and uses of closed handles. Tests
// take a snapshot before the work and check that everything is back after it.
#pragma once

#include <gtest/gtest.h>

#include "platform/sim/sim.h"
#include "platform/sim/sim_hid.h"

struct SimResources {
  int handles = 0;
  long blocks = 0;
  long preparsed = 0;
  long closedUses = 0;

  static SimResources Now() {
    SimResources r;
    r.handles = platform::sim::OpenHandleCount();
    r.blocks = platform::sim::LiveBlockCount();
    r.preparsed = platform::sim::LivePreparsedDataCount();
    r.closedUses = platform::sim::UseOfClosedHandleCount();
    return r;
  }

  // Every thread ended and nothing held beyond this snapshot.
  void ExpectRestored() const {
    EXPECT_TRUE(platform::sim::WaitForAllThreadsEnded(5000));
    EXPECT_EQ(platform::sim::LiveThreadCount(), 0) << "threads still running";
    EXPECT_EQ(platform::sim::OpenHandleCount(), handles) << "handles leaked";
    EXPECT_EQ(platform::sim::LiveBlockCount(), blocks) << "heap blocks leaked";
    EXPECT_EQ(platform::sim::LivePreparsedDataCount(), preparsed) << "preparsed data leaked";
    EXPECT_EQ(platform::sim::LiveDeviceInfoSetCount(), 0) << "device-information set leaked";
    EXPECT_EQ(platform::sim::UseOfClosedHandleCount(), closedUses) << "a closed handle was used";
  }
};
