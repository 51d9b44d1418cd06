// The outside-world trace of the simulated machine.
#include <mutex>

#include "platform/sim/machine.h"
#include "platform/sim/sim_trace.h"
#include "platform/text.h"
#include "platform/trace.h"

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

std::vector<std::string> DebugLines() {
  std::vector<std::string> lines;
  for (const std::string& line : TraceLines())
    if (line.rfind(kDebugLinePrefix, 0) == 0) lines.push_back(line.substr(sizeof kDebugLinePrefix - 1));
  return lines;
}

}  // namespace platform::sim

namespace platform {

void WriteDebugLine(const char16_t* line) {
  std::string text = ToUtf8(line);
  if (!text.empty() && text.back() == '\n') text.pop_back();
  std::lock_guard<std::mutex> lock(sim::MachineMutex());
  sim::TraceLocked(sim::kDebugLinePrefix + text);
}

}  // namespace platform
