// Kernel objects on real Win32.
#include <windows.h>

#include "platform/kernel.h"
#include "platform/trace.h"

namespace platform {

static_assert(sizeof(Handle) == sizeof(HANDLE), "handle width");
static_assert(kInfinite == INFINITE && kWaitTimeout == WAIT_TIMEOUT && kWaitFailed == WAIT_FAILED, "wait codes");
static_assert(kMaximumWaitObjects == MAXIMUM_WAIT_OBJECTS, "wait limit");
static_assert(kStillActive == STILL_ACTIVE, "exit code");
static_assert(kErrorInvalidData == ERROR_INVALID_DATA, "error code");

uint32_t LastError() { return ::GetLastError(); }
void SetLastError(uint32_t code) { ::SetLastError(code); }

Handle CreateEventObject(bool manualReset, bool initialState) {
  return ::CreateEventW(nullptr, manualReset ? TRUE : FALSE, initialState ? TRUE : FALSE, nullptr);
}
bool SetEvent(Handle event) { return ::SetEvent(event) != FALSE; }
bool ResetEvent(Handle event) { return ::ResetEvent(event) != FALSE; }

uint32_t WaitForAny(uint32_t count, const Handle* handles, uint32_t timeoutMs) {
  return ::WaitForMultipleObjects(count, handles, FALSE, timeoutMs);
}
uint32_t WaitForOne(Handle handle, uint32_t timeoutMs) { return ::WaitForSingleObject(handle, timeoutMs); }

bool CloseHandle(Handle handle) { return ::CloseHandle(handle) != FALSE; }

namespace {
struct ThreadStart {
  ThreadProc proc;
  void* parameter;
};
DWORD WINAPI ThreadTrampoline(LPVOID raw) {
  ThreadStart start = *static_cast<ThreadStart*>(raw);
  ::HeapFree(::GetProcessHeap(), 0, raw);
  return start.proc(start.parameter);
}
}  // namespace

Handle CreateThread(ThreadProc proc, void* parameter) {
  auto* start = static_cast<ThreadStart*>(::HeapAlloc(::GetProcessHeap(), 0, sizeof(ThreadStart)));
  if (!start) return nullptr;
  start->proc = proc;
  start->parameter = parameter;
  HANDLE thread = ::CreateThread(nullptr, 0, ThreadTrampoline, start, 0, nullptr);
  if (!thread) ::HeapFree(::GetProcessHeap(), 0, start);
  return thread;
}

bool GetThreadExitCode(Handle thread, uint32_t* exitCode) {
  DWORD code = 0;
  if (!exitCode || !::GetExitCodeThread(thread, &code)) return false;
  *exitCode = code;
  return true;
}

void Sleep(uint32_t milliseconds) { ::Sleep(milliseconds); }

Handle OpenNamedMutex(const char16_t* name) {
  return ::OpenMutexW(MUTEX_ALL_ACCESS, FALSE, reinterpret_cast<const wchar_t*>(name));
}

Handle CreateNamedMutex(const char16_t* name, bool initialOwner, bool* alreadyExisted) {
  HANDLE mutex = ::CreateMutexW(nullptr, initialOwner ? TRUE : FALSE, reinterpret_cast<const wchar_t*>(name));
  const DWORD error = ::GetLastError();
  if (alreadyExisted) *alreadyExisted = mutex != nullptr && error == ERROR_ALREADY_EXISTS;
  ::SetLastError(error);
  return mutex;
}

// A failed allocation is reported here, for every caller (HeapAlloc sets no
// last error).
void* AllocZeroed(size_t bytes) {
  void* block = ::HeapAlloc(::GetProcessHeap(), HEAP_ZERO_MEMORY, bytes ? bytes : 1);
  if (!block) TraceFailure(u"HeapAlloc", nullptr, kErrorNotEnoughMemory);
  return block;
}
void* ReallocZeroed(void* block, size_t bytes) {
  if (!block) return AllocZeroed(bytes);
  void* grown = ::HeapReAlloc(::GetProcessHeap(), HEAP_ZERO_MEMORY, block, bytes ? bytes : 1);
  if (!grown) TraceFailure(u"HeapReAlloc", nullptr, kErrorNotEnoughMemory);
  return grown;
}
void FreeBlock(void* block) {
  if (block) ::HeapFree(::GetProcessHeap(), 0, block);
}

Lock::Lock() {
  static_assert(sizeof(CRITICAL_SECTION) <= sizeof(storage_), "lock storage too small");
  ::InitializeCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_));
}
Lock::~Lock() { ::DeleteCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_)); }
void Lock::Enter() { ::EnterCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_)); }
void Lock::Leave() { ::LeaveCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_)); }

}  // namespace platform
