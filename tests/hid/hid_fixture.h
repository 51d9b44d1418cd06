// A fixture for native tests of hid/: a fresh simulated machine, and at the
// end every handle, heap block, preparsed data, device-information set and
// thread back to what it was.
#pragma once

#include <gtest/gtest.h>

#include "platform/sim/sim.h"
#include "platform/sim/sim_hid.h"
#include "tests/support/sim_resources.h"

class HidTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::sim::ResetMachine();
    before_ = SimResources::Now();
  }
  void TearDown() override {
    platform::sim::ClearFailures();
    before_.ExpectRestored();
    platform::sim::ResetMachine();
  }

 private:
  SimResources before_;
};
