// HID interface enumeration through SetupAPI.
#include "hid/enumeration.h"

#include <cstddef>
#include <cstdint>

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

}  // namespace

int EnumerateHidInterfaces(char16_t*** list, int32_t* count) {
  platform::Guid guid{};
  platform::HidGetHidGuid(&guid);
  *list = nullptr;
  *count = 0;

  const platform::Handle set =
      platform::GetClassDevices(&guid, platform::kDigcfPresent | platform::kDigcfDeviceInterface);
  if (!platform::IsUsableHandle(set)) {
    platform::TraceFailure(u"SetupDiGetClassDevsW", nullptr, platform::LastError());
    return 0;
  }

  char16_t** paths = nullptr;
  uint32_t capacity = 4;
  platform::DeviceInterfaceData data{};
  data.cbSize = sizeof(data);
  platform::DeviceInterfaceDetail* detail = nullptr;
  uint32_t index = 0;

  for (;;) {
    // Grow: 8 entries, then twice as many each time, new entries empty.
    if (capacity > UINT32_MAX / 2 / sizeof(char16_t*)) break;
    const uint32_t grownCapacity = capacity * 2;
    auto** grown = static_cast<char16_t**>(
        paths ? platform::ReallocZeroed(paths, grownCapacity * sizeof(char16_t*))
              : platform::AllocZeroed(grownCapacity * sizeof(char16_t*)));
    if (!grown) break;
    paths = grown;
    capacity = grownCapacity;

    for (; index < capacity; ++index) {
      if (index > INT32_MAX - 1) goto cleanup;
      if (!platform::EnumDeviceInterfaces(set, &guid, index, &data)) {
        const uint32_t error = platform::LastError();
        if (error == platform::kErrorNoMoreItems) {
          platform::DestroyDeviceInfoList(set);
          *list = paths;
          *count = static_cast<int32_t>(index);
          return 1;
        }
        platform::TraceFailure(u"SetupDiEnumDeviceInterfaces", nullptr, error);
        continue;  // this index stays empty
      }

      uint32_t required = 0;
      platform::GetDeviceInterfaceDetail(set, &data, nullptr, 0, &required);
      if (required < platform::kDeviceInterfaceDetailFixedSize) {
        platform::TraceFailure(u"SetupDiGetDeviceInterfaceDetailW", nullptr, platform::kErrorInsufficientBuffer);
        goto cleanup;
      }
      detail = static_cast<platform::DeviceInterfaceDetail*>(platform::AllocZeroed(required));
      if (!detail) goto cleanup;
      detail->cbSize = platform::kDeviceInterfaceDetailFixedSize;
      if (!platform::GetDeviceInterfaceDetail(set, &data, detail, required, nullptr)) {
        platform::TraceFailure(u"SetupDiGetDeviceInterfaceDetailW", nullptr, platform::LastError());
        goto cleanup;
      }

      {
        const size_t length = BoundedPathLength(detail, required);
        auto* copy = static_cast<char16_t*>(platform::AllocZeroed((length + 1) * sizeof(char16_t)));
        if (!copy) goto cleanup;
        const auto* source = reinterpret_cast<const char16_t*>(reinterpret_cast<const uint8_t*>(detail) +
                                                               platform::kDeviceInterfaceDetailPathOffset);
        for (size_t i = 0; i < length; ++i) copy[i] = source[i];
        copy[length] = 0;
        paths[index] = copy;
      }
      platform::FreeBlock(detail);
      detail = nullptr;
    }
  }

cleanup:
  platform::FreeBlock(detail);
  if (paths) {
    for (uint32_t i = 0; i < index && i < capacity; ++i) platform::FreeBlock(paths[i]);  // later entries are empty
    platform::FreeBlock(paths);
  }
  platform::DestroyDeviceInfoList(set);
  return 0;
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
