// HID access on the simulated machine:
// - the time from an input report arriving to its callback, as a round trip
//   (report in, callback signals back), against a bare event wake-up between
//   two threads measured the same way in the same run;
// - the cost of enumerating 1, 64 and 1024 HID interfaces.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "benchmarks/event_ping_pong.h"
#include "hid/enumeration.h"
#include "hid/hid_device.h"
#include "hid/reader.h"
#include "platform/kernel.h"
#include "platform/sim/sim.h"
#include "platform/sim/sim_hid.h"

using namespace tavlo;
namespace sim = platform::sim;

namespace {

// Baseline: one thread signals, the other wakes and signals back.
void BM_BareEventWakeRoundTrip(benchmark::State& state) { tavlo::bench::RunEventPingPong(state); }
BENCHMARK(BM_BareEventWakeRoundTrip)->UseRealTime();

int32_t SignalBack(void* context, int32_t hasReport, const uint8_t*, uint32_t) {
  if (hasReport) platform::SetEvent(static_cast<platform::Handle>(context));
  return 0;
}

// A report pushed into the HID stack, read by the reader thread and handed to
// a callback that signals back.
void BM_ReportToCallbackRoundTrip(benchmark::State& state) {
  sim::ResetMachine();
  const auto paths = sim::AttachModelKeyboard();
  platform::Handle pong = platform::CreateEventObject(false, false);
  HidDevice device;
  if (!OpenForReading(device, paths.consumerControl.c_str()) || !StartReading(device, SignalBack, pong)) {
    state.SkipWithError("reader did not start");
    return;
  }
  sim::WaitForQuiescence();
  const std::vector<uint8_t> report = {0x01, 0xFE, 0x00};
  for (auto _ : state) {
    sim::PushInputReport(paths.consumerControl, report);
    platform::WaitForOne(pong, platform::kInfinite);
  }
  Destroy(device);
  platform::CloseHandle(pong);
  sim::DetachModelKeyboard(paths);
}
BENCHMARK(BM_ReportToCallbackRoundTrip)->UseRealTime();

void BM_EnumerateInterfaces(benchmark::State& state) {
  sim::ResetMachine();
  const int n = static_cast<int>(state.range(0));
  for (int i = 0; i < n; ++i) {
    const auto product = static_cast<uint16_t>(i);
    sim::AddHidInterface(
        sim::GenericHidInterface(sim::HidInterfacePath(0x046D, product, 0, i % 4), 0x046D, product, 1, 2));
  }
  HidDevice enumerator;
  for (auto _ : state) {
    if (!EnumerateInterfaces(enumerator) || enumerator.PathCount != n) state.SkipWithError("enumeration failed");
    FreePathList(enumerator);
  }
  Destroy(enumerator);
  state.SetComplexityN(n);
  state.SetItemsProcessed(state.iterations() * n);
  sim::ResetMachine();
}
BENCHMARK(BM_EnumerateInterfaces)->Arg(1)->Arg(64)->Arg(1024)->Complexity(benchmark::oN);

}  // namespace

BENCHMARK_MAIN();
