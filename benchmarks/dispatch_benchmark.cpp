// The dispatcher's latency on the simulated machine, each path against a bare
// event wake-up between two threads measured in the same run:
//   - key event signalled -> its text in the input stream;
//   - layer-key event signalled -> the layer-mode call at the driver.
// Both paths are two thread wake-ups (the dispatcher's, then the waiting
// benchmark thread's), like the ping-pong baseline; what they add over it is
// the system's own work. Compare each with BM_EventPingPong.
#include <benchmark/benchmark.h>

#include <atomic>

#include "benchmarks/event_ping_pong.h"
#include "layer/driver_link.h"
#include "platform/kernel.h"
#include "platform/sim/sim.h"
#include "platform/sim/sim_driver.h"
#include "platform/sim/sim_input.h"
#include "platform/sim/sim_trace.h"

namespace {

namespace sim = platform::sim;

constexpr int kClearEvery = 4096;

void BM_EventPingPong(benchmark::State& state) { tavlo::bench::RunEventPingPong(state); }

// The link running with the layer on, as while the layer key is held.
struct RunningLink {
  RunningLink() {
    sim::ResetMachine();
    tavlo::CreateKeyEvents();
    tavlo::OpenKeyFilter(nullptr);
    sim::WaitForQuiescence();
    sim::PressScanCode(tavlo::kLayerKeyScanCode);
    sim::WaitForQuiescence();
    sim::ClearControlCalls();
    sim::ClearTrace();
  }
  ~RunningLink() {
    tavlo::CloseKeyFilter();
    tavlo::CloseKeyEvents();
  }
};

void BM_KeyEventToInput(benchmark::State& state) {
  RunningLink link;
  const uint8_t scanG = tavlo::LayerKeyMap[6].ScanCode;
  size_t typed = 0;
  for (auto _ : state) {
    sim::PressScanCode(scanG);
    sim::WaitForSentInputCount(2 * ++typed);  // the key-down and its key-up
    if (typed == kClearEvery) {
      state.PauseTiming();
      sim::ClearSentInputs();
      sim::ClearTrace();
      typed = 0;
      state.ResumeTiming();
    }
  }
}

void BM_LayerKeyToModeCall(benchmark::State& state) {
  RunningLink link;
  size_t calls = 0;
  for (auto _ : state) {
    sim::PressScanCode(tavlo::kLayerKeyScanCode);
    sim::WaitForControlCallCount(++calls);
    if (calls == kClearEvery) {
      state.PauseTiming();
      sim::ClearControlCalls();
      sim::ClearTrace();
      calls = 0;
      state.ResumeTiming();
    }
  }
}

}  // namespace

// CPU time is that of the whole process: the woken threads' work counts.
BENCHMARK(BM_EventPingPong)->UseRealTime()->MeasureProcessCPUTime();
BENCHMARK(BM_KeyEventToInput)->UseRealTime()->MeasureProcessCPUTime();
BENCHMARK(BM_LayerKeyToModeCall)->UseRealTime()->MeasureProcessCPUTime();
