// The HID class library, overlapped device-file I/O and SetupAPI's device
// interface enumeration. The Windows targets call the real libraries
// (platform/win32/hid.cpp), the native targets the simulated HID stack
// (platform/sim/hid.cpp, controls in platform/sim/sim_hid.h).
//
// The records below mirror the SDK's field by field (same names, same
// layout); platform/win32/hid.cpp checks that at compile time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/kernel.h"

namespace platform {

// ---- records ----

// HIDD_ATTRIBUTES.
struct HiddAttributes {
  uint32_t Size;
  uint16_t VendorID;
  uint16_t ProductID;
  uint16_t VersionNumber;
};

// HIDP_CAPS.
struct HidpCaps {
  uint16_t Usage;
  uint16_t UsagePage;
  uint16_t InputReportByteLength;
  uint16_t OutputReportByteLength;
  uint16_t FeatureReportByteLength;
  uint16_t Reserved[17];
  uint16_t NumberLinkCollectionNodes;
  uint16_t NumberInputButtonCaps;
  uint16_t NumberInputValueCaps;
  uint16_t NumberInputDataIndices;
  uint16_t NumberOutputButtonCaps;
  uint16_t NumberOutputValueCaps;
  uint16_t NumberOutputDataIndices;
  uint16_t NumberFeatureButtonCaps;
  uint16_t NumberFeatureValueCaps;
  uint16_t NumberFeatureDataIndices;
};

// The usage part shared by both capability records: a range or one usage.
struct HidpUsageRange {
  uint16_t UsageMin, UsageMax;
  uint16_t StringMin, StringMax;
  uint16_t DesignatorMin, DesignatorMax;
  uint16_t DataIndexMin, DataIndexMax;
};
struct HidpUsageSingle {
  uint16_t Usage, Reserved1;
  uint16_t StringIndex, Reserved2;
  uint16_t DesignatorIndex, Reserved3;
  uint16_t DataIndex, Reserved4;
};

// HIDP_BUTTON_CAPS.
struct HidpButtonCaps {
  uint16_t UsagePage;
  uint8_t ReportID;
  uint8_t IsAlias;
  uint16_t BitField;
  uint16_t LinkCollection;
  uint16_t LinkUsage;
  uint16_t LinkUsagePage;
  uint8_t IsRange;
  uint8_t IsStringRange;
  uint8_t IsDesignatorRange;
  uint8_t IsAbsolute;
  uint32_t Reserved[10];
  union {
    HidpUsageRange Range;
    HidpUsageSingle NotRange;
  };
};

// HIDP_VALUE_CAPS.
struct HidpValueCaps {
  uint16_t UsagePage;
  uint8_t ReportID;
  uint8_t IsAlias;
  uint16_t BitField;
  uint16_t LinkCollection;
  uint16_t LinkUsage;
  uint16_t LinkUsagePage;
  uint8_t IsRange;
  uint8_t IsStringRange;
  uint8_t IsDesignatorRange;
  uint8_t IsAbsolute;
  uint8_t HasNull;
  uint8_t Reserved;
  uint16_t BitSize;
  uint16_t ReportCount;
  uint16_t Reserved2[5];
  uint32_t UnitsExp;
  uint32_t Units;
  int32_t LogicalMin, LogicalMax;
  int32_t PhysicalMin, PhysicalMax;
  union {
    HidpUsageRange Range;
    HidpUsageSingle NotRange;
  };
};

static_assert(sizeof(HiddAttributes) == 12, "HIDD_ATTRIBUTES layout");
static_assert(sizeof(HidpCaps) == 64, "HIDP_CAPS layout");
static_assert(sizeof(HidpButtonCaps) == 72, "HIDP_BUTTON_CAPS layout");
static_assert(sizeof(HidpValueCaps) == 72, "HIDP_VALUE_CAPS layout");

// HIDP_REPORT_TYPE.
enum class HidpReportType : uint32_t { Input = 0, Output = 1, Feature = 2 };

// The library's opaque preparsed data (PHIDP_PREPARSED_DATA).
using PreparsedData = void*;

// NTSTATUS values of the HID parser.
constexpr uint32_t kHidpStatusSuccess = 0x00110000u;
constexpr uint32_t kHidpStatusInvalidPreparsedData = 0xC0110001u;
constexpr uint32_t kHidpStatusInvalidReportType = 0xC0110002u;
constexpr uint32_t kHidpStatusUsageNotFound = 0xC0110004u;
constexpr uint32_t kHidpStatusBufferTooSmall = 0xC0110007u;
// What a HID parser call gives when the library's function could not be had
// (Windows: hid.dll not loadable, platform/win32/system_libraries.h).
constexpr uint32_t kHidpStatusNotImplemented = 0xC0110020u;

// OVERLAPPED: Internal holds the status of the request and InternalHigh the
// bytes transferred once it completes; both belong to the system until then.
// hEvent is signalled when the request completes.
struct Overlapped {
  uintptr_t Internal;
  uintptr_t InternalHigh;
  uint32_t Offset;
  uint32_t OffsetHigh;
  Handle hEvent;
};

// GUID.
struct Guid {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
};

// SP_DEVICE_INTERFACE_DATA.
struct DeviceInterfaceData {
  uint32_t cbSize;
  Guid InterfaceClassGuid;
  uint32_t Flags;
  uintptr_t Reserved;
};

// SP_DEVICE_INTERFACE_DETAIL_DATA_W: a size followed by the NUL-terminated
// path, which runs on past the record's end to the size SetupAPI asks for.
struct DeviceInterfaceDetail {
  uint32_t cbSize;
  char16_t DevicePath[1];
};
// The value cbSize must hold: the fixed part's size, 6 in a 32-bit process
// (the record is byte-packed there) and 8 in a 64-bit one.
constexpr uint32_t kDeviceInterfaceDetailFixedSize = sizeof(void*) == 4 ? 6 : 8;
constexpr size_t kDeviceInterfaceDetailPathOffset = offsetof(DeviceInterfaceDetail, DevicePath);

// ---- device files ----

// Access, share and flag values of CreateFileW.
constexpr uint32_t kGenericRead = 0x80000000u;
constexpr uint32_t kGenericWrite = 0x40000000u;
constexpr uint32_t kFileShareRead = 1;
constexpr uint32_t kFileShareWrite = 2;
constexpr uint32_t kFileFlagOverlapped = 0x40000000u;

// CreateFileW(path, access, share, no security, OPEN_EXISTING, flags, no
// template): a handle, or InvalidHandle() with LastError() set.
Handle OpenDeviceFile(const char16_t* path, uint32_t access, uint32_t shareMode, uint32_t flags);

// ReadFile(file, buffer, length, no byte count, overlapped) on a file opened
// for overlapped I/O. True when the read completed at once; false with
// LastError() kErrorIoPending while it is under way, or another error.
// `overlapped` and `buffer` must stay valid until the request is complete.
bool ReadFileOverlapped(Handle file, void* buffer, uint32_t length, Overlapped* overlapped);

// GetOverlappedResult. With `wait`, blocks until the request is complete.
// True with the byte count for a read that succeeded; false with LastError()
// its error (kErrorIoIncomplete while it is still under way without `wait`).
bool GetOverlappedResult(Handle file, Overlapped* overlapped, uint32_t* bytesTransferred, bool wait);

// CancelIo: cancels the requests on `file` that the calling thread issued.
// Each completes (its event signalled) with kErrorOperationAborted unless it
// had completed already.
bool CancelIo(Handle file);

// ---- the HID class library ----

bool HidGetPreparsedData(Handle file, PreparsedData* data);
bool HidFreePreparsedData(PreparsedData data);
bool HidGetAttributes(Handle file, HiddAttributes* attributes);
bool HidFlushQueue(Handle file);
void HidGetHidGuid(Guid* guid);
uint32_t HidGetCaps(PreparsedData data, HidpCaps* caps);
// HidP_GetSpecificButtonCaps / ValueCaps: `length` in: entries of the array;
// out: entries filled.
uint32_t HidGetSpecificButtonCaps(HidpReportType type, uint16_t usagePage, uint16_t linkCollection, uint16_t usage,
                                  HidpButtonCaps* caps, uint16_t* length, PreparsedData data);
uint32_t HidGetSpecificValueCaps(HidpReportType type, uint16_t usagePage, uint16_t linkCollection, uint16_t usage,
                                 HidpValueCaps* caps, uint16_t* length, PreparsedData data);
uint32_t HidMaxUsageListLength(HidpReportType type, uint16_t usagePage, PreparsedData data);

// ---- SetupAPI ----

constexpr uint32_t kDigcfPresent = 0x02;
constexpr uint32_t kDigcfDeviceInterface = 0x10;

// SetupDiGetClassDevsW(guid, no enumerator, no window, flags): a set, or
// InvalidHandle() with LastError() set.
Handle GetClassDevices(const Guid* guid, uint32_t flags);
// SetupDiEnumDeviceInterfaces(set, no device data, guid, index, data):
// false with LastError() kErrorNoMoreItems past the last interface.
bool EnumDeviceInterfaces(Handle set, const Guid* guid, uint32_t index, DeviceInterfaceData* data);
// SetupDiGetDeviceInterfaceDetailW(set, data, detail, detailSize,
// requiredSize, no device data). With no buffer: false, LastError()
// kErrorInsufficientBuffer and the size needed in *requiredSize.
bool GetDeviceInterfaceDetail(Handle set, DeviceInterfaceData* data, DeviceInterfaceDetail* detail, uint32_t detailSize,
                              uint32_t* requiredSize);
// SetupDiDestroyDeviceInfoList.
bool DestroyDeviceInfoList(Handle set);

}  // namespace platform
