// One HID interface (one top-level collection) held open by its path, with
// what the HID class library says about it, its report item tables, the list
// of enumerated interface paths and one background reader of input reports.
//
// Operations that can fail return 1 for success and 0 for failure and show
// nothing. They run on the thread that owns the record; the only other
// thread that touches it is its reader (hid/reader.h).
//
// Lifetime: a record outlives its reader. Close, Destroy, Open, ReadDeviceInfo
// and ReleaseReportTables first stop a running reader and wait until it has
// ended (its outstanding read cancelled and collected, its end notice
// delivered), so the owner may free the record as soon as Destroy returns.
// They must therefore not be called from the record's own report callback.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/hid.h"
#include "platform/kernel.h"
#include "platform/text.h"

namespace tavlo {

// One entry of an item table. Button items (IsButton 1) use the range fields
// and own their Usages list; value items use Usage.
struct HidDataItem {
  uint8_t IsButton;
  uint16_t UsagePage;
  uint32_t Status;
  uint32_t ReportId;
  union {
    struct {
      uint32_t UsageMin;
      uint32_t UsageMax;
      uint32_t MaxUsageListLength;
      uint16_t* Usages;
    };
    uint16_t Usage;
  };
};

// Where a reader delivers input reports; see hid/reader.h for the contract.
// The result is ignored.
using ReportCallback = int32_t (*)(void* context, int32_t hasReport, const uint8_t* report, uint32_t length);

struct HidDevice {
  // Creation: an empty, closed record with its two auto-reset events (a
  // failed event creation leaves that field null).
  HidDevice();
  // Runs Destroy if the owner has not.
  ~HidDevice();
  HidDevice(const HidDevice&) = delete;
  HidDevice& operator=(const HidDevice&) = delete;

  platform::Handle Handle = platform::NullHandle();  // never the invalid-handle value
  char16_t* DevicePath = PathBuffer;                 // always PathBuffer
  char16_t PathBuffer[platform::kPathBufferLength] = {};
  platform::PreparsedData PreparsedData = nullptr;
  platform::HiddAttributes Attributes = {};
  platform::HidpCaps Caps = {};
  uint32_t InterfaceNumber = 0;   // after "&mi_" in the path, base 16
  uint32_t CollectionNumber = 0;  // after "&col" in the path, base 16
  uint32_t TablesBuilt = 0;

  uint8_t* InputReportBuffer = nullptr;  // Caps.InputReportByteLength bytes
  HidDataItem* InputItems = nullptr;
  uint32_t InputItemCount = 0;
  platform::HidpButtonCaps* InputButtonCaps = nullptr;
  platform::HidpValueCaps* InputValueCaps = nullptr;
  uint8_t* OutputReportBuffer = nullptr;
  HidDataItem* OutputItems = nullptr;
  uint32_t OutputItemCount = 0;
  platform::HidpButtonCaps* OutputButtonCaps = nullptr;
  platform::HidpValueCaps* OutputValueCaps = nullptr;
  uint8_t* FeatureReportBuffer = nullptr;
  HidDataItem* FeatureItems = nullptr;
  uint32_t FeatureItemCount = 0;
  platform::HidpButtonCaps* FeatureButtonCaps = nullptr;
  platform::HidpValueCaps* FeatureValueCaps = nullptr;

  char16_t** PathList = nullptr;
  int32_t PathCount = 0;
  uint32_t PathCursor = 0;

  uint32_t ReadAccess = 0;     // GENERIC_READ
  uint32_t WriteAccess = 0;    // GENERIC_WRITE
  uint32_t OverlappedIo = 0;   // FILE_FLAG_OVERLAPPED
  uint32_t ShareReadOnly = 0;  // share mode FILE_SHARE_READ instead of read and write

  // 1 while the reader has a read outstanding or is waiting for it.
  std::atomic<uint32_t> ReadPending{0};
  platform::Handle ReadEvent = platform::NullHandle();
  platform::Handle StopEvent = platform::NullHandle();
  // Written by StartReading and read by the reader before every call, as a
  // pair, under CallbackLock.
  ReportCallback Callback = nullptr;
  void* CallbackContext = nullptr;
  // The running reader; null when none runs. The reader clears it itself as
  // its last act.
  std::atomic<platform::Handle> ReaderThread{platform::NullHandle()};

  // The owner's own handle of the latest reader thread, kept to wait for the
  // thread's end and closed then; the owning thread alone touches it.
  platform::Handle ReaderJoin = platform::NullHandle();
  platform::Lock CallbackLock;
  bool Destroyed = false;
};

// A heap record made with platform::AllocZeroed (null when memory runs out),
// and its release: Destroy if still needed, then the memory; the pointer is
// set to null.
HidDevice* CreateHidDevice();
void FreeHidDevice(HidDevice*& device);

// Opens `path` (cut to 259 characters) for overlapped reading: GENERIC_READ,
// share read and write, FILE_FLAG_OVERLAPPED.
int OpenForReading(HidDevice& device, const char16_t* path);
// Closes whatever the record held, then opens PathBuffer with the four open
// flags and reads the device information. On failure the record is closed.
int Open(HidDevice& device);
// Preparsed data, attributes, caps and the two numbers of the path.
int ReadDeviceInfo(HidDevice& device);
// Stops the reader, releases the report tables and closes the handle.
// Attributes, Caps, the path, the flags, the path list and the events stay.
void Close(HidDevice& device);
// Releases the preparsed data, the report buffers, the capability arrays and
// the item tables (the item counts and TablesBuilt stay).
void ReleaseReportTables(HidDevice& device);
// Close, the path list and the two events. The memory stays the owner's.
void Destroy(HidDevice& device);

// Stops a running reader and waits until its thread has ended. Nothing
// happens when no reader was started. Part of Close; exposed for owners.
void StopReader(HidDevice& device);

}  // namespace tavlo
