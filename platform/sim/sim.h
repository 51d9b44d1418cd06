// Controls of the simulated machine for tests and the simulation runner.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/kernel.h"

namespace platform::sim {

// Forgets all failure plans and counters and runs every area's reset. Call
// only when no system thread runs.
void ResetMachine();

// Blocks until every system thread (those made by platform::CreateThread) is
// blocked in a wait that nothing can satisfy yet, or has ended. Returns false
// if that did not happen within the timeout.
bool WaitForQuiescence(uint32_t timeoutMs = 10000);
// Blocks until every system thread has ended.
bool WaitForAllThreadsEnded(uint32_t timeoutMs = 10000);

// Ordered thread starts, for tests that need the same calls in the same
// order run after run (the fault walk). While on, a thread made by
// CreateThread does not start at once: it is held until no system thread
// runs and a thread outside the system (the test's) is blocked in one of the
// machine's waits (a wait on a kernel object, WaitForQuiescence,
// WaitForAllThreadsEnded, the Wait... controls of the other areas). Held
// threads then start one at a time, in creation order, each once the ones
// before it have blocked in a wait or ended.
//
// Windows may start a new thread that late; the mode picks that one order,
// so races between a new thread and its creator are left to the soak tests.
// A creator that waits for a held thread (for its end, say) lets it start:
// no wait hangs on the gate. A thread in Sleep, in SendInput held by
// HoldInput, or waiting for a Lock counts as running and keeps the next
// thread held until it blocks in a wait or ends. Off after ResetMachine;
// turning it off starts every held thread at once.
void SetOrderedThreadStarts(bool on);

// Accounting, for leak and misuse checks.
int OpenHandleCount();
int LiveThreadCount();
int RunningThreadCount();
long LiveBlockCount();
// Bytes asked for by the live blocks of AllocZeroed/ReallocZeroed (the
// system's own heap; the simulated machine's bookkeeping is not counted).
long LiveBlockBytes();
// The most LiveBlockBytes has been since ResetPeakBlockBytes (or the last
// ResetMachine): what a piece of the system cost at its height, also when it
// gave the memory back before returning.
long PeakBlockBytes();
void ResetPeakBlockBytes();
// Calls that named a handle after it was closed.
long UseOfClosedHandleCount();
// Wait calls made by any thread: an idle system makes none.
long WaitCallCount();

// Named mutexes. A mutex exists while a handle to it is open or while
// another launch (outside the system) holds it.
void SetForeignMutex(const std::u16string& name, bool held);
bool NamedMutexExists(const std::u16string& name);
// Two launches racing: the next OpenNamedMutex of `name` finds nothing, and
// another launch creates the mutex (and holds it) right after that open.
void RaceNextMutexOpen(const std::u16string& name);

// Failure injection.
//
// Every fallible call of the machine, by the name FailCall and FailAlways
// take: the Win32 function it stands for (the one the system names when it
// reports the failure) and whether the fault walk (FailNthFallibleCall)
// counts it. The calls the walk leaves out fail only when a test names them:
// a failing SetEvent, CancelIo or GetOverlappedResult has no road back that
// the system could take on its own. A name not in the list is a mistake in
// the test: FailCall and FailAlways throw std::invalid_argument for it.
struct FallibleCall {
  const char* name;
  const char* win32;
  bool walked;
};
const std::vector<FallibleCall>& FallibleCalls();
// The list's entry for a name, or null.
const FallibleCall* FindFallibleCall(const std::string& name);

// Fails the n-th call (1 = the next one) of the named operation from now on,
// setting the given error code.
void FailCall(const std::string& call, int nth = 1, uint32_t error = kErrorNotEnoughMemory);
// Fails every call of the named operation until cleared.
void FailAlways(const std::string& call, uint32_t error = kErrorNotEnoughMemory);
void ClearFailures();
// Walk mode: counts every walked fallible call of the whole machine from now
// on and fails the k-th one (k >= 1), or none with 0.
void FailNthFallibleCall(long k, uint32_t error = kErrorNotEnoughMemory);
long FallibleCallCount();
// One walked call (FallibleCall::walked) and the thread that made it: 0 for a
// thread not made by CreateThread (the test's), n for the n-th thread that
// CreateThread made since ResetMachine.
struct FallibleCallRecord {
  std::string call;
  int thread;
};
// The walked calls since FailNthFallibleCall, in the order they were made;
// FallibleCallCount of them. Logged from FailNthFallibleCall until
// ResetMachine.
std::vector<FallibleCallRecord> FallibleCallLog();
// Whether the planned failure was reached.
bool PlannedFailureHit();
// The name of the call the walk failed ("" until it was reached).
std::string PlannedFailureCall();

}  // namespace platform::sim
