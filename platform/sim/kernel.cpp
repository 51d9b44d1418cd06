// Simulated kernel objects. Real std::threads and real blocking waits; no
// polling. One machine-wide mutex orders everything.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <new>
#include <stdexcept>
#include <thread>
#include <unordered_map>

#include "platform/kernel.h"
#include "platform/sim/machine.h"
#include "platform/sim/sim.h"
#include "platform/trace.h"

namespace platform::sim {

struct Waiter {
  std::vector<std::shared_ptr<Waitable>> objects;
  int result = -1;  // index satisfied, -1 while waiting
  bool systemThread = false;
  std::condition_variable cv;
};

namespace {

// A thread made by CreateThread, from its creation until it ends.
struct ThreadStart {
  ThreadProc proc = nullptr;
  void* parameter = nullptr;
  std::shared_ptr<ThreadObject> thread;
  int number = 0;        // its place in creation order since ResetMachine, from 1
  bool started = false;  // may run its procedure (held back in ordered mode)
  std::condition_variable go;
};

struct Machine {
  std::mutex mutex;
  std::condition_variable stateChanged;  // threads blocked, ended, released
  std::unordered_map<uintptr_t, std::shared_ptr<Object>> handles;
  std::unordered_map<uintptr_t, bool> closedHandles;
  uintptr_t nextHandle = 0x100;
  int runningThreads = 0;
  int liveThreads = 0;
  int threadsCreated = 0;  // since reset; numbers the threads
  // Threads not made by CreateThread (the test's, the runner's) that are
  // blocked in a wait of the machine or in WaitForQuiescence and the like.
  int blockedOutsiders = 0;
  // Ordered thread starts: threads made while on, not started yet, in
  // creation order.
  bool orderedStarts = false;
  std::deque<ThreadStart*> held;
  long useOfClosedHandle = 0;
  long waitCalls = 0;

  // Failure plans.
  struct Plan {
    int remaining;  // fail when this reaches 1; 0 = always
    uint32_t error;
  };
  std::multimap<std::string, Plan> plans;
  long failAt = 0;
  uint32_t failAtError = 0;
  long fallibleCalls = 0;
  // The walked calls since FailNthFallibleCall (kept from then until
  // ResetMachine only, so that long runs do not grow it): the name from
  // FallibleCalls() and the calling thread's number.
  bool logCalls = false;
  std::vector<std::pair<const char*, int>> callLog;
  bool plannedHit = false;
  std::string plannedCall;  // the call the walk failed

  std::vector<std::function<void()>> resetHooks;

  // Named mutexes: handles open to each, and whether another launch holds it.
  struct NamedMutex {
    int handles = 0;
    bool foreign = false;
  };
  std::map<std::u16string, NamedMutex> mutexes;
  std::u16string raceOnOpen;     // the next open of this name loses a race
  unsigned mutexGeneration = 0;  // handles from before a reset count no more
};

Machine& M() {
  static Machine* machine = new Machine();  // never destroyed: detached threads may outlive main
  return *machine;
}

std::atomic<long> g_liveBlocks{0};
std::atomic<long> g_liveBlockBytes{0};
std::atomic<long> g_peakBlockBytes{0};

// The live bytes grew by `added` (may be negative): the peak follows.
void AddLiveBytes(long added) {
  const long now = g_liveBlockBytes += added;
  long peak = g_peakBlockBytes.load();
  while (now > peak && !g_peakBlockBytes.compare_exchange_weak(peak, now)) {
  }
}
thread_local uint32_t t_lastError = 0;
// Only threads made by CreateThread count towards quiescence.
thread_local bool t_systemThread = false;
// 0 outside the system, else the thread's place in creation order.
thread_local int t_threadNumber = 0;

void RemoveWaiterLocked(Waiter& waiter) {
  for (auto& object : waiter.objects) {
    auto& list = object->waiters;
    for (size_t i = 0; i < list.size(); ++i) {
      if (list[i] == &waiter) {
        list.erase(list.begin() + static_cast<long>(i));
        break;
      }
    }
  }
}

// Ordered thread starts: the oldest held thread starts once no system
// thread runs and an outside thread is blocked (it may be waiting for that
// very thread). Called wherever either count falls.
void StartNextHeldLocked() {
  Machine& m = M();
  if (m.held.empty() || m.runningThreads > 0 || m.blockedOutsiders == 0) return;
  ThreadStart* start = m.held.front();
  m.held.pop_front();
  start->started = true;
  m.runningThreads++;
  start->go.notify_one();
}

void StartAllHeldLocked() {
  Machine& m = M();
  for (ThreadStart* start : m.held) {
    start->started = true;
    m.runningThreads++;
    start->go.notify_one();
  }
  m.held.clear();
}

}  // namespace

void OutsiderBlocksLocked() {
  M().blockedOutsiders++;
  StartNextHeldLocked();
}
void OutsiderWakesLocked() { M().blockedOutsiders--; }

std::mutex& MachineMutex() { return M().mutex; }

Handle AddHandleLocked(std::shared_ptr<Object> object) {
  Machine& m = M();
  const uintptr_t value = m.nextHandle;
  m.nextHandle += 4;
  object->handleCount++;
  m.handles.emplace(value, std::move(object));
  return reinterpret_cast<Handle>(value);
}

std::shared_ptr<Object> LookupLocked(Handle handle) {
  Machine& m = M();
  const auto value = reinterpret_cast<uintptr_t>(handle);
  auto it = m.handles.find(value);
  if (it != m.handles.end()) return it->second;
  if (m.closedHandles.count(value)) m.useOfClosedHandle++;
  return nullptr;
}

void SignalLocked(Waitable& object) {
  object.signalled = true;
  while (object.signalled && !object.waiters.empty()) {
    Waiter* waiter = object.waiters.front();
    int index = -1;
    for (size_t i = 0; i < waiter->objects.size(); ++i) {
      if (waiter->objects[i].get() == &object) {
        index = static_cast<int>(i);
        break;
      }
    }
    RemoveWaiterLocked(*waiter);
    waiter->result = index;
    if (waiter->systemThread) {
      M().runningThreads++;
    } else {
      OutsiderWakesLocked();
    }
    waiter->cv.notify_one();
    if (!object.manualReset) object.signalled = false;
  }
}

void NotifyLocked() { M().stateChanged.notify_all(); }

const std::vector<FallibleCall>& FallibleCalls() {
  static const std::vector<FallibleCall> calls = {
      {"AllocZeroed", "HeapAlloc", true},
      {"ReallocZeroed", "HeapReAlloc", true},
      {"CreateEvent", "CreateEventW", true},
      {"SetEvent", "SetEvent", false},
      {"WaitForMultipleObjects", "WaitForMultipleObjects", true},
      {"CreateThread", "CreateThread", true},
      {"CreateMutex", "CreateMutexW", true},
      {"OpenControlDevice", "CreateFileW", true},
      {"DeviceIoControl", "DeviceIoControl", true},
      {"MessageBox", "MessageBoxW", true},
      {"CreateFile", "CreateFileW", true},
      {"ReadFile", "ReadFile", true},
      {"GetOverlappedResult", "GetOverlappedResult", false},
      {"CancelIo", "CancelIo", false},
      {"HidD_GetPreparsedData", "HidD_GetPreparsedData", true},
      {"HidD_GetAttributes", "HidD_GetAttributes", true},
      {"HidD_FlushQueue", "HidD_FlushQueue", true},
      {"HidP_GetCaps", "HidP_GetCaps", true},
      {"HidP_GetSpecificButtonCaps", "HidP_GetSpecificButtonCaps", true},
      {"HidP_GetSpecificValueCaps", "HidP_GetSpecificValueCaps", true},
      {"SetupDiGetClassDevs", "SetupDiGetClassDevsW", true},
      {"SetupDiEnumDeviceInterfaces", "SetupDiEnumDeviceInterfaces", true},
      {"SetupDiGetDeviceInterfaceDetail", "SetupDiGetDeviceInterfaceDetailW", true},
      {"GetKeyState", "GetKeyState", true},
      {"SendInput", "SendInput", true},
      {"OpenProcess", "OpenProcess", true},
      {"GetProcessImageFileName", "GetProcessImageFileNameW", true},
      {"GetLogicalDriveStrings", "GetLogicalDriveStringsW", true},
      {"QueryDosDevice", "QueryDosDeviceW", true},
      {"PostMessage", "PostMessageW", true},
  };
  return calls;
}

const FallibleCall* FindFallibleCall(const std::string& name) {
  for (const FallibleCall& call : FallibleCalls())
    if (name == call.name) return &call;
  return nullptr;
}

namespace {
const FallibleCall& KnownCall(const std::string& name) {
  const FallibleCall* call = FindFallibleCall(name);
  if (!call) throw std::invalid_argument("no fallible call of the simulated machine is named \"" + name + "\"");
  return *call;
}
}  // namespace

bool ShouldFailLocked(const char* call) {
  Machine& m = M();
  const FallibleCall* known = FindFallibleCall(call);
  if (!known) {
    std::fprintf(stderr, "simulated machine: fallible call \"%s\" is missing from FallibleCalls()\n", call);
    std::abort();
  }
  if (known->walked) {
    m.fallibleCalls++;
    if (m.logCalls) m.callLog.emplace_back(known->name, t_threadNumber);
  }
  if (known->walked && m.failAt > 0 && m.fallibleCalls == m.failAt) {
    m.plannedHit = true;
    m.plannedCall = call;
    t_lastError = m.failAtError;
    return true;
  }
  auto range = m.plans.equal_range(call);
  for (auto it = range.first; it != range.second; ++it) {
    Machine::Plan& plan = it->second;
    if (plan.remaining == 0) {
      t_lastError = plan.error;
      m.plannedHit = true;
      return true;
    }
    if (plan.remaining == 1) {
      t_lastError = plan.error;
      m.plans.erase(it);
      m.plannedHit = true;
      return true;
    }
    plan.remaining--;
  }
  return false;
}

bool ShouldFail(const char* call) {
  std::lock_guard<std::mutex> lock(M().mutex);
  return ShouldFailLocked(call);
}

void RegisterResetHook(std::function<void()> hook) {
  std::lock_guard<std::mutex> lock(M().mutex);
  M().resetHooks.push_back(std::move(hook));
}

// ---- controls ----

void ResetMachine() {
  std::vector<std::function<void()>> hooks;
  {
    std::lock_guard<std::mutex> lock(M().mutex);
    Machine& m = M();
    m.plans.clear();
    m.failAt = 0;
    m.fallibleCalls = 0;
    m.logCalls = false;
    m.callLog.clear();
    m.plannedHit = false;
    m.useOfClosedHandle = 0;
    m.orderedStarts = false;
    StartAllHeldLocked();
    m.threadsCreated = 0;
    m.waitCalls = 0;
    m.raceOnOpen.clear();
    g_peakBlockBytes = g_liveBlockBytes.load();
    m.mutexes.clear();  // handles still open to them no longer count
    m.mutexGeneration++;
    hooks = m.resetHooks;
  }
  for (auto& hook : hooks) hook();
}

namespace {
// Blocks the calling outside thread until `done` holds; held threads start
// meanwhile.
template <typename Done>
bool WaitAsOutsider(uint32_t timeoutMs, Done done) {
  std::unique_lock<std::mutex> lock(M().mutex);
  OutsiderBlocksLocked();
  const bool reached = M().stateChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs), done);
  OutsiderWakesLocked();
  return reached;
}
}  // namespace

bool WaitForQuiescence(uint32_t timeoutMs) {
  return WaitAsOutsider(timeoutMs, [] { return M().runningThreads == 0 && M().held.empty(); });
}

bool WaitForAllThreadsEnded(uint32_t timeoutMs) {
  return WaitAsOutsider(timeoutMs, [] { return M().liveThreads == 0; });
}

void SetOrderedThreadStarts(bool on) {
  std::lock_guard<std::mutex> lock(M().mutex);
  M().orderedStarts = on;
  if (!on) StartAllHeldLocked();
}

int OpenHandleCount() {
  std::lock_guard<std::mutex> lock(M().mutex);
  return static_cast<int>(M().handles.size());
}
int LiveThreadCount() {
  std::lock_guard<std::mutex> lock(M().mutex);
  return M().liveThreads;
}
int RunningThreadCount() {
  std::lock_guard<std::mutex> lock(M().mutex);
  return M().runningThreads;
}
long LiveBlockCount() { return g_liveBlocks.load(); }
long LiveBlockBytes() { return g_liveBlockBytes.load(); }
long PeakBlockBytes() { return g_peakBlockBytes.load(); }
void ResetPeakBlockBytes() { g_peakBlockBytes = g_liveBlockBytes.load(); }
long UseOfClosedHandleCount() {
  std::lock_guard<std::mutex> lock(M().mutex);
  return M().useOfClosedHandle;
}
long WaitCallCount() {
  std::lock_guard<std::mutex> lock(M().mutex);
  return M().waitCalls;
}

void FailCall(const std::string& call, int nth, uint32_t error) {
  KnownCall(call);
  std::lock_guard<std::mutex> lock(M().mutex);
  M().plans.emplace(call, Machine::Plan{nth < 1 ? 1 : nth, error});
}
void FailAlways(const std::string& call, uint32_t error) {
  KnownCall(call);
  std::lock_guard<std::mutex> lock(M().mutex);
  M().plans.emplace(call, Machine::Plan{0, error});
}
void ClearFailures() {
  std::lock_guard<std::mutex> lock(M().mutex);
  M().plans.clear();
  M().failAt = 0;
}
void FailNthFallibleCall(long k, uint32_t error) {
  std::lock_guard<std::mutex> lock(M().mutex);
  M().failAt = k;
  M().failAtError = error;
  M().fallibleCalls = 0;
  M().logCalls = true;
  M().callLog.clear();
  M().plannedHit = false;
  M().plannedCall.clear();
}
std::vector<FallibleCallRecord> FallibleCallLog() {
  std::lock_guard<std::mutex> lock(M().mutex);
  std::vector<FallibleCallRecord> log;
  log.reserve(M().callLog.size());
  for (const auto& entry : M().callLog) log.push_back({entry.first, entry.second});
  return log;
}
long FallibleCallCount() {
  std::lock_guard<std::mutex> lock(M().mutex);
  return M().fallibleCalls;
}
void SetForeignMutex(const std::u16string& name, bool held) {
  std::lock_guard<std::mutex> lock(M().mutex);
  auto& mutexes = M().mutexes;
  mutexes[name].foreign = held;
  if (!held && mutexes[name].handles == 0) mutexes.erase(name);
}
bool NamedMutexExists(const std::u16string& name) {
  std::lock_guard<std::mutex> lock(M().mutex);
  return M().mutexes.count(name) != 0;
}
void RaceNextMutexOpen(const std::u16string& name) {
  std::lock_guard<std::mutex> lock(M().mutex);
  M().raceOnOpen = name;
}

bool PlannedFailureHit() {
  std::lock_guard<std::mutex> lock(M().mutex);
  return M().plannedHit;
}
std::string PlannedFailureCall() {
  std::lock_guard<std::mutex> lock(M().mutex);
  return M().plannedCall;
}

}  // namespace platform::sim

// ---- the platform operations ----

namespace platform {

using namespace platform::sim;

uint32_t LastError() { return t_lastError; }
void SetLastError(uint32_t code) { t_lastError = code; }

Handle CreateEventObject(bool manualReset, bool initialState) {
  std::lock_guard<std::mutex> lock(MachineMutex());
  if (ShouldFailLocked("CreateEvent")) return NullHandle();
  auto event = std::make_shared<EventObject>();
  event->manualReset = manualReset;
  event->signalled = initialState;
  return AddHandleLocked(event);
}

bool SetEvent(Handle handle) {
  std::lock_guard<std::mutex> lock(MachineMutex());
  if (ShouldFailLocked("SetEvent")) return false;
  auto event = LookupAsLocked<EventObject>(handle);
  if (!event) {
    t_lastError = kErrorInvalidHandle;
    return false;
  }
  SignalLocked(*event);
  return true;
}

bool ResetEvent(Handle handle) {
  std::lock_guard<std::mutex> lock(MachineMutex());
  auto event = LookupAsLocked<EventObject>(handle);
  if (!event) {
    t_lastError = kErrorInvalidHandle;
    return false;
  }
  event->signalled = false;
  return true;
}

namespace {
// WaitForMultipleObjects (fallible) and WaitForSingleObject (not: a wait for
// a thread's end has no failure road).
uint32_t Wait(const char* fallible, uint32_t count, const Handle* handles, uint32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(MachineMutex());
  Machine& m = M();
  m.waitCalls++;
  if (fallible && ShouldFailLocked(fallible)) return kWaitFailed;
  if (count == 0 || count > kMaximumWaitObjects || handles == nullptr) {
    t_lastError = kErrorInvalidParameter;
    return kWaitFailed;
  }
  Waiter waiter;
  waiter.objects.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    auto object = LookupAsLocked<Waitable>(handles[i]);
    if (!object) {
      t_lastError = kErrorInvalidHandle;
      return kWaitFailed;
    }
    waiter.objects.push_back(std::move(object));
  }
  for (uint32_t i = 0; i < count; ++i) {
    Waitable& object = *waiter.objects[i];
    if (object.signalled) {
      if (!object.manualReset) object.signalled = false;
      return kWaitObject0 + i;
    }
  }
  if (timeoutMs == 0) return kWaitTimeout;

  for (auto& object : waiter.objects) object->waiters.push_back(&waiter);
  waiter.systemThread = t_systemThread;
  if (waiter.systemThread) {
    m.runningThreads--;
    m.stateChanged.notify_all();
    StartNextHeldLocked();
  } else {
    OutsiderBlocksLocked();
  }
  // SignalLocked counts the thread as running again when it releases it.
  auto satisfied = [&] { return waiter.result >= 0; };
  if (timeoutMs == kInfinite) {
    waiter.cv.wait(lock, satisfied);
  } else if (!waiter.cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), satisfied)) {
    RemoveWaiterLocked(waiter);
    if (waiter.systemThread) {
      m.runningThreads++;
    } else {
      OutsiderWakesLocked();
    }
    return kWaitTimeout;
  }
  return kWaitObject0 + static_cast<uint32_t>(waiter.result);
}

}  // namespace

uint32_t WaitForAny(uint32_t count, const Handle* handles, uint32_t timeoutMs) {
  return Wait("WaitForMultipleObjects", count, handles, timeoutMs);
}
uint32_t WaitForOne(Handle handle, uint32_t timeoutMs) { return Wait(nullptr, 1, &handle, timeoutMs); }

bool CloseHandle(Handle handle) {
  std::lock_guard<std::mutex> lock(MachineMutex());
  Machine& m = M();
  const auto value = reinterpret_cast<uintptr_t>(handle);
  auto it = m.handles.find(value);
  if (it == m.handles.end()) {
    if (m.closedHandles.count(value)) m.useOfClosedHandle++;
    t_lastError = kErrorInvalidHandle;
    return false;
  }
  std::shared_ptr<Object> object = std::move(it->second);
  m.handles.erase(it);
  m.closedHandles[value] = true;
  if (--object->handleCount == 0) object->OnLastHandleClosedLocked();
  return true;
}

Handle CreateThread(ThreadProc proc, void* parameter) {
  std::unique_lock<std::mutex> lock(MachineMutex());
  if (ShouldFailLocked("CreateThread")) return NullHandle();
  auto thread = std::make_shared<ThreadObject>();
  thread->manualReset = true;
  Handle handle = AddHandleLocked(thread);
  Machine& m = M();
  m.liveThreads++;
  auto* start = new ThreadStart;
  start->proc = proc;
  start->parameter = parameter;
  start->thread = thread;
  start->number = ++m.threadsCreated;
  if (m.orderedStarts) {
    m.held.push_back(start);  // started by StartNextHeldLocked
    StartNextHeldLocked();
  } else {
    start->started = true;
    m.runningThreads++;
  }
  lock.unlock();
  std::thread([start] {
    t_systemThread = true;
    t_threadNumber = start->number;
    {
      std::unique_lock<std::mutex> held(MachineMutex());
      start->go.wait(held, [start] { return start->started; });
    }
    const uint32_t code = start->proc(start->parameter);
    std::lock_guard<std::mutex> guard(MachineMutex());
    start->thread->exitCode = code;
    start->thread->ended = true;
    SignalLocked(*start->thread);
    M().runningThreads--;
    M().liveThreads--;
    M().stateChanged.notify_all();
    StartNextHeldLocked();
    delete start;
  }).detach();
  return handle;
}

bool GetThreadExitCode(Handle handle, uint32_t* exitCode) {
  std::lock_guard<std::mutex> lock(MachineMutex());
  auto thread = LookupAsLocked<ThreadObject>(handle);
  if (!thread || !exitCode) {
    t_lastError = kErrorInvalidHandle;
    return false;
  }
  *exitCode = thread->exitCode;
  return true;
}

void Sleep(uint32_t milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

namespace {
struct MutexObject : Waitable {
  std::u16string name;
  unsigned generation = 0;
  void OnLastHandleClosedLocked() override {
    auto& mutexes = M().mutexes;
    auto it = mutexes.find(name);
    if (generation != M().mutexGeneration || it == mutexes.end()) return;
    if (--it->second.handles == 0 && !it->second.foreign) mutexes.erase(it);
  }
};

Handle AddMutexHandleLocked(const std::u16string& name) {
  auto object = std::make_shared<MutexObject>();
  object->name = name;
  object->generation = M().mutexGeneration;
  M().mutexes[name].handles++;
  return AddHandleLocked(object);
}
}  // namespace

Handle OpenNamedMutex(const char16_t* name) {
  std::lock_guard<std::mutex> lock(MachineMutex());
  Machine& m = M();
  const std::u16string key = name ? name : u"";
  if (!m.raceOnOpen.empty() && m.raceOnOpen == key) {
    // Not there yet at the open; the racing launch creates it just after.
    m.raceOnOpen.clear();
    m.mutexes[key].foreign = true;
    t_lastError = kErrorFileNotFound;
    return NullHandle();
  }
  if (m.mutexes.count(key) == 0) {
    t_lastError = kErrorFileNotFound;
    return NullHandle();
  }
  return AddMutexHandleLocked(key);
}

Handle CreateNamedMutex(const char16_t* name, bool initialOwner, bool* alreadyExisted) {
  (void)initialOwner;  // nothing waits on the mutex
  std::lock_guard<std::mutex> lock(MachineMutex());
  if (alreadyExisted) *alreadyExisted = false;
  if (ShouldFailLocked("CreateMutex")) return NullHandle();
  const std::u16string key = name ? name : u"";
  const bool existed = M().mutexes.count(key) != 0;
  if (alreadyExisted) *alreadyExisted = existed;
  t_lastError = existed ? kErrorAlreadyExists : kErrorSuccess;
  return AddMutexHandleLocked(key);
}

namespace {
// A header before each block keeps the size for ReallocZeroed.
struct BlockHeader {
  size_t size;
  size_t pad;
};
}  // namespace

// A failed allocation is reported here, as the Windows side does.
void* AllocZeroed(size_t bytes) {
  if (ShouldFail("AllocZeroed")) {
    TraceFailure(u"HeapAlloc", nullptr, kErrorNotEnoughMemory);
    return nullptr;
  }
  auto* header = static_cast<BlockHeader*>(std::calloc(1, sizeof(BlockHeader) + bytes));
  if (!header) {
    t_lastError = kErrorNotEnoughMemory;
    return nullptr;
  }
  header->size = bytes;
  g_liveBlocks++;
  AddLiveBytes(static_cast<long>(bytes));
  return header + 1;
}

void* ReallocZeroed(void* block, size_t bytes) {
  if (!block) return AllocZeroed(bytes);
  if (ShouldFail("ReallocZeroed")) {
    TraceFailure(u"HeapReAlloc", nullptr, kErrorNotEnoughMemory);
    return nullptr;
  }
  auto* old = static_cast<BlockHeader*>(block) - 1;
  const size_t oldSize = old->size;
  auto* header = static_cast<BlockHeader*>(std::realloc(old, sizeof(BlockHeader) + bytes));
  if (!header) {
    t_lastError = kErrorNotEnoughMemory;
    return nullptr;
  }
  if (bytes > oldSize) std::memset(reinterpret_cast<char*>(header + 1) + oldSize, 0, bytes - oldSize);
  header->size = bytes;
  AddLiveBytes(static_cast<long>(bytes) - static_cast<long>(oldSize));
  return header + 1;
}

void FreeBlock(void* block) {
  if (!block) return;
  g_liveBlocks--;
  AddLiveBytes(-static_cast<long>((static_cast<BlockHeader*>(block) - 1)->size));
  std::free(static_cast<BlockHeader*>(block) - 1);
}

Lock::Lock() {
  static_assert(sizeof(std::mutex) <= sizeof(storage_), "lock storage too small");
  new (storage_) std::mutex();
}
Lock::~Lock() { reinterpret_cast<std::mutex*>(storage_)->~mutex(); }
void Lock::Enter() { reinterpret_cast<std::mutex*>(storage_)->lock(); }
void Lock::Leave() { reinterpret_cast<std::mutex*>(storage_)->unlock(); }

}  // namespace platform
