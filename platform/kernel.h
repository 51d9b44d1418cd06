// Kernel objects: handles, events, waits, threads, sleeps, locks and heap
// blocks. The Windows targets implement this with Win32 (platform/win32), the
// native targets with the simulated machine (platform/sim).
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// An opaque handle, pointer-sized as on Windows. Null and the invalid-handle
// value are distinct, and callers that may hold either test for both.
using Handle = void*;

inline Handle NullHandle() { return nullptr; }
inline Handle InvalidHandle() { return reinterpret_cast<Handle>(static_cast<intptr_t>(-1)); }
inline bool IsUsableHandle(Handle h) { return h != NullHandle() && h != InvalidHandle(); }

// Widens a handle value of `widthBits` bits (32 or 64) to 64 bits the way a
// 32-bit process passes a handle to a 64-bit kernel: sign-extended, so a
// 32-bit handle with bit 31 set fills the upper half with ones.
constexpr uint64_t SignExtendHandleValue(uint64_t value, unsigned widthBits) {
  if (widthBits >= 64) return value;
  const uint64_t mask = (uint64_t{1} << widthBits) - 1;
  const uint64_t sign = uint64_t{1} << (widthBits - 1);
  value &= mask;
  return (value & sign) ? (value | ~mask) : value;
}

// The handle as this process would hand it to the kernel in a 64-bit field.
inline uint64_t WidenHandle(Handle h) {
  return SignExtendHandleValue(static_cast<uint64_t>(reinterpret_cast<uintptr_t>(h)),
                               static_cast<unsigned>(sizeof(Handle) * 8));
}

// Wait results and constants, with Win32's values.
constexpr uint32_t kInfinite = 0xFFFFFFFFu;
constexpr uint32_t kWaitObject0 = 0x00000000u;
constexpr uint32_t kWaitTimeout = 0x00000102u;
constexpr uint32_t kWaitFailed = 0xFFFFFFFFu;
constexpr uint32_t kMaximumWaitObjects = 64;

// Error codes that the system or its tests look at.
constexpr uint32_t kErrorSuccess = 0;
constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kErrorNotEnoughMemory = 8;
constexpr uint32_t kErrorInvalidData = 13;
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorSharingViolation = 32;
constexpr uint32_t kErrorInsufficientBuffer = 122;
constexpr uint32_t kErrorAlreadyExists = 183;
constexpr uint32_t kErrorNoMoreItems = 259;
constexpr uint32_t kErrorOperationAborted = 995;
constexpr uint32_t kErrorIoIncomplete = 996;
constexpr uint32_t kErrorIoPending = 997;
constexpr uint32_t kErrorDeviceNotConnected = 1167;

uint32_t LastError();
void SetLastError(uint32_t code);

// CreateEventW(no attributes, manualReset, initialState, no name).
Handle CreateEventObject(bool manualReset, bool initialState);
bool SetEvent(Handle event);
bool ResetEvent(Handle event);

// WaitForMultipleObjects with bWaitAll FALSE: kWaitObject0 + index of the
// lowest signalled handle, kWaitTimeout, or kWaitFailed (LastError set).
uint32_t WaitForAny(uint32_t count, const Handle* handles, uint32_t timeoutMs);
uint32_t WaitForOne(Handle handle, uint32_t timeoutMs);

// CloseHandle.
bool CloseHandle(Handle handle);

// CreateThread with default security and stack, running at once. The returned
// handle is signalled when the thread ends.
using ThreadProc = uint32_t (*)(void* parameter);
Handle CreateThread(ThreadProc proc, void* parameter);
// GetExitCodeThread; kStillActive while it runs.
constexpr uint32_t kStillActive = 259;
bool GetThreadExitCode(Handle thread, uint32_t* exitCode);

void Sleep(uint32_t milliseconds);

// Named mutexes of the caller's logon session.
// OpenMutexW(MUTEX_ALL_ACCESS, not inheritable, name): a handle, or null.
Handle OpenNamedMutex(const char16_t* name);
// CreateMutexW(no security attributes, initialOwner, name): a handle, or null
// (LastError() set). *alreadyExisted tells whether the mutex existed before
// the call (ERROR_ALREADY_EXISTS): the handle is then one to that mutex, and
// initialOwner was not honoured.
Handle CreateNamedMutex(const char16_t* name, bool initialOwner, bool* alreadyExisted);

// A zero-filled heap block (HeapAlloc with HEAP_ZERO_MEMORY); null on failure.
void* AllocZeroed(size_t bytes);
// HeapReAlloc keeping the contents; new bytes are zero. Null on failure, the
// old block then stays valid.
void* ReallocZeroed(void* block, size_t bytes);
void FreeBlock(void* block);

// A critical section. Not copyable; Enter/Leave must pair on one thread.
class Lock {
 public:
  Lock();
  ~Lock();
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;
  void Enter();
  void Leave();

 private:
  alignas(16) unsigned char storage_[64];
};

class LockGuard {
 public:
  explicit LockGuard(Lock& lock) : lock_(lock) { lock_.Enter(); }
  ~LockGuard() { lock_.Leave(); }
  LockGuard(const LockGuard&) = delete;
  LockGuard& operator=(const LockGuard&) = delete;

 private:
  Lock& lock_;
};

}  // namespace platform
