// The simulated machine's own instruments: quiescence, accounting and failure
// injection, which every other native test leans on.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "platform/kernel.h"
#include "platform/sim/sim.h"

using namespace platform;

namespace {

struct Pair {
  Handle go;
  Handle done;
};

// Waits for `go`, signals `done`, waits for `go` again, ends.
uint32_t Worker(void* raw) {
  auto* p = static_cast<Pair*>(raw);
  WaitForOne(p->go, kInfinite);
  SetEvent(p->done);
  WaitForOne(p->go, kInfinite);
  return 0;
}

class SimMachine : public ::testing::Test {
 protected:
  void SetUp() override { sim::ResetMachine(); }
  void TearDown() override { sim::ClearFailures(); }
};

}  // namespace

TEST_F(SimMachine, QuiescentOnlyWhenEveryThreadIsBlocked) {
  const int handlesBefore = sim::OpenHandleCount();
  Pair p{CreateEventObject(false, false), CreateEventObject(false, false)};
  Handle thread = CreateThread(Worker, &p);
  ASSERT_TRUE(thread);
  ASSERT_TRUE(sim::WaitForQuiescence());
  EXPECT_EQ(sim::RunningThreadCount(), 0);
  EXPECT_EQ(sim::LiveThreadCount(), 1);
  EXPECT_EQ(WaitForOne(p.done, 0), kWaitTimeout);

  // Signalling makes the worker runnable at once: quiescence then means it
  // has done its step and blocked again.
  SetEvent(p.go);
  ASSERT_TRUE(sim::WaitForQuiescence());
  EXPECT_EQ(WaitForOne(p.done, 0), kWaitObject0);

  SetEvent(p.go);
  ASSERT_TRUE(sim::WaitForAllThreadsEnded());
  EXPECT_EQ(sim::LiveThreadCount(), 0);
  CloseHandle(thread);
  CloseHandle(p.go);
  CloseHandle(p.done);
  EXPECT_EQ(sim::OpenHandleCount(), handlesBefore);
}

TEST_F(SimMachine, IdleThreadsMakeNoWaitCalls) {
  Pair p{CreateEventObject(false, false), CreateEventObject(false, false)};
  Handle thread = CreateThread(Worker, &p);
  ASSERT_TRUE(sim::WaitForQuiescence());
  const long calls = sim::WaitCallCount();
  Sleep(100);
  EXPECT_EQ(sim::WaitCallCount(), calls);
  SetEvent(p.go);
  SetEvent(p.go);
  ASSERT_TRUE(sim::WaitForAllThreadsEnded());
  CloseHandle(thread);
  CloseHandle(p.go);
  CloseHandle(p.done);
}

TEST_F(SimMachine, CountsUseOfClosedHandles) {
  Handle e = CreateEventObject(false, false);
  CloseHandle(e);
  EXPECT_EQ(sim::UseOfClosedHandleCount(), 0);
  EXPECT_FALSE(SetEvent(e));
  EXPECT_FALSE(CloseHandle(e));
  EXPECT_EQ(sim::UseOfClosedHandleCount(), 2);
  // A handle value never issued is not a use after close.
  EXPECT_FALSE(SetEvent(reinterpret_cast<Handle>(uintptr_t{0x7FFF0000})));
  EXPECT_EQ(sim::UseOfClosedHandleCount(), 2);
}

TEST_F(SimMachine, HandleValuesAreNotReused) {
  Handle a = CreateEventObject(false, false);
  CloseHandle(a);
  Handle b = CreateEventObject(false, false);
  EXPECT_NE(a, b);
  CloseHandle(b);
}

TEST_F(SimMachine, FailsTheNthCallOfAnOperation) {
  sim::FailCall("CreateEvent", 2, kErrorNotEnoughMemory);
  Handle a = CreateEventObject(false, false);
  Handle b = CreateEventObject(false, false);
  Handle c = CreateEventObject(false, false);
  EXPECT_TRUE(a);
  EXPECT_FALSE(b);
  EXPECT_EQ(LastError(), kErrorNotEnoughMemory);
  EXPECT_TRUE(c);
  CloseHandle(a);
  CloseHandle(c);
}

// Failure injection knows the names of the fallible calls: a name that is
// not one of them (misspelt, or the Win32 spelling of another) is refused
// rather than planning a failure that never comes.
TEST_F(SimMachine, FailureInjectionRefusesNamesOfNoFallibleCall) {
  for (const char* wrong : {"ReadFiel", "CreateFileW", "WaitForSingleObject", ""}) {
    SCOPED_TRACE(wrong);
    EXPECT_THROW(sim::FailCall(wrong), std::invalid_argument);
    EXPECT_THROW(sim::FailAlways(wrong), std::invalid_argument);
    EXPECT_EQ(sim::FindFallibleCall(wrong), nullptr);
  }
  for (const sim::FallibleCall& call : sim::FallibleCalls()) {
    SCOPED_TRACE(call.name);
    EXPECT_NO_THROW(sim::FailCall(call.name));
    EXPECT_NE(std::string(call.win32), "");
  }
  sim::ClearFailures();
}

TEST_F(SimMachine, WalkModeFailsExactlyTheKthFallibleCall) {
  sim::FailNthFallibleCall(3);
  void* blocks[4];
  for (auto& b : blocks) b = AllocZeroed(16);
  EXPECT_TRUE(blocks[0]);
  EXPECT_TRUE(blocks[1]);
  EXPECT_FALSE(blocks[2]);
  EXPECT_TRUE(blocks[3]);
  EXPECT_TRUE(sim::PlannedFailureHit());
  EXPECT_EQ(sim::PlannedFailureCall(), "AllocZeroed");
  EXPECT_EQ(sim::FallibleCallCount(), 4);
  for (auto& b : blocks) FreeBlock(b);
}

TEST_F(SimMachine, CountsLiveHeapBlocksAndTheirBytes) {
  const long before = sim::LiveBlockCount();
  const long bytes = sim::LiveBlockBytes();
  void* p = AllocZeroed(10);
  EXPECT_EQ(sim::LiveBlockCount(), before + 1);
  EXPECT_EQ(sim::LiveBlockBytes(), bytes + 10);
  p = ReallocZeroed(p, 100);
  EXPECT_EQ(sim::LiveBlockBytes(), bytes + 100);
  p = ReallocZeroed(p, 40);
  EXPECT_EQ(sim::LiveBlockCount(), before + 1);
  EXPECT_EQ(sim::LiveBlockBytes(), bytes + 40);
  FreeBlock(p);
  EXPECT_EQ(sim::LiveBlockCount(), before);
  EXPECT_EQ(sim::LiveBlockBytes(), bytes);
}

TEST_F(SimMachine, ThreadCreationCanFail) {
  sim::FailCall("CreateThread");
  EXPECT_FALSE(CreateThread([](void*) -> uint32_t { return 0; }, nullptr));
  EXPECT_EQ(sim::LiveThreadCount(), 0);
}
