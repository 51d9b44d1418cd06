// The baseline every latency is compared with: a bare event wake-up between
// two threads, one signalling and the other waking and signalling back.
// Each benchmark program measures it in its own run.
#pragma once

#include <benchmark/benchmark.h>

#include <atomic>

#include "platform/kernel.h"
#include "platform/sim/sim.h"

namespace tavlo::bench {

struct PingPong {
  platform::Handle ping;
  platform::Handle pong;
  std::atomic<bool> stop{false};
};

inline uint32_t Echo(void* raw) {
  auto* p = static_cast<PingPong*>(raw);
  for (;;) {
    platform::WaitForOne(p->ping, platform::kInfinite);
    if (p->stop.load()) return 0;
    platform::SetEvent(p->pong);
  }
}

inline void RunEventPingPong(benchmark::State& state) {
  platform::sim::ResetMachine();
  PingPong p;
  p.ping = platform::CreateEventObject(false, false);
  p.pong = platform::CreateEventObject(false, false);
  platform::Handle thread = platform::CreateThread(Echo, &p);
  platform::sim::WaitForQuiescence();
  for (auto _ : state) {
    platform::SetEvent(p.ping);
    platform::WaitForOne(p.pong, platform::kInfinite);
  }
  p.stop = true;
  platform::SetEvent(p.ping);
  platform::WaitForOne(thread, platform::kInfinite);
  platform::CloseHandle(thread);
  platform::CloseHandle(p.ping);
  platform::CloseHandle(p.pong);
}

}  // namespace tavlo::bench
