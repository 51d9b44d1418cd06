// The simulated machine's record of what the system did to the outside world,
// one line per action, in order: the driver's open, control calls and close,
// message boxes, synthesized input, and the debug output. The simulation runner prints it.
#pragma once

#include <string>
#include <vector>

namespace platform::sim {

// Every line recorded since the last reset or ClearTrace.
std::vector<std::string> TraceLines();
void ClearTrace();

// For simulated areas (machine lock held): appends one line.
void TraceLocked(std::string line);

// The system's failure reports (platform/trace.h) stand in the trace as
// "debug Tavlo: ..."; DebugLines gives them without the prefix, in order.
constexpr char kDebugLinePrefix[] = "debug ";
std::vector<std::string> DebugLines();

}  // namespace platform::sim
