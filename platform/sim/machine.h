// The simulated machine's core, shared by every simulated area: one lock over
// the whole machine, the handle table, waitable objects with Win32 wait
// semantics, the count of running system threads (for quiescence), call
// counting with failure injection, and leak accounting.
//
// Areas add their own object kinds by deriving from Object; everything below
// marked "Locked" must be called with MachineMutex() held.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/kernel.h"

namespace platform::sim {

std::mutex& MachineMutex();

struct Waiter;

struct Object {
  virtual ~Object() = default;
  // Called (lock held) when the last handle to the object is closed.
  virtual void OnLastHandleClosedLocked() {}
  int handleCount = 0;
};

// An object a thread can wait on: events and threads.
struct Waitable : Object {
  bool manualReset = true;
  bool signalled = false;
  std::vector<Waiter*> waiters;  // in arrival order
};

struct EventObject : Waitable {};

struct ThreadObject : Waitable {
  uint32_t exitCode = kStillActive;
  bool ended = false;
};

// Adds a handle for the object; returns the new handle value.
Handle AddHandleLocked(std::shared_ptr<Object> object);
// Looks a handle up. A null, invalid, never-issued or closed handle gives
// null; a closed handle is also counted as a use of a closed handle.
std::shared_ptr<Object> LookupLocked(Handle handle);
template <typename T>
std::shared_ptr<T> LookupAsLocked(Handle handle) {
  return std::dynamic_pointer_cast<T>(LookupLocked(handle));
}

// Sets a waitable to signalled and releases waiters as Win32 does: an
// auto-reset object releases one waiter and is consumed by it.
void SignalLocked(Waitable& object);

// The calling thread may block; used by areas that block outside the event
// model (none at present besides waits).
void NotifyLocked();

// A thread outside the system (a test's, the runner's) blocks in a wait of
// the machine, and wakes again: while one is blocked, the threads held back
// by ordered thread starts may start (sim.h). Every wait of the machine that
// such a thread can make calls these, with the lock held.
void OutsiderBlocksLocked();
void OutsiderWakesLocked();

// Failure injection and call counting. Every fallible simulated call asks
// ShouldFail with its name first; a true answer means "fail this call".
bool ShouldFail(const char* call);
bool ShouldFailLocked(const char* call);

// Registers a function run by ResetMachine (lock not held), for areas with
// state of their own.
void RegisterResetHook(std::function<void()> hook);
// The one way an area registers its reset: a static of the area's file,
//   const ResetRegistration g_reset([] { ... });
struct ResetRegistration {
  explicit ResetRegistration(std::function<void()> hook) { RegisterResetHook(std::move(hook)); }
};

}  // namespace platform::sim
