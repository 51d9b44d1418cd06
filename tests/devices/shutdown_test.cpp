// Shutdown while the layer is being switched: once CloseKeyFilter has sent
// the table's removal, the driver hears nothing more before the close. The
// window is forced here: the dispatcher is held in a slow SendInput when the
// shutdown begins, with a layer-key press already signalled behind it; while
// the shutdown waits for it, the keyboard delivers a report. Both the reader
// and the dispatcher then switch the layer between the removal and the close.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/sim/sim_trace.h"
#include "tests/devices/devices_fixture.h"

using namespace tavlo;
using namespace tavlo::testing;
namespace sim = platform::sim;

namespace {

class ShutdownTest : public DevicesTest {};

// The driver-facing lines of the trace: its open, control calls and close.
std::vector<std::string> DriverLines() {
  std::vector<std::string> lines;
  for (const std::string& line : sim::TraceLines())
    if (line.rfind("driver ", 0) == 0 || line.rfind("ioctl ", 0) == 0) lines.push_back(line);
  return lines;
}

TEST_F(ShutdownTest, NothingReachesTheDriverBetweenTheTableRemovalAndTheClose) {
  const sim::ModelKeyboardPaths kb = sim::AttachModelKeyboard();
  NoticeArrival(kb);
  ASSERT_EQ(DeviceList.Count, 1u);
  Hold(kb.consumerControl);  // mode 1 from the keyboard
  ASSERT_EQ(ModeCalls(), std::vector<int>({1}));

  // The dispatcher is typing, slowly, when the shutdown starts; a press of the
  // 0x76 key waits behind it.
  sim::PressScanCode(kLayerKeyScanCode);
  Settle();
  sim::HoldInput(true);
  sim::PressScanCode(LayerKeyMap[1].ScanCode);
  ASSERT_TRUE(sim::WaitForHeldSendInput());
  sim::PressScanCode(kLayerKeyScanCode);
  const size_t callsBefore = sim::ControlCallCount();

  std::thread shutdown([] { CloseKeyFilter(); });
  ASSERT_TRUE(sim::WaitForControlCallCount(callsBefore + 1));
  const std::vector<sim::ControlCall> atRemoval = sim::ControlCalls();
  ASSERT_EQ(atRemoval.back().code, IOCTL_SET_KEY_TABLE);
  ASSERT_TRUE(atRemoval.back().inputNull) << "the removal is the shutdown's first call";

  // The keyboard's report reaches its reader while the shutdown waits for the
  // dispatcher; the reader has handled it once LayerMode holds its mode.
  LayerMode.store(7);
  sim::PushInputReport(kb.consumerControl, {0x01, 0x00, 0x00});
  while (LayerMode.load() != 0) std::this_thread::yield();
  // The dispatcher goes on: the pressed key's text, then the 0x76 press it
  // finds before its stop event.
  sim::HoldInput(false);
  shutdown.join();

  EXPECT_EQ(sim::ControlCallCount(), callsBefore + 1) << "a control call after the table's removal";
  const std::vector<std::string> lines = DriverLines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], "ioctl 0x0022210c in 0");
  EXPECT_EQ(lines.back(), "driver close");
  EXPECT_EQ(DriverHandle, nullptr);
  EXPECT_EQ(DispatcherThread(), nullptr) << "the dispatcher ended within the shutdown's wait";
  EXPECT_EQ(sim::TypedText(), std::u16string(LayerKeyMap[1].Text));

  // Reports after the close send nothing either, until the list is released.
  Release(kb.consumerControl);
  EXPECT_EQ(sim::ControlCallCount(), callsBefore + 1);
  ReleaseKeyboardInterfaces();
  sim::DetachModelKeyboard(kb);
}

}  // namespace
