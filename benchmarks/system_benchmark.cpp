// The whole system on the simulated machine (keyboard list, HID reader,
// driver link, dispatcher), measured in the same run as the bare event
// wake-up of dispatch_benchmark.cpp:
//   - a Consumer-Control report on the keyboard's interface -> the layer-mode
//     call at the driver (the reader's wake-up, then the waiting benchmark
//     thread's: two wake-ups, like the ping-pong baseline);
//   - a burst of all 45 layer keys pressed back to back -> every text typed,
//     in slot order, none lost (checked: the benchmark fails otherwise);
//   - start-up (CreateSystemEvents and StartSystem: the key events, OpenKeyFilter,
//     ScanKeyboardInterfaces) with 1, 16 and 256 present HID interfaces, one
//     of them the keyboard;
//   - the heap the system holds with one keyboard attached, counted by the
//     simulated allocator (AllocZeroed blocks: the system's own; the
//     simulated machine's bookkeeping is not counted).
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "app/system.h"
#include "devices/keyboard_list.h"
#include "layer/driver_link.h"
#include "layer/key_map.h"
#include "platform/kernel.h"
#include "platform/sim/sim.h"
#include "platform/sim/sim_driver.h"
#include "platform/sim/sim_hid.h"
#include "platform/sim/sim_input.h"
#include "platform/sim/sim_trace.h"

namespace {

namespace sim = platform::sim;
using namespace tavlo;

constexpr size_t kClearEvery = 4096;

// The system as the main window starts it, with one keyboard attached.
struct RunningSystem {
  RunningSystem() {
    sim::ResetMachine();
    kb = sim::AttachModelKeyboard();
    CreateSystemEvents();
    StartSystem(nullptr);
    sim::WaitForQuiescence();
    ok = DeviceList.Count == 1 && DispatcherThread() != nullptr;
    sim::ClearControlCalls();
    sim::ClearSentInputs();
    sim::ClearTrace();
  }
  ~RunningSystem() {
    StopSystem();
    CloseSystemEvents();
    sim::DetachModelKeyboard(kb);
    sim::ResetMachine();
  }
  sim::ModelKeyboardPaths kb;
  bool ok = false;
};

void BM_ConsumerReportToModeCall(benchmark::State& state) {
  RunningSystem system;
  if (!system.ok) {
    state.SkipWithError("the system did not start");
    return;
  }
  const std::vector<uint8_t> reports[2] = {{0x01, 0xFE, 0x00}, {0x01, 0x00, 0x00}};
  size_t calls = 0;
  for (auto _ : state) {
    sim::PushInputReport(system.kb.consumerControl, reports[calls & 1]);
    if (!sim::WaitForControlCallCount(++calls)) {
      state.SkipWithError("a report sent no layer-mode call");
      break;
    }
    if (calls == kClearEvery) {
      state.PauseTiming();
      sim::WaitForQuiescence();
      sim::ClearControlCalls();
      sim::ClearTrace();
      calls = 0;
      state.ResumeTiming();
    }
  }
}

void BM_BurstOf45Keys(benchmark::State& state) {
  RunningSystem system;
  if (!system.ok) {
    state.SkipWithError("the system did not start");
    return;
  }
  sim::PressScanCode(kLayerKeyScanCode);
  sim::WaitForQuiescence();
  std::u16string expected;
  for (int slot = 0; slot < kCharacterKeyCount; ++slot) expected += ChooseLayerText(slot, false, false);
  sim::ClearSentInputs();
  for (auto _ : state) {
    for (int slot = 0; slot < kCharacterKeyCount; ++slot) sim::PressScanCode(LayerKeyMap[slot].ScanCode);
    sim::WaitForSentInputCount(2 * expected.size());  // a key-down and a key-up per code unit
    state.PauseTiming();
    sim::WaitForQuiescence();
    const std::u16string typed = sim::TypedText();
    sim::ClearSentInputs();
    sim::ClearTrace();
    state.ResumeTiming();
    if (typed != expected) {
      state.SkipWithError(typed.size() < expected.size() ? "keys of the burst were lost"
                                                         : "the burst was typed out of order or wrongly");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * kCharacterKeyCount);
}

void BM_StartUp(benchmark::State& state) {
  sim::ResetMachine();
  const int present = static_cast<int>(state.range(0));
  for (int i = 0; i < present - 1; ++i) {
    const auto product = static_cast<uint16_t>(i);
    sim::AddHidInterface(
        sim::GenericHidInterface(sim::HidInterfacePath(0x046D, product, 0, i % 4), 0x046D, product, 1, 2));
  }
  // The keyboard's Consumer-Control collection, last in the enumeration.
  sim::AddHidInterface(sim::ModelConsumerControl());
  const std::u16string keyboard = sim::ModelConsumerControl().path;
  for (auto _ : state) {
    CreateSystemEvents();
    StartSystem(nullptr);
    state.PauseTiming();
    const bool ok = DeviceList.Count == 1 && DispatcherThread() != nullptr;
    StopSystem();
    CloseSystemEvents();
    sim::WaitForAllThreadsEnded();
    sim::ClearControlCalls();
    sim::ClearTrace();
    state.ResumeTiming();
    if (!ok) {
      state.SkipWithError("the keyboard was not listed or the dispatcher did not start");
      break;
    }
  }
  state.counters["interfaces"] = present;
  sim::ResetMachine();
}

void BM_HeapWithOneKeyboard(benchmark::State& state) {
  long bytes = 0;
  long blocks = 0;
  for (auto _ : state) {
    sim::ResetMachine();
    const sim::ModelKeyboardPaths kb = sim::AttachModelKeyboard();
    const long bytesBefore = sim::LiveBlockBytes();
    const long blocksBefore = sim::LiveBlockCount();
    CreateSystemEvents();
    StartSystem(nullptr);
    sim::WaitForQuiescence();
    bytes = sim::LiveBlockBytes() - bytesBefore;
    blocks = sim::LiveBlockCount() - blocksBefore;
    const bool ok = DeviceList.Count == 1;
    StopSystem();
    CloseSystemEvents();
    sim::DetachModelKeyboard(kb);
    if (!ok) {
      state.SkipWithError("the keyboard was not listed");
      break;
    }
    if (sim::LiveBlockBytes() != bytesBefore) {
      state.SkipWithError("heap bytes left after shutdown");
      break;
    }
  }
  state.counters["heap_bytes"] = static_cast<double>(bytes);
  state.counters["heap_blocks"] = static_cast<double>(blocks);
  sim::ResetMachine();
}

}  // namespace

BENCHMARK(BM_ConsumerReportToModeCall)->UseRealTime()->MeasureProcessCPUTime();
BENCHMARK(BM_BurstOf45Keys)->UseRealTime()->MeasureProcessCPUTime();
BENCHMARK(BM_StartUp)->Arg(1)->Arg(16)->Arg(256)->UseRealTime()->MeasureProcessCPUTime();
BENCHMARK(BM_HeapWithOneKeyboard)->Iterations(3);
