// Soak with two keyboards of the model: while one thread switches the layer
// through both keyboards' Consumer-Control reports and another presses the
// 0x76 key and bursts of all 45 character keys at the filter driver, the main
// thread unplugs and plugs the two keyboards in turn with the device notices.
// The keyboard that stays must stay listed and working, every typed code unit
// must come from a layer text, and after shutdown every thread has ended and
// nothing is left. Meant for ThreadSanitizer and AddressSanitizer builds as
// much as the plain one.
//
// Runs 3 seconds, or TAVLO_SOAK_SECONDS from the environment.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "devices/keyboard_list.h"
#include "layer/driver_link.h"
#include "layer/key_map.h"
#include "platform/sim/sim_trace.h"
#include "tests/devices/devices_fixture.h"

using namespace tavlo;
using namespace tavlo::testing;
namespace sim = platform::sim;

namespace {

int SoakSeconds() {
  const char* text = std::getenv("TAVLO_SOAK_SECONDS");
  if (text && std::atoi(text) > 0) return std::atoi(text);
  return 3;
}

// Every code unit a layer key may type.
std::set<char16_t> LayerCodeUnits() {
  std::set<char16_t> units;
  for (int slot = 0; slot < kCharacterKeyCount; ++slot) {
    for (const char16_t* text : {LayerKeyMap[slot].Text, LayerKeyMap[slot].ShiftText})
      for (const char16_t* p = text; p && *p; ++p) units.insert(*p);
  }
  return units;
}

class TwoKeyboardSoak : public DevicesTest {};

TEST_F(TwoKeyboardSoak, HotPlugOfTwoKeyboardsWhileBothSourcesSwitchTheLayerAndKeysBurst) {
  const long blocksAtStart = sim::LiveBlockCount();
  // The threads read these copies; a replugged keyboard has the same paths.
  const sim::ModelKeyboardPaths kbs[2] = {sim::AttachModelKeyboard(1), sim::AttachModelKeyboard(2)};
  ScanKeyboardInterfaces(nullptr);
  ASSERT_EQ(DeviceList.Count, 2u);

  const std::set<char16_t> allowed = LayerCodeUnits();
  std::atomic<bool> stop{false};
  std::atomic<long> reportsTaken{0};
  std::atomic<long> unitsTyped{0};
  std::atomic<long> strayUnits{0};

  std::thread layerKey([&] {
    const std::vector<uint8_t> held{0x01, 0xFE, 0x00};
    const std::vector<uint8_t> released{0x01, 0x00, 0x00};
    for (unsigned i = 0; !stop.load(); ++i) {
      const sim::ModelKeyboardPaths& kb = kbs[(i >> 1) & 1];
      if (sim::PushInputReport(kb.consumerControl, (i & 1) ? released : held)) reportsTaken++;
      if (i % 1024 == 0) sim::ClearControlCalls();
      std::this_thread::yield();
    }
  });
  std::thread typist([&] {
    for (unsigned round = 0; !stop.load(); ++round) {
      sim::PressScanCode(kLayerKeyScanCode);
      for (int slot = 0; slot < kCharacterKeyCount; ++slot) {
        sim::PressScanCode(LayerKeyMap[slot].ScanCode);
        sim::ReleaseScanCode(LayerKeyMap[slot].ScanCode);
      }
      sim::ReleaseScanCode(kLayerKeyScanCode);
      if (round % 8 == 7) {
        // What was typed so far, checked and let go of (events typed while
        // this runs may go unchecked, never miscounted as stray).
        const std::u16string typed = sim::TypedText();
        sim::ClearSentInputs();
        sim::ClearTrace();
        unitsTyped += static_cast<long>(typed.size());
        for (char16_t unit : typed)
          if (!allowed.count(unit)) strayUnits++;
      }
      std::this_thread::yield();
    }
  });

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(SoakSeconds());
  long rounds = 0;
  for (; std::chrono::steady_clock::now() < deadline; ++rounds) {
    const sim::ModelKeyboardPaths& moving = kbs[rounds & 1];
    const sim::ModelKeyboardPaths& staying = kbs[(rounds + 1) & 1];
    sim::DetachModelKeyboard(moving);
    NoticeRemoval(moving);
    ASSERT_EQ(DeviceList.Count, 1u) << "round " << rounds;
    ASSERT_EQ(std::u16string(DeviceList.Entries[0].Path), Upper(staying.consumerControl)) << "round " << rounds;
    const sim::ModelKeyboardPaths plugged = sim::AttachModelKeyboard(static_cast<int>(rounds & 1) + 1);
    ASSERT_EQ(plugged.consumerControl, moving.consumerControl);
    NoticeArrival(plugged);
    ASSERT_EQ(DeviceList.Count, 2u) << "round " << rounds;
  }

  stop.store(true);
  layerKey.join();
  typist.join();
  ASSERT_TRUE(sim::WaitForQuiescence());
  std::printf("[ soak     ] %ld plug rounds, %ld reports taken, %ld code units typed\n", rounds, reportsTaken.load(),
              unitsTyped.load());
  EXPECT_GT(rounds, 10);
  EXPECT_GT(reportsTaken.load(), 0);
  EXPECT_EQ(strayUnits.load(), 0) << "typed code units that no layer key types";

  // Both keyboards listed, each with its reader, each still switching the layer.
  for (const sim::ModelKeyboardPaths& kb : kbs) {
    EXPECT_EQ(sim::HidOpenFileCount(kb.consumerControl), 1);
    EXPECT_EQ(sim::HidPendingReadCount(kb.consumerControl), 1);
    EXPECT_EQ(sim::HidOpenFileCount(kb.keyboard), 0);
    sim::ClearControlCalls();
    Hold(kb.consumerControl);
    Release(kb.consumerControl);
    EXPECT_EQ(ModeCalls(), std::vector<int>({1, 0}));
  }
  // And the driver's keys type as before.
  sim::ClearSentInputs();
  sim::PressScanCode(kLayerKeyScanCode);
  Settle();
  sim::PressScanCode(LayerKeyMap[6].ScanCode);
  sim::ReleaseScanCode(kLayerKeyScanCode);
  Settle();
  EXPECT_EQ(sim::TypedText(), std::u16string(ChooseLayerText(6, false, false)));

  CloseKeyFilter();
  ReleaseKeyboardInterfaces();
  EXPECT_EQ(DeviceList.Count, 0u);
  EXPECT_TRUE(sim::WaitForAllThreadsEnded());
  EXPECT_EQ(sim::LiveThreadCount(), 0);
  EXPECT_EQ(sim::LiveBlockCount(), blocksAtStart);
  EXPECT_EQ(sim::UseOfClosedHandleCount(), 0);
  for (const sim::ModelKeyboardPaths& kb : kbs) {
    EXPECT_EQ(sim::HidOpenFileCount(kb.consumerControl), 0);
    sim::DetachModelKeyboard(kb);
  }
  // The fixture checks handles, preparsed data and device-information sets.
}

}  // namespace
