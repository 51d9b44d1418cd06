// The simulated machine's record of what the system did to the outside world,
// one line per action, in order: the driver's open, control calls and close,
// message boxes, and synthesized input. The simulation runner prints it.
#pragma once

#include <string>
#include <vector>

namespace platform::sim {

// Every line recorded since the last reset or ClearTrace.
std::vector<std::string> TraceLines();
void ClearTrace();

// For simulated areas (machine lock held): appends one line.
void TraceLocked(std::string line);

}  // namespace platform::sim
