// The link under concurrency: readers and the dispatcher switching the layer
// at once, a shutdown while they do, and a shutdown while the dispatcher is
// still busy. Meant to run under ThreadSanitizer as well.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "layer/driver_link.h"
#include "platform/sim/sim.h"
#include "platform/sim/sim_driver.h"
#include "platform/sim/sim_input.h"
#include "tests/layer/link_fixture.h"

using namespace tavlo;
using namespace tavlo::testing;
namespace sim = platform::sim;

namespace {

constexpr uint8_t kLayerKey = 0x76;

struct ModeCounts {
  long on = 0;
  long off = 0;
  long other = 0;
};

ModeCounts CountModesSent() {
  ModeCounts counts;
  for (const sim::ControlCall& call : sim::ControlCalls()) {
    if (call.code != IOCTL_SET_LAYER_MODE) continue;
    if (call.input == std::vector<uint8_t>{1}) {
      counts.on++;
    } else if (call.input == std::vector<uint8_t>{0}) {
      counts.off++;
    } else {
      counts.other++;
    }
  }
  return counts;
}

}  // namespace

// Each sender's call carries the mode that sender chose, even when the
// dispatcher and several readers send at the same moment.
TEST_F(LinkTest, EveryLayerModeCallCarriesItsOwnSendersMode) {
  ASSERT_EQ(OpenKeyFilter(nullptr), kKeyFilterOpened);
  Settle();
  constexpr int kReaders = 4;
  constexpr int kCallsEach = 400;
  std::atomic<bool> go{false};
  std::vector<std::thread> readers;
  for (int r = 0; r < kReaders; ++r) {
    // Readers 0 and 2 only switch on, 1 and 3 only off.
    readers.emplace_back([r, &go] {
      while (!go.load()) std::this_thread::yield();
      for (int i = 0; i < kCallsEach; ++i) SendLayerMode(r % 2 == 0 ? 1 : 0);
    });
  }
  go = true;
  // The dispatcher joins in through the layer key: every make sends 1 and
  // every break 0 (merged signals are not counted twice: count what it served).
  const long waitsBefore = sim::WaitCallCount();
  for (int i = 0; i < 200; ++i) {
    sim::PressScanCode(kLayerKey);
    sim::ReleaseScanCode(kLayerKey);
  }
  for (std::thread& t : readers) t.join();
  Settle();
  const long served = sim::WaitCallCount() - waitsBefore;  // one wait per served event
  const ModeCounts counts = CountModesSent();
  EXPECT_EQ(counts.other, 0);
  EXPECT_EQ(counts.on + counts.off, kReaders * kCallsEach + served);
  // Readers: half of them on, half off. The dispatcher's served events split
  // into makes and breaks it served; each make is served before its break
  // (lower slot), so the two differ by at most the merged signals.
  const long readerOn = 2L * kCallsEach;
  const long readerOff = 2L * kCallsEach;
  EXPECT_GE(counts.on, readerOn);
  EXPECT_GE(counts.off, readerOff);
  EXPECT_EQ(counts.on - readerOn + counts.off - readerOff, served);
}

// A precise form of the same: two senders with opposite modes, each call's
// calls counted by the byte the driver received.
TEST_F(LinkTest, ModeByteIsPrivateToItsCall) {
  ASSERT_EQ(OpenKeyFilter(nullptr), kKeyFilterOpened);
  Settle();
  std::atomic<bool> go{false};
  auto sender = [&go](uint8_t mode, int count) {
    while (!go.load()) std::this_thread::yield();
    for (int i = 0; i < count; ++i) SendLayerMode(mode);
  };
  std::thread on(sender, 1, 1000);
  std::thread off(sender, 0, 700);
  go = true;
  on.join();
  off.join();
  const ModeCounts counts = CountModesSent();
  EXPECT_EQ(counts.on, 1000);
  EXPECT_EQ(counts.off, 700);
  EXPECT_EQ(counts.other, 0);
}

// Readers keep switching the layer while the main window shuts the link down:
// no call may reach the device after its handle is closed.
TEST_F(LinkTest, NoControlCallUsesTheHandleAfterTheClose) {
  for (int round = 0; round < 20; ++round) {
    if (round > 0) {
      CloseKeyEvents();
      sim::ResetMachine();
      CreateKeyEvents();
    }
    ASSERT_EQ(OpenKeyFilter(nullptr), kKeyFilterOpened);
    Settle();
    std::atomic<bool> stop{false};
    std::atomic<int> started{0};
    std::vector<std::thread> readers;
    for (int r = 0; r < 3; ++r) {
      readers.emplace_back([r, &stop, &started] {
        started++;
        while (!stop.load()) SendLayerMode(static_cast<uint8_t>(r & 1));
      });
    }
    while (started.load() < 3) std::this_thread::yield();
    sim::WaitForControlCallCount(50);
    CloseKeyFilter();
    const size_t callsAtClose = sim::ControlCallCount();
    // Readers go on after the close, as they do until the keyboard list is
    // released.
    sim::WaitForControlCallCount(callsAtClose + 1, 20);
    stop = true;
    for (std::thread& t : readers) t.join();
    EXPECT_EQ(sim::UseOfClosedHandleCount(), 0) << "round " << round;
    EXPECT_EQ(sim::ControlCallCount(), callsAtClose) << "round " << round;
    EXPECT_EQ(DriverHandle, nullptr);
    EXPECT_FALSE(sim::FilterDeviceOpen());
  }
}

// The shutdown waits for a dispatcher that is still typing before the events
// it waits on are closed.
TEST_F(LinkTest, ShutdownWaitsForABusyDispatcher) {
  ASSERT_EQ(OpenKeyFilter(nullptr), kKeyFilterOpened);
  Settle();
  sim::PressScanCode(kLayerKey);
  Settle();
  sim::HoldInput(true);      // a slow input stream
  sim::PressScanCode(0x30);  // B
  ASSERT_TRUE(sim::WaitForHeldSendInput());

  std::atomic<bool> closed{false};
  std::thread shutdown([&closed] {
    CloseKeyFilter();
    CloseKeyEvents();
    closed = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(closed.load()) << "the shutdown did not wait for the dispatcher";
  sim::HoldInput(false);
  shutdown.join();
  EXPECT_TRUE(closed.load());
  EXPECT_EQ(sim::TypedText(), u"\u0253");
  EXPECT_EQ(sim::LiveThreadCount(), 0);
  EXPECT_EQ(sim::UseOfClosedHandleCount(), 0);
  for (int slot = 0; slot < kWaitedEventCount; ++slot) EXPECT_EQ(KeyEvents[slot], nullptr);
}

// A dispatcher that does not end within the bound: the shutdown goes on, and
// the events stay open for it rather than being closed under it.
TEST_F(LinkTest, ShutdownWaitIsBoundedAndKeepsTheEventsOfAStuckDispatcher) {
  ASSERT_EQ(OpenKeyFilter(nullptr), kKeyFilterOpened);
  Settle();
  const platform::Handle thread = DispatcherThread();
  sim::PressScanCode(kLayerKey);
  Settle();
  sim::HoldInput(true);
  sim::PressScanCode(0x30);
  ASSERT_TRUE(sim::WaitForHeldSendInput());

  const auto start = std::chrono::steady_clock::now();
  CloseKeyFilter();
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(kDispatcherStopTimeoutMs - 100));
  EXPECT_EQ(DriverHandle, nullptr);
  EXPECT_FALSE(sim::FilterDeviceOpen());
  CloseKeyEvents();
  EXPECT_NE(KeyEvents[0], nullptr) << "a running dispatcher still waits on the events";

  sim::HoldInput(false);
  ASSERT_EQ(platform::WaitForOne(thread, 5000), platform::kWaitObject0);
  EXPECT_EQ(DispatcherThread(), nullptr);
  EXPECT_EQ(sim::UseOfClosedHandleCount(), 0);
  platform::CloseHandle(thread);
  CloseKeyEvents();
  EXPECT_EQ(KeyEvents[0], nullptr);
}
