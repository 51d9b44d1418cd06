// The HID class library, overlapped device-file I/O and SetupAPI on real
// Win32. hid.dll and setupapi.dll are not imported: their functions come
// from the tables of platform/win32/system_libraries.h, and a call whose
// function could not be had fails with ERROR_PROC_NOT_FOUND.
#include <windows.h>

#include <cstddef>

#include "platform/hid.h"
#include "platform/win32/system_libraries.h"

namespace platform {

namespace {

#define TAVLO_SAME_FIELD(Mine, Theirs, field)                              \
  static_assert(offsetof(Mine, field) == offsetof(Theirs, field), #field); \
  static_assert(sizeof(Mine::field) == sizeof(Theirs::field), #field " width")

static_assert(sizeof(HiddAttributes) == sizeof(HIDD_ATTRIBUTES), "HIDD_ATTRIBUTES");
TAVLO_SAME_FIELD(HiddAttributes, HIDD_ATTRIBUTES, Size);
TAVLO_SAME_FIELD(HiddAttributes, HIDD_ATTRIBUTES, VendorID);
TAVLO_SAME_FIELD(HiddAttributes, HIDD_ATTRIBUTES, ProductID);
TAVLO_SAME_FIELD(HiddAttributes, HIDD_ATTRIBUTES, VersionNumber);

static_assert(sizeof(HidpCaps) == sizeof(HIDP_CAPS), "HIDP_CAPS");
TAVLO_SAME_FIELD(HidpCaps, HIDP_CAPS, Usage);
TAVLO_SAME_FIELD(HidpCaps, HIDP_CAPS, UsagePage);
TAVLO_SAME_FIELD(HidpCaps, HIDP_CAPS, InputReportByteLength);
TAVLO_SAME_FIELD(HidpCaps, HIDP_CAPS, OutputReportByteLength);
TAVLO_SAME_FIELD(HidpCaps, HIDP_CAPS, FeatureReportByteLength);
TAVLO_SAME_FIELD(HidpCaps, HIDP_CAPS, NumberLinkCollectionNodes);
TAVLO_SAME_FIELD(HidpCaps, HIDP_CAPS, NumberInputButtonCaps);
TAVLO_SAME_FIELD(HidpCaps, HIDP_CAPS, NumberInputValueCaps);
TAVLO_SAME_FIELD(HidpCaps, HIDP_CAPS, NumberInputDataIndices);
TAVLO_SAME_FIELD(HidpCaps, HIDP_CAPS, NumberOutputButtonCaps);
TAVLO_SAME_FIELD(HidpCaps, HIDP_CAPS, NumberOutputValueCaps);
TAVLO_SAME_FIELD(HidpCaps, HIDP_CAPS, NumberOutputDataIndices);
TAVLO_SAME_FIELD(HidpCaps, HIDP_CAPS, NumberFeatureButtonCaps);
TAVLO_SAME_FIELD(HidpCaps, HIDP_CAPS, NumberFeatureValueCaps);
TAVLO_SAME_FIELD(HidpCaps, HIDP_CAPS, NumberFeatureDataIndices);

#define TAVLO_SAME_CAPS(Mine, Theirs)                                                            \
  static_assert(sizeof(Mine) == sizeof(Theirs), #Theirs);                                        \
  TAVLO_SAME_FIELD(Mine, Theirs, UsagePage);                                                     \
  TAVLO_SAME_FIELD(Mine, Theirs, ReportID);                                                      \
  TAVLO_SAME_FIELD(Mine, Theirs, IsAlias);                                                       \
  TAVLO_SAME_FIELD(Mine, Theirs, BitField);                                                      \
  TAVLO_SAME_FIELD(Mine, Theirs, LinkCollection);                                                \
  TAVLO_SAME_FIELD(Mine, Theirs, LinkUsage);                                                     \
  TAVLO_SAME_FIELD(Mine, Theirs, LinkUsagePage);                                                 \
  TAVLO_SAME_FIELD(Mine, Theirs, IsRange);                                                       \
  TAVLO_SAME_FIELD(Mine, Theirs, IsStringRange);                                                 \
  TAVLO_SAME_FIELD(Mine, Theirs, IsDesignatorRange);                                             \
  TAVLO_SAME_FIELD(Mine, Theirs, IsAbsolute);                                                    \
  static_assert(offsetof(Mine, Range) == offsetof(Theirs, Range), "Range");                      \
  static_assert(offsetof(Mine, Range.UsageMin) == offsetof(Theirs, Range.UsageMin), "UsageMin"); \
  static_assert(offsetof(Mine, Range.UsageMax) == offsetof(Theirs, Range.UsageMax), "UsageMax"); \
  static_assert(offsetof(Mine, NotRange.Usage) == offsetof(Theirs, NotRange.Usage), "Usage")

TAVLO_SAME_CAPS(HidpButtonCaps, HIDP_BUTTON_CAPS);
TAVLO_SAME_CAPS(HidpValueCaps, HIDP_VALUE_CAPS);
TAVLO_SAME_FIELD(HidpValueCaps, HIDP_VALUE_CAPS, HasNull);
TAVLO_SAME_FIELD(HidpValueCaps, HIDP_VALUE_CAPS, BitSize);
TAVLO_SAME_FIELD(HidpValueCaps, HIDP_VALUE_CAPS, ReportCount);
TAVLO_SAME_FIELD(HidpValueCaps, HIDP_VALUE_CAPS, UnitsExp);
TAVLO_SAME_FIELD(HidpValueCaps, HIDP_VALUE_CAPS, Units);
TAVLO_SAME_FIELD(HidpValueCaps, HIDP_VALUE_CAPS, LogicalMin);
TAVLO_SAME_FIELD(HidpValueCaps, HIDP_VALUE_CAPS, LogicalMax);
TAVLO_SAME_FIELD(HidpValueCaps, HIDP_VALUE_CAPS, PhysicalMin);
TAVLO_SAME_FIELD(HidpValueCaps, HIDP_VALUE_CAPS, PhysicalMax);

static_assert(sizeof(Overlapped) == sizeof(OVERLAPPED), "OVERLAPPED");
TAVLO_SAME_FIELD(Overlapped, OVERLAPPED, Internal);
TAVLO_SAME_FIELD(Overlapped, OVERLAPPED, InternalHigh);
TAVLO_SAME_FIELD(Overlapped, OVERLAPPED, hEvent);
static_assert(offsetof(Overlapped, Offset) == offsetof(OVERLAPPED, Offset), "Offset");
static_assert(offsetof(Overlapped, OffsetHigh) == offsetof(OVERLAPPED, OffsetHigh), "OffsetHigh");

static_assert(sizeof(Guid) == sizeof(GUID), "GUID");
static_assert(sizeof(DeviceInterfaceData) == sizeof(SP_DEVICE_INTERFACE_DATA), "SP_DEVICE_INTERFACE_DATA");
TAVLO_SAME_FIELD(DeviceInterfaceData, SP_DEVICE_INTERFACE_DATA, cbSize);
TAVLO_SAME_FIELD(DeviceInterfaceData, SP_DEVICE_INTERFACE_DATA, InterfaceClassGuid);
TAVLO_SAME_FIELD(DeviceInterfaceData, SP_DEVICE_INTERFACE_DATA, Flags);
TAVLO_SAME_FIELD(DeviceInterfaceData, SP_DEVICE_INTERFACE_DATA, Reserved);
static_assert(kDeviceInterfaceDetailFixedSize == sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W), "detail fixed part");
static_assert(kDeviceInterfaceDetailPathOffset == offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath),
              "detail path offset");

static_assert(::HidP_Input == static_cast<int>(HidpReportType::Input) &&
                  ::HidP_Output == static_cast<int>(HidpReportType::Output) &&
                  ::HidP_Feature == static_cast<int>(HidpReportType::Feature),
              "report types");
static_assert(kHidpStatusSuccess == static_cast<uint32_t>(HIDP_STATUS_SUCCESS), "HIDP_STATUS_SUCCESS");
static_assert(kHidpStatusInvalidPreparsedData == static_cast<uint32_t>(HIDP_STATUS_INVALID_PREPARSED_DATA), "status");
static_assert(kHidpStatusUsageNotFound == static_cast<uint32_t>(HIDP_STATUS_USAGE_NOT_FOUND), "status");
static_assert(kHidpStatusNotImplemented == static_cast<uint32_t>(HIDP_STATUS_NOT_IMPLEMENTED), "status");
static_assert(kGenericRead == GENERIC_READ && kGenericWrite == GENERIC_WRITE, "access");
static_assert(kFileShareRead == FILE_SHARE_READ && kFileShareWrite == FILE_SHARE_WRITE, "share");
static_assert(kFileFlagOverlapped == FILE_FLAG_OVERLAPPED, "overlapped flag");
static_assert(kDigcfPresent == DIGCF_PRESENT && kDigcfDeviceInterface == DIGCF_DEVICEINTERFACE, "DIGCF");
static_assert(kErrorIoPending == ERROR_IO_PENDING && kErrorNoMoreItems == ERROR_NO_MORE_ITEMS, "errors");
static_assert(kErrorOperationAborted == ERROR_OPERATION_ABORTED && kErrorIoIncomplete == ERROR_IO_INCOMPLETE, "errors");

#undef TAVLO_SAME_CAPS
#undef TAVLO_SAME_FIELD

const wchar_t* W(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
OVERLAPPED* Ov(Overlapped* overlapped) { return reinterpret_cast<OVERLAPPED*>(overlapped); }
PHIDP_PREPARSED_DATA Pp(PreparsedData data) { return static_cast<PHIDP_PREPARSED_DATA>(data); }
HDEVINFO Set(Handle set) { return static_cast<HDEVINFO>(set); }

// A function of a library that could not be had: the call fails.
template <typename Result>
Result Missing(Result failure) {
  ::SetLastError(ERROR_PROC_NOT_FOUND);
  return failure;
}

}  // namespace

Handle OpenDeviceFile(const char16_t* path, uint32_t access, uint32_t shareMode, uint32_t flags) {
  return ::CreateFileW(W(path), access, shareMode, nullptr, OPEN_EXISTING, flags, nullptr);
}

bool ReadFileOverlapped(Handle file, void* buffer, uint32_t length, Overlapped* overlapped) {
  return ::ReadFile(file, buffer, length, nullptr, Ov(overlapped)) != FALSE;
}

bool GetOverlappedResult(Handle file, Overlapped* overlapped, uint32_t* bytesTransferred, bool wait) {
  DWORD bytes = 0;
  const BOOL ok = ::GetOverlappedResult(file, Ov(overlapped), &bytes, wait ? TRUE : FALSE);
  if (bytesTransferred) *bytesTransferred = bytes;
  return ok != FALSE;
}

bool CancelIo(Handle file) { return ::CancelIo(file) != FALSE; }

bool HidGetPreparsedData(Handle file, PreparsedData* data) {
  const auto get = win32::Hid().GetPreparsedData;
  if (!get) return Missing(false);
  PHIDP_PREPARSED_DATA preparsed = nullptr;
  const BOOLEAN ok = get(file, &preparsed);
  if (ok) *data = preparsed;
  return ok != FALSE;
}

bool HidFreePreparsedData(PreparsedData data) {
  const auto release = win32::Hid().FreePreparsedData;
  if (!release) return Missing(false);
  return release(Pp(data)) != FALSE;
}

bool HidGetAttributes(Handle file, HiddAttributes* attributes) {
  const auto get = win32::Hid().GetAttributes;
  if (!get) return Missing(false);
  attributes->Size = sizeof(HIDD_ATTRIBUTES);
  return get(file, reinterpret_cast<HIDD_ATTRIBUTES*>(attributes)) != FALSE;
}

bool HidFlushQueue(Handle file) {
  const auto flush = win32::Hid().FlushQueue;
  if (!flush) return Missing(false);
  return flush(file) != FALSE;
}

void HidGetHidGuid(Guid* guid) {
  const auto get = win32::Hid().GetHidGuid;
  if (!get) {
    // The null GUID names no device class: nothing is enumerated or notified.
    *guid = Guid{};
    return;
  }
  get(reinterpret_cast<GUID*>(guid));
}

uint32_t HidGetCaps(PreparsedData data, HidpCaps* caps) {
  const auto get = win32::Hid().GetCaps;
  if (!get) return Missing(kHidpStatusNotImplemented);
  return static_cast<uint32_t>(get(Pp(data), reinterpret_cast<HIDP_CAPS*>(caps)));
}

uint32_t HidGetSpecificButtonCaps(HidpReportType type, uint16_t usagePage, uint16_t linkCollection, uint16_t usage,
                                  HidpButtonCaps* caps, uint16_t* length, PreparsedData data) {
  const auto get = win32::Hid().GetSpecificButtonCaps;
  if (!get) return Missing(kHidpStatusNotImplemented);
  USHORT count = *length;
  const NTSTATUS status = get(static_cast<HIDP_REPORT_TYPE>(type), usagePage, linkCollection, usage,
                              reinterpret_cast<HIDP_BUTTON_CAPS*>(caps), &count, Pp(data));
  *length = count;
  return static_cast<uint32_t>(status);
}

uint32_t HidGetSpecificValueCaps(HidpReportType type, uint16_t usagePage, uint16_t linkCollection, uint16_t usage,
                                 HidpValueCaps* caps, uint16_t* length, PreparsedData data) {
  const auto get = win32::Hid().GetSpecificValueCaps;
  if (!get) return Missing(kHidpStatusNotImplemented);
  USHORT count = *length;
  const NTSTATUS status = get(static_cast<HIDP_REPORT_TYPE>(type), usagePage, linkCollection, usage,
                              reinterpret_cast<HIDP_VALUE_CAPS*>(caps), &count, Pp(data));
  *length = count;
  return static_cast<uint32_t>(status);
}

uint32_t HidMaxUsageListLength(HidpReportType type, uint16_t usagePage, PreparsedData data) {
  const auto length = win32::Hid().MaxUsageListLength;
  if (!length) return Missing(0u);
  return length(static_cast<HIDP_REPORT_TYPE>(type), usagePage, Pp(data));
}

Handle GetClassDevices(const Guid* guid, uint32_t flags) {
  const auto get = win32::SetupApi().GetClassDevsW;
  if (!get) return Missing(InvalidHandle());
  return get(reinterpret_cast<const GUID*>(guid), nullptr, nullptr, flags);
}

bool EnumDeviceInterfaces(Handle set, const Guid* guid, uint32_t index, DeviceInterfaceData* data) {
  const auto enumerate = win32::SetupApi().EnumDeviceInterfaces;
  if (!enumerate) return Missing(false);
  return enumerate(Set(set), nullptr, reinterpret_cast<const GUID*>(guid), index,
                   reinterpret_cast<SP_DEVICE_INTERFACE_DATA*>(data)) != FALSE;
}

bool GetDeviceInterfaceDetail(Handle set, DeviceInterfaceData* data, DeviceInterfaceDetail* detail, uint32_t detailSize,
                              uint32_t* requiredSize) {
  const auto get = win32::SetupApi().GetDeviceInterfaceDetailW;
  if (!get) return Missing(false);
  DWORD required = 0;
  const BOOL ok = get(Set(set), reinterpret_cast<SP_DEVICE_INTERFACE_DATA*>(data),
                      reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(detail), detailSize, &required, nullptr);
  if (requiredSize) *requiredSize = required;
  return ok != FALSE;
}

bool DestroyDeviceInfoList(Handle set) {
  const auto destroy = win32::SetupApi().DestroyDeviceInfoList;
  if (!destroy) return Missing(false);
  return destroy(Set(set)) != FALSE;
}

}  // namespace platform
