// Reading a WM_DEVICECHANGE notice: which broadcasts are a device-interface
// arrival or removal of the watched class, and the interface's path.
#pragma once

#include <cstddef>
#include <cstdint>

// Event types and the broadcast layout, with Windows' values.
constexpr uint32_t kDeviceArrival = 0x8000;         // DBT_DEVICEARRIVAL
constexpr uint32_t kDeviceRemoveComplete = 0x8004;  // DBT_DEVICEREMOVECOMPLETE
constexpr uint32_t kDeviceTypeInterface = 5;        // DBT_DEVTYP_DEVICEINTERFACE
// dbcc_size, dbcc_devicetype, dbcc_reserved, dbcc_classguid; dbcc_name follows.
constexpr size_t kInterfaceBroadcastNameOffset = 28;
// The size of the header every broadcast starts with.
constexpr size_t kBroadcastHeaderSize = 12;

enum class DeviceNotice { None, Arrival, Removal };

// Reads a device broadcast of `length` readable bytes (the caller passes the
// size the broadcast declares for itself, or less). Arrival or Removal only
// for those event types, a device-interface broadcast whose size covers the
// fixed part, a class GUID equal to classGuid (16 bytes) and a non-empty name
// terminated within the broadcast and shorter than 260 code units; the name
// is then copied to path (260 code units); path is untouched otherwise. Nothing is read past
// min(length, the broadcast's own size), and nothing at all for other events
// or a null broadcast. A name not terminated within the broadcast is ignored
// rather than cut: a cut path would name another device.
DeviceNotice ReadDeviceNotice(uint32_t eventType, const void* broadcast, size_t length, const uint8_t* classGuid,
                              char16_t* path);
