// An owner that releases what it holds when it goes out of scope: a handle, a
// block of the platform heap, or anything else with a release function. For
// a resource that lives within one function, so that every way out of the
// function releases it once. Move-only; Take() hands the resource on without
// releasing it. Header-only and without the standard library: it compiles to
// the release call it replaces.
#pragma once

#include "platform/kernel.h"

namespace platform {

// `Release` is called with the held value, also with the empty value T().
template <typename T, void (*Release)(T)>
class Owner {
 public:
  Owner() = default;
  explicit Owner(T value) : value_(value) {}
  ~Owner() { Release(value_); }
  Owner(Owner&& other) : value_(other.Take()) {}
  Owner& operator=(Owner&& other) {
    if (this != &other) Reset(other.Take());
    return *this;
  }
  Owner(const Owner&) = delete;
  Owner& operator=(const Owner&) = delete;

  T Get() const { return value_; }
  // Hands the resource on; the owner is empty afterwards.
  T Take() {
    const T value = value_;
    value_ = T();
    return value;
  }
  // Releases what is held and holds `value` instead.
  void Reset(T value = T()) {
    const T old = value_;
    value_ = value;
    Release(old);
  }

 private:
  T value_ = T();
};

// Null and InvalidHandle() hold nothing.
inline void CloseUsableHandle(Handle handle) {
  if (IsUsableHandle(handle)) CloseHandle(handle);
}
template <typename T>
void FreeTypedBlock(T* block) {
  FreeBlock(block);
}

// A handle that CloseHandle closes.
using OwnedHandle = Owner<Handle, CloseUsableHandle>;
// A block from AllocZeroed or ReallocZeroed.
template <typename T>
using OwnedBlock = Owner<T*, FreeTypedBlock<T>>;

}  // namespace platform
