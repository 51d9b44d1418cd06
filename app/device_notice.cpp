#include "app/device_notice.h"

#include <cstring>

#include "platform/text.h"

namespace {
uint32_t ReadU32(const uint8_t* bytes) {
  uint32_t value;
  std::memcpy(&value, bytes, sizeof value);
  return value;
}
}  // namespace

DeviceNotice ReadDeviceNotice(uint32_t eventType, const void* broadcast, size_t length, const uint8_t* classGuid,
                              char16_t* path) {
  if (eventType != kDeviceArrival && eventType != kDeviceRemoveComplete) return DeviceNotice::None;
  if (!broadcast || !classGuid || !path || length < kBroadcastHeaderSize) return DeviceNotice::None;
  const auto* bytes = static_cast<const uint8_t*>(broadcast);

  const size_t declared = ReadU32(bytes);
  const size_t size = declared < length ? declared : length;
  if (size < kInterfaceBroadcastNameOffset) return DeviceNotice::None;
  if (ReadU32(bytes + 4) != kDeviceTypeInterface) return DeviceNotice::None;
  if (std::memcmp(bytes + 12, classGuid, 16) != 0) return DeviceNotice::None;

  // The name: whole code units inside the broadcast, up to its NUL.
  const size_t units = (size - kInterfaceBroadcastNameOffset) / sizeof(char16_t);
  const uint8_t* name = bytes + kInterfaceBroadcastNameOffset;
  size_t nameLength = 0;
  for (;; ++nameLength) {
    if (nameLength == units || nameLength == platform::kPathBufferLength) return DeviceNotice::None;
    char16_t unit;
    std::memcpy(&unit, name + nameLength * sizeof(char16_t), sizeof unit);
    if (unit == u'\0') break;
  }
  if (nameLength == 0) return DeviceNotice::None;
  std::memcpy(path, name, nameLength * sizeof(char16_t));
  path[nameLength] = u'\0';
  return eventType == kDeviceArrival ? DeviceNotice::Arrival : DeviceNotice::Removal;
}
