// Hot-plug soak: the keyboard is unplugged and plugged again many times, with
// the device notices the main window passes on, while other threads press its
// layer key (Consumer-Control reports) and character keys (at the filter
// driver) without pause. Readers start and end under load; every record must
// outlive its reader, and nothing may be left behind. Run it under ASan and
// TSan.
//
// Rounds: 1000 (about 1 s natively and under ASan, 3 s under TSan), or
// TAVLO_SOAK_ROUNDS from the environment.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>
#include <vector>

#include "devices/keyboard_list.h"
#include "layer/driver_link.h"
#include "layer/key_map.h"
#include "tests/devices/devices_fixture.h"

using namespace tavlo;
using namespace tavlo::testing;
namespace sim = platform::sim;

namespace {

constexpr int kDefaultRounds = 1000;

int Rounds() {
  const char* text = std::getenv("TAVLO_SOAK_ROUNDS");
  if (text && std::atoi(text) > 0) return std::atoi(text);
  return kDefaultRounds;
}

class HotPlugSoak : public DevicesTest {};

TEST_F(HotPlugSoak, PlugAndUnplugUnderLoad) {
  const int rounds = Rounds();
  const long blocksAtStart = sim::LiveBlockCount();
  // The keyboard's paths are the same at every plug; the threads read this
  // copy, which nothing rewrites.
  const sim::ModelKeyboardPaths kb = sim::AttachModelKeyboard();
  ScanKeyboardInterfaces(nullptr);
  ASSERT_EQ(DeviceList.Count, 1u);

  std::atomic<bool> stop{false};
  std::atomic<long> reportsTaken{0};
  std::thread layerKey([&] {
    const std::vector<uint8_t> held{0x01, 0xFE, 0x00};
    const std::vector<uint8_t> released{0x01, 0x00, 0x00};
    for (unsigned i = 0; !stop.load(); ++i) {
      if (sim::PushInputReport(kb.consumerControl, (i & 1) ? released : held)) reportsTaken++;
      std::this_thread::yield();
    }
  });
  std::thread typist([&] {
    const uint8_t g = LayerKeyMap[6].ScanCode;
    for (unsigned i = 0; !stop.load(); ++i) {
      if (i % 8 == 0) {
        sim::PressScanCode(0x76);
        sim::ReleaseScanCode(0x76);
      }
      sim::PressScanCode(g);
      sim::ReleaseScanCode(g);
      std::this_thread::yield();
    }
  });

  for (int round = 0; round < rounds; ++round) {
    sim::DetachModelKeyboard(kb);
    NoticeRemoval(kb);
    ASSERT_EQ(DeviceList.Count, 0u) << "round " << round;
    const sim::ModelKeyboardPaths plugged = sim::AttachModelKeyboard();
    ASSERT_EQ(plugged.consumerControl, kb.consumerControl);
    NoticeArrival(plugged);
    ASSERT_EQ(DeviceList.Count, 1u) << "round " << round;
  }
  // The last keyboard is still plugged: its reader must still deliver.
  const size_t callsBefore = sim::ControlCallCount();
  ASSERT_TRUE(sim::WaitForControlCallCount(callsBefore + 2));

  stop.store(true);
  layerKey.join();
  typist.join();
  ASSERT_TRUE(sim::WaitForQuiescence());

  EXPECT_GT(reportsTaken.load(), 0);
  EXPECT_FALSE(ModeCalls().empty());
  EXPECT_EQ(sim::HidOpenFileCount(kb.consumerControl), 1);
  EXPECT_EQ(sim::HidOpenFileCount(kb.keyboard), 0);

  CloseKeyFilter();
  ReleaseKeyboardInterfaces();
  EXPECT_EQ(DeviceList.Count, 0u);
  EXPECT_EQ(sim::HidOpenFileCount(kb.consumerControl), 0);
  EXPECT_TRUE(sim::WaitForQuiescence());
  EXPECT_EQ(sim::LiveThreadCount(), 0);
  EXPECT_EQ(sim::LiveBlockCount(), blocksAtStart);
  EXPECT_EQ(sim::UseOfClosedHandleCount(), 0);
  sim::DetachModelKeyboard(kb);
  // The fixture checks handles, threads and preparsed data once more.
}

}  // namespace
