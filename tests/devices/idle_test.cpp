// Idle cost: with the keyboard attached and listed, the driver open and
// nothing pressed, the system's threads (the dispatcher and the keyboard's
// reader) stay blocked in their waits. Over 10 seconds (TAVLO_IDLE_SECONDS to
// change it) no thread makes another wait call, and the process uses next to
// no CPU time while the test thread sleeps. Afterwards both sources of input
// still work.
#include <gtest/gtest.h>

#include <time.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "devices/keyboard_list.h"
#include "layer/driver_link.h"
#include "layer/key_map.h"
#include "tests/devices/devices_fixture.h"

using namespace tavlo;
using namespace tavlo::testing;
namespace sim = platform::sim;

namespace {

int IdleSeconds() {
  const char* text = std::getenv("TAVLO_IDLE_SECONDS");
  if (text && std::atoi(text) > 0) return std::atoi(text);
  return 10;
}

double ProcessCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

class Idle : public DevicesTest {};

TEST_F(Idle, AttachedKeyboardWithNothingPressedCostsNoWakeUpAndNoCpu) {
  const sim::ModelKeyboardPaths kb = sim::AttachModelKeyboard();
  ScanKeyboardInterfaces(nullptr);
  Settle();
  ASSERT_EQ(DeviceList.Count, 1u);
  ASSERT_EQ(sim::HidPendingReadCount(kb.consumerControl), 1) << "the reader waits for a report";
  ASSERT_TRUE(DispatcherThread()) << "the dispatcher waits for key events";
  ASSERT_EQ(sim::RunningThreadCount(), 0);

  const int seconds = IdleSeconds();
  const long waits = sim::WaitCallCount();
  const double cpuBefore = ProcessCpuSeconds();
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  const double cpuUsed = ProcessCpuSeconds() - cpuBefore;

  EXPECT_EQ(sim::WaitCallCount(), waits) << "a system thread woke up";
  EXPECT_EQ(sim::RunningThreadCount(), 0);
  // A sleeping test thread and blocked system threads: a few milliseconds at
  // most (sanitizer runtimes keep a background thread of their own).
  EXPECT_LT(cpuUsed, 0.005 * seconds) << "CPU seconds used while idle: " << cpuUsed;
  std::printf("[ idle     ] %d s: %.6f s of CPU time, %ld wait calls\n", seconds, cpuUsed,
              sim::WaitCallCount() - waits);

  // Still awake to input from both sources.
  Hold(kb.consumerControl);
  EXPECT_EQ(ModeCalls(), std::vector<int>({1}));
  sim::PressScanCode(LayerKeyMap[6].ScanCode);
  Settle();
  EXPECT_EQ(sim::TypedText(), std::u16string(ChooseLayerText(6, false, false)));
  Release(kb.consumerControl);
  sim::DetachModelKeyboard(kb);
}

}  // namespace
