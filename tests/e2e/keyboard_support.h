// What the keyboard end-to-end tests and the `make run` session need beside
// e2e_support.h: the layer-mode calls in the test filter driver's log, and
// what a process holds (threads, handles) as seen from outside it: Tavlo
// starts one reader thread per keyboard it lists, and an entry it drops
// closes the keyboard's handle and the reader's events.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "tests/driver/driver_control.h"

namespace e2e {

// The layer modes (the byte of each IOCTL_SET_LAYER_MODE call) in the log, in
// order; -1 for a call whose input is not exactly one byte.
std::vector<int> ModeCalls(const testdriver::Log& log);

// Reads the log and gives its mode calls; {-2} when the log cannot be read.
std::vector<int> ModeCalls(testdriver::TestDevice& device);

// Reads the log until it holds at least `count` mode calls or timeout_ms
// passed; the mode calls then.
std::vector<int> WaitForModeCalls(testdriver::TestDevice& device, size_t count, DWORD timeout_ms);

// Number of threads of process `pid` (Toolhelp snapshot); -1 on failure.
int ThreadCount(DWORD pid);

// Number of handles process `pid` holds (the system's handle list); -1 on
// failure.
int HandleCount(DWORD pid);

// Polls count(pid) every 10 ms until it equals `wanted` or timeout_ms
// passed; the last value read.
int WaitForCount(int (*count)(DWORD), DWORD pid, int wanted, DWORD timeout_ms);

}  // namespace e2e
