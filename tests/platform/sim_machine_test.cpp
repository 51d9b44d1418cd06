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

namespace {

// Makes one walked call, waits for `go` (if any), makes another, ends.
uint32_t CallWaitCall(void* go) {
  CloseHandle(CreateEventObject(false, false));
  if (go) WaitForOne(static_cast<Handle>(go), kInfinite);
  CloseHandle(CreateEventObject(false, false));
  return 0;
}

// The log as "call@thread" words.
std::vector<std::string> LogWords() {
  std::vector<std::string> words;
  for (const sim::FallibleCallRecord& record : sim::FallibleCallLog())
    words.push_back(record.call + "@" + std::to_string(record.thread));
  return words;
}

}  // namespace

// The walk's log names each call and its thread: 0 outside the system, then
// the threads in creation order.
TEST_F(SimMachine, WalkLogNamesEachCallAndItsThread) {
  sim::FailNthFallibleCall(0);
  void* block = AllocZeroed(4);
  Handle thread = CreateThread(CallWaitCall, nullptr);
  ASSERT_TRUE(sim::WaitForAllThreadsEnded());
  FreeBlock(block);  // not fallible
  EXPECT_EQ(LogWords(),
            (std::vector<std::string>{"AllocZeroed@0", "CreateThread@0", "CreateEvent@1", "CreateEvent@1"}));
  EXPECT_EQ(sim::FallibleCallCount(), 4);
  EXPECT_FALSE(sim::PlannedFailureHit());
  CloseHandle(thread);
}

// Ordered starts: new threads are held while their creator runs, then start
// one at a time in creation order, each once the ones before it are blocked
// or ended. The same calls in the same order, every time.
TEST_F(SimMachine, OrderedStartsRunNewThreadsOneAtATimeInCreationOrder) {
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE(round);
    sim::ResetMachine();
    sim::SetOrderedThreadStarts(true);
    sim::FailNthFallibleCall(0);
    Handle go = CreateEventObject(true, false);
    Handle first = CreateThread(CallWaitCall, go);
    Handle second = CreateThread(CallWaitCall, nullptr);
    ASSERT_TRUE(first && second);
    CloseHandle(CreateEventObject(false, false));
    Sleep(round == 0 ? 50 : 0);  // time a wrongly started thread would use
    EXPECT_EQ(sim::LiveThreadCount(), 2);
    EXPECT_EQ(sim::RunningThreadCount(), 0) << "held threads do not run";
    // The creator waits: the first starts and blocks on `go`, then the second
    // runs to its end.
    ASSERT_TRUE(sim::WaitForQuiescence());
    EXPECT_EQ(sim::LiveThreadCount(), 1);
    SetEvent(go);
    ASSERT_TRUE(sim::WaitForAllThreadsEnded());
    EXPECT_EQ(LogWords(),
              (std::vector<std::string>{"CreateEvent@0", "CreateThread@0", "CreateThread@0", "CreateEvent@0",
                                        "CreateEvent@1", "CreateEvent@2", "CreateEvent@2", "CreateEvent@1"}));
    CloseHandle(first);
    CloseHandle(second);
    CloseHandle(go);
  }
}

// Whether every system thread ends while this thread only sleeps (a sleep is
// no wait of the machine, so it starts no held thread).
bool EndWithoutAWait() {
  for (int i = 0; i < 500 && sim::LiveThreadCount() > 0; ++i) Sleep(10);
  return sim::LiveThreadCount() == 0;
}

// A creator that waits for a held thread lets it start: no wait hangs on the
// gate. Turning the mode off, or a reset, starts every held thread.
TEST_F(SimMachine, OrderedStartsNeverHoldAThreadItsCreatorWaitsFor) {
  sim::SetOrderedThreadStarts(true);
  Handle thread = CreateThread(CallWaitCall, nullptr);
  EXPECT_EQ(WaitForOne(thread, 5000), kWaitObject0);
  CloseHandle(thread);

  for (const bool reset : {false, true}) {
    SCOPED_TRACE(reset ? "reset" : "mode off");
    sim::SetOrderedThreadStarts(true);
    Handle held = CreateThread(CallWaitCall, nullptr);
    Sleep(20);
    EXPECT_EQ(sim::LiveThreadCount(), 1) << "held while nobody waits";
    if (reset) {
      sim::ResetMachine();
    } else {
      sim::SetOrderedThreadStarts(false);
    }
    EXPECT_TRUE(EndWithoutAWait());
    CloseHandle(held);
  }
}
