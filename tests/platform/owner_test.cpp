// The owner of platform/owner.h on the simulated machine: whatever way a
// resource leaves its scope (the end of the scope, a move, a reset), it is
// released exactly once, and never after it was handed on.
#include <gtest/gtest.h>

#include <utility>

#include "platform/kernel.h"
#include "platform/owner.h"
#include "platform/sim/sim.h"
#include "tests/support/sim_resources.h"

using namespace platform;

namespace {

class Owned : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::ResetMachine();
    before_ = SimResources::Now();
  }
  // Nothing leaked, nothing closed twice.
  void TearDown() override { before_.ExpectRestored(); }

  static Handle NewEvent() { return CreateEventObject(false, false); }

  SimResources before_;
};

TEST_F(Owned, TheEndOfTheScopeClosesTheHandle) {
  const int open = sim::OpenHandleCount();
  {
    const OwnedHandle event(NewEvent());
    ASSERT_TRUE(IsUsableHandle(event.Get()));
    EXPECT_EQ(sim::OpenHandleCount(), open + 1);
  }
  EXPECT_EQ(sim::OpenHandleCount(), open);
}

TEST_F(Owned, AMoveHandsTheHandleOnAndOnlyTheLastOwnerClosesIt) {
  const int open = sim::OpenHandleCount();
  {
    OwnedHandle first(NewEvent());
    const Handle event = first.Get();
    OwnedHandle second(std::move(first));
    EXPECT_EQ(first.Get(), nullptr);
    EXPECT_EQ(second.Get(), event);

    OwnedHandle third(NewEvent());
    third = std::move(second);  // closes the event third held
    EXPECT_EQ(third.Get(), event);
    EXPECT_EQ(sim::OpenHandleCount(), open + 1);
  }
  EXPECT_EQ(sim::OpenHandleCount(), open);
}

TEST_F(Owned, ResetClosesTheOldHandleAndTakeKeepsItOpen) {
  const int open = sim::OpenHandleCount();
  Handle taken = nullptr;
  {
    OwnedHandle owner(NewEvent());
    owner.Reset(NewEvent());
    EXPECT_EQ(sim::OpenHandleCount(), open + 1);
    taken = owner.Take();
    EXPECT_EQ(owner.Get(), nullptr);
  }
  EXPECT_EQ(sim::OpenHandleCount(), open + 1);
  EXPECT_TRUE(CloseHandle(taken)) << "the owner closed a handle it had handed on";
}

TEST_F(Owned, EmptyAndInvalidHandlesAreNotClosed) {
  // A close of either would fail with ERROR_INVALID_HANDLE.
  SetLastError(kErrorSuccess);
  { const OwnedHandle empty; }
  { const OwnedHandle failed(InvalidHandle()); }
  OwnedHandle reset(InvalidHandle());
  reset.Reset();
  EXPECT_EQ(LastError(), kErrorSuccess) << "CloseHandle was called";
}

TEST_F(Owned, TheEndOfTheScopeFreesTheBlock) {
  const long blocks = sim::LiveBlockCount();
  {
    OwnedBlock<int> block(static_cast<int*>(AllocZeroed(4 * sizeof(int))));
    ASSERT_NE(block.Get(), nullptr);
    EXPECT_EQ(block.Get()[3], 0);
    OwnedBlock<int> moved(std::move(block));
    EXPECT_EQ(sim::LiveBlockCount(), blocks + 1);
  }
  EXPECT_EQ(sim::LiveBlockCount(), blocks);
}

}  // namespace
