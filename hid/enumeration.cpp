// HID interface enumeration through SetupAPI.
#include "hid/enumeration.h"

#include <cstddef>
#include <cstdint>

#include "platform/owner.h"
#include "platform/trace.h"

namespace tavlo {

namespace {

// The path inside a detail record of `size` bytes: its code units up to the
// NUL, or up to the record's end when SetupAPI left no NUL there.
size_t BoundedPathLength(const platform::DeviceInterfaceDetail* detail, uint32_t size) {
  const auto* path = reinterpret_cast<const char16_t*>(reinterpret_cast<const uint8_t*>(detail) +
                                                       platform::kDeviceInterfaceDetailPathOffset);
  const size_t room = (size - platform::kDeviceInterfaceDetailPathOffset) / sizeof(char16_t);
  size_t n = 0;
  while (n < room && path[n] != 0) ++n;
  return n;
}

// The path of one enumerated interface, in a block of its own; null when its
// detail cannot be read or memory runs out.
char16_t* ReadInterfacePath(platform::Handle set, platform::DeviceInterfaceData* data) {
  uint32_t required = 0;
  platform::GetDeviceInterfaceDetail(set, data, nullptr, 0, &required);
  if (required < platform::kDeviceInterfaceDetailFixedSize) {
    platform::TraceFailure(u"SetupDiGetDeviceInterfaceDetailW", nullptr, platform::kErrorInsufficientBuffer);
    return nullptr;
  }
  const platform::OwnedBlock<platform::DeviceInterfaceDetail> detail(
      static_cast<platform::DeviceInterfaceDetail*>(platform::AllocZeroed(required)));
  if (!detail.Get()) return nullptr;
  detail.Get()->cbSize = platform::kDeviceInterfaceDetailFixedSize;
  if (!platform::GetDeviceInterfaceDetail(set, data, detail.Get(), required, nullptr)) {
    platform::TraceFailure(u"SetupDiGetDeviceInterfaceDetailW", nullptr, platform::LastError());
    return nullptr;
  }

  const size_t length = BoundedPathLength(detail.Get(), required);
  auto* copy = static_cast<char16_t*>(platform::AllocZeroed((length + 1) * sizeof(char16_t)));
  if (!copy) return nullptr;
  const auto* source = reinterpret_cast<const char16_t*>(reinterpret_cast<const uint8_t*>(detail.Get()) +
                                                         platform::kDeviceInterfaceDetailPathOffset);
  for (size_t i = 0; i < length; ++i) copy[i] = source[i];
  copy[length] = 0;
  return copy;
}

void DestroyUsableDeviceInfoList(platform::Handle set) {
  if (platform::IsUsableHandle(set)) platform::DestroyDeviceInfoList(set);
}
using DeviceInfoList = platform::Owner<platform::Handle, DestroyUsableDeviceInfoList>;

// The list being read: `Capacity` entries, each a path or empty (not read
// yet, or its index failed). Frees every path and the array unless handed
// over with Take.
struct PathArray {
  char16_t** Entries = nullptr;
  uint32_t Capacity = 4;

  PathArray() = default;
  PathArray(const PathArray&) = delete;
  PathArray& operator=(const PathArray&) = delete;
  ~PathArray() {
    if (!Entries) return;
    for (uint32_t i = 0; i < Capacity; ++i) platform::FreeBlock(Entries[i]);
    platform::FreeBlock(Entries);
  }

  // 8 entries, then twice as many each time, new entries empty. False when
  // the list cannot grow; it is then unchanged.
  bool Grow() {
    if (Capacity > UINT32_MAX / 2 / sizeof(char16_t*)) return false;
    const uint32_t grownCapacity = Capacity * 2;
    auto** grown = static_cast<char16_t**>(Entries ? platform::ReallocZeroed(Entries, grownCapacity * sizeof(char16_t*))
                                                   : platform::AllocZeroed(grownCapacity * sizeof(char16_t*)));
    if (!grown) return false;
    Entries = grown;
    Capacity = grownCapacity;
    return true;
  }

  char16_t** Take() {
    char16_t** taken = Entries;
    Entries = nullptr;
    return taken;
  }
};

}  // namespace

int EnumerateHidInterfaces(char16_t*** list, int32_t* count) {
  platform::Guid guid{};
  platform::HidGetHidGuid(&guid);
  *list = nullptr;
  *count = 0;

  const DeviceInfoList set(platform::GetClassDevices(&guid, platform::kDigcfPresent | platform::kDigcfDeviceInterface));
  if (!platform::IsUsableHandle(set.Get())) {
    platform::TraceFailure(u"SetupDiGetClassDevsW", nullptr, platform::LastError());
    return 0;
  }

  PathArray paths;
  platform::DeviceInterfaceData data{};
  data.cbSize = sizeof(data);
  uint32_t index = 0;

  for (;;) {
    if (!paths.Grow()) return 0;
    for (; index < paths.Capacity; ++index) {
      if (index > INT32_MAX - 1) return 0;
      if (!platform::EnumDeviceInterfaces(set.Get(), &guid, index, &data)) {
        const uint32_t error = platform::LastError();
        if (error == platform::kErrorNoMoreItems) {
          *list = paths.Take();
          *count = static_cast<int32_t>(index);
          return 1;
        }
        platform::TraceFailure(u"SetupDiEnumDeviceInterfaces", nullptr, error);
        continue;  // this index stays empty
      }
      char16_t* path = ReadInterfacePath(set.Get(), &data);
      if (!path) return 0;
      paths.Entries[index] = path;
    }
  }
}

int EnumerateInterfaces(HidDevice& d) {
  d.PathCursor = 0;
  // The list is a snapshot; one held from before is let go, not lost.
  FreePathList(d);
  return EnumerateHidInterfaces(&d.PathList, &d.PathCount);
}

const char16_t* NextPath(HidDevice& d) {
  if (!d.PathList || d.PathCount < 0 || d.PathCursor >= static_cast<uint32_t>(d.PathCount)) return nullptr;
  return d.PathList[d.PathCursor++];
}

void FreePathList(HidDevice& d) {
  if (!d.PathList) return;
  for (int32_t i = 0; i < d.PathCount; ++i) platform::FreeBlock(d.PathList[i]);
  platform::FreeBlock(d.PathList);
  d.PathList = nullptr;
}

}  // namespace tavlo
