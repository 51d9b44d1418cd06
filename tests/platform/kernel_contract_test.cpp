// What the system relies on of events, waits and threads. Runs natively
// against the simulated machine and under Wine against Win32, so the two
// agree.
#include <gtest/gtest.h>

#include <atomic>

#include "platform/kernel.h"

using namespace platform;

namespace {

struct Events {
  explicit Events(int n, bool manualReset = false) : count(n) {
    for (int i = 0; i < n; ++i) handles[i] = CreateEventObject(manualReset, false);
  }
  ~Events() {
    for (int i = 0; i < count; ++i)
      if (handles[i]) CloseHandle(handles[i]);
  }
  int count;
  Handle handles[64] = {};
};

uint32_t SignalAfterDelay(void* event) {
  Sleep(50);
  SetEvent(static_cast<Handle>(event));
  return 7;
}

uint32_t ReturnParameter(void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

}  // namespace

TEST(KernelContract, AutoResetReleasesOneWaitAndIsConsumed) {
  Events e(1, /*manualReset=*/false);
  ASSERT_TRUE(e.handles[0]);
  EXPECT_EQ(WaitForOne(e.handles[0], 0), kWaitTimeout);
  ASSERT_TRUE(SetEvent(e.handles[0]));
  EXPECT_EQ(WaitForOne(e.handles[0], 0), kWaitObject0);
  EXPECT_EQ(WaitForOne(e.handles[0], 0), kWaitTimeout) << "the first wait consumes the signal";
}

TEST(KernelContract, ManualResetStaysSignalledUntilReset) {
  Events e(1, /*manualReset=*/true);
  ASSERT_TRUE(SetEvent(e.handles[0]));
  EXPECT_EQ(WaitForOne(e.handles[0], 0), kWaitObject0);
  EXPECT_EQ(WaitForOne(e.handles[0], 0), kWaitObject0);
  ASSERT_TRUE(ResetEvent(e.handles[0]));
  EXPECT_EQ(WaitForOne(e.handles[0], 0), kWaitTimeout);
}

TEST(KernelContract, InitiallySignalledEvent) {
  Handle h = CreateEventObject(false, true);
  EXPECT_EQ(WaitForOne(h, 0), kWaitObject0);
  EXPECT_EQ(WaitForOne(h, 0), kWaitTimeout);
  CloseHandle(h);
}

TEST(KernelContract, LowestSignalledIndexWinsAndOnlyItIsConsumed) {
  Events e(48);
  ASSERT_TRUE(SetEvent(e.handles[47]));
  ASSERT_TRUE(SetEvent(e.handles[3]));
  ASSERT_TRUE(SetEvent(e.handles[45]));
  EXPECT_EQ(WaitForAny(48, e.handles, 0), kWaitObject0 + 3);
  EXPECT_EQ(WaitForAny(48, e.handles, 0), kWaitObject0 + 45);
  EXPECT_EQ(WaitForAny(48, e.handles, 0), kWaitObject0 + 47);
  EXPECT_EQ(WaitForAny(48, e.handles, 0), kWaitTimeout);
}

TEST(KernelContract, SecondSignalOfAStillSignalledAutoEventIsLost) {
  Events e(2);
  SetEvent(e.handles[1]);
  SetEvent(e.handles[1]);
  EXPECT_EQ(WaitForAny(2, e.handles, 0), kWaitObject0 + 1);
  EXPECT_EQ(WaitForAny(2, e.handles, 0), kWaitTimeout);
}

TEST(KernelContract, SignalWhileNobodyWaitsIsKept) {
  Events e(3);
  SetEvent(e.handles[2]);
  Sleep(20);
  EXPECT_EQ(WaitForAny(3, e.handles, kInfinite), kWaitObject0 + 2);
}

TEST(KernelContract, BlockedWaitWakesOnSignalFromAnotherThread) {
  Events e(4);
  Handle thread = CreateThread(SignalAfterDelay, e.handles[1]);
  ASSERT_TRUE(thread);
  EXPECT_EQ(WaitForAny(4, e.handles, 5000), kWaitObject0 + 1);
  EXPECT_EQ(WaitForOne(thread, 5000), kWaitObject0);
  uint32_t code = 0;
  ASSERT_TRUE(GetThreadExitCode(thread, &code));
  EXPECT_EQ(code, 7u);
  CloseHandle(thread);
}

TEST(KernelContract, TimedWaitTimesOut) {
  Events e(2);
  EXPECT_EQ(WaitForAny(2, e.handles, 30), kWaitTimeout);
}

TEST(KernelContract, WaitFailsOnNullOrClosedHandle) {
  Events e(2);
  Handle withNull[2] = {e.handles[0], NullHandle()};
  SetLastError(0);
  EXPECT_EQ(WaitForAny(2, withNull, 0), kWaitFailed);
  EXPECT_EQ(LastError(), kErrorInvalidHandle);

  Handle closed = CreateEventObject(false, true);
  ASSERT_TRUE(CloseHandle(closed));
  Handle withClosed[2] = {e.handles[0], closed};
  SetLastError(0);
  EXPECT_EQ(WaitForAny(2, withClosed, 0), kWaitFailed);
  EXPECT_EQ(LastError(), kErrorInvalidHandle);
  EXPECT_FALSE(SetEvent(closed));
}

TEST(KernelContract, ThreadExitCodeAndHandleSignalledAtEnd) {
  Handle thread = CreateThread(ReturnParameter, reinterpret_cast<void*>(uintptr_t{42}));
  ASSERT_TRUE(thread);
  ASSERT_EQ(WaitForOne(thread, 5000), kWaitObject0);
  uint32_t code = 0;
  ASSERT_TRUE(GetThreadExitCode(thread, &code));
  EXPECT_EQ(code, 42u);
  EXPECT_EQ(WaitForOne(thread, 0), kWaitObject0) << "a thread's handle stays signalled";
  CloseHandle(thread);
}

namespace {
struct Counter {
  Lock lock;
  long value = 0;
};
uint32_t AddMany(void* raw) {
  auto* c = static_cast<Counter*>(raw);
  for (int i = 0; i < 20000; ++i) {
    LockGuard guard(c->lock);
    c->value++;
  }
  return 0;
}
}  // namespace

TEST(KernelContract, LockSerialisesThreads) {
  Counter counter;
  Handle a = CreateThread(AddMany, &counter);
  Handle b = CreateThread(AddMany, &counter);
  ASSERT_TRUE(a && b);
  Handle both[2] = {a, b};
  ASSERT_EQ(WaitForOne(both[0], 10000), kWaitObject0);
  ASSERT_EQ(WaitForOne(both[1], 10000), kWaitObject0);
  EXPECT_EQ(counter.value, 40000);
  CloseHandle(a);
  CloseHandle(b);
}

TEST(KernelContract, HeapBlocksAreZeroFilledAndGrowZeroed) {
  auto* p = static_cast<unsigned char*>(AllocZeroed(64));
  ASSERT_TRUE(p);
  for (int i = 0; i < 64; ++i) EXPECT_EQ(p[i], 0);
  p[0] = 0xAB;
  p = static_cast<unsigned char*>(ReallocZeroed(p, 4096));
  ASSERT_TRUE(p);
  EXPECT_EQ(p[0], 0xAB);
  for (int i = 64; i < 4096; ++i) ASSERT_EQ(p[i], 0) << i;
  FreeBlock(p);
}

TEST(HandleWidening, SignExtendsThirtyTwoBitHandles) {
  struct Case {
    uint64_t value;
    unsigned width;
    uint64_t expected;
  } cases[] = {
      {0x0000007Cu, 32, 0x000000000000007Cull},           {0x7FFFFFFCu, 32, 0x000000007FFFFFFCull},
      {0x80000004u, 32, 0xFFFFFFFF80000004ull},           {0xFFFFFFFFu, 32, 0xFFFFFFFFFFFFFFFFull},
      {0x00000000FFFFFFFFull, 64, 0x00000000FFFFFFFFull}, {0x8000000000000010ull, 64, 0x8000000000000010ull},
  };
  for (const Case& c : cases) EXPECT_EQ(SignExtendHandleValue(c.value, c.width), c.expected) << std::hex << c.value;
  EXPECT_EQ(WidenHandle(InvalidHandle()), 0xFFFFFFFFFFFFFFFFull);
  EXPECT_EQ(WidenHandle(NullHandle()), 0u);
}
