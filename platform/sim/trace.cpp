// The outside-world trace of the simulated machine.
#include <mutex>

#include "platform/sim/machine.h"
#include "platform/sim/sim_trace.h"

namespace platform::sim {

namespace {

std::vector<std::string>& Lines() {
  static auto* lines = new std::vector<std::string>();
  return *lines;
}

const ResetRegistration g_reset([] {
  std::lock_guard<std::mutex> lock(MachineMutex());
  Lines().clear();
});

}  // namespace

std::vector<std::string> TraceLines() {
  std::lock_guard<std::mutex> lock(MachineMutex());
  return Lines();
}

void ClearTrace() {
  std::lock_guard<std::mutex> lock(MachineMutex());
  Lines().clear();
}

void TraceLocked(std::string line) { Lines().push_back(std::move(line)); }


}  // namespace platform::sim
