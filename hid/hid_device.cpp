// The HID device record: creation, open, device information, close, release
// and destruction.
#include "hid/hid_device.h"

#include <new>

#include "hid/enumeration.h"
#include "platform/trace.h"

namespace tavlo {

namespace {

template <typename T>
void Release(T*& block) {
  platform::FreeBlock(block);
  block = nullptr;
}

// Frees the Usages lists of an item table's button items, then the table.
// Only button items own a list; the flag is checked per item, so a table
// shorter than its button capabilities is never read past its end.
void ReleaseItems(HidDataItem*& items, uint32_t count) {
  if (!items) return;
  for (uint32_t i = 0; i < count; ++i) {
    if (items[i].IsButton) Release(items[i].Usages);
  }
  Release(items);
}

// The number after a tag as the runtime's wcstoul reads it; 0 without the tag.
uint32_t NumberAfterTag(const char16_t* path, const char16_t* tag) {
  uint32_t number = 0;
  platform::HexAfterTag(path, tag, platform::TagNumber::Runtime, &number);
  return number;
}

// Tells a running reader to stop. The wait for its end that follows has no
// time limit, so a signal that fails is given again until it takes (a reader
// whose stop event is missing has ended by itself at its first wait). The
// failure is reported once.
void SignalStop(HidDevice& d) {
  if (!d.StopEvent) return;
  for (bool reported = false; !platform::SetEvent(d.StopEvent); reported = true) {
    if (!reported) platform::TraceFailure(u"SetEvent", d.PathBuffer, platform::LastError());
    platform::Sleep(10);
  }
}

}  // namespace

// Shared with report_tables.cpp: releases everything a build allocates.
void ReleaseReportLayouts(HidDevice& d) {
  Release(d.InputReportBuffer);
  Release(d.InputButtonCaps);
  Release(d.InputValueCaps);
  Release(d.OutputReportBuffer);
  Release(d.OutputButtonCaps);
  Release(d.OutputValueCaps);
  Release(d.FeatureReportBuffer);
  Release(d.FeatureButtonCaps);
  Release(d.FeatureValueCaps);
  ReleaseItems(d.InputItems, d.InputItemCount);
  ReleaseItems(d.OutputItems, d.OutputItemCount);
  ReleaseItems(d.FeatureItems, d.FeatureItemCount);
}

HidDevice::HidDevice() {
  ReadEvent = platform::CreateEventObject(false, false);
  if (!ReadEvent) platform::TraceFailure(u"CreateEventW", nullptr, platform::LastError());
  StopEvent = platform::CreateEventObject(false, false);
  if (!StopEvent) platform::TraceFailure(u"CreateEventW", nullptr, platform::LastError());
}

HidDevice::~HidDevice() { Destroy(*this); }

HidDevice* CreateHidDevice() {
  void* block = platform::AllocZeroed(sizeof(HidDevice));
  if (!block) return nullptr;
  return new (block) HidDevice();
}

void FreeHidDevice(HidDevice*& device) {
  if (!device) return;
  device->~HidDevice();
  platform::FreeBlock(device);
  device = nullptr;
}

int OpenForReading(HidDevice& d, const char16_t* path) {
  d.ReadAccess = 1;
  d.WriteAccess = 0;
  d.OverlappedIo = 1;
  d.ShareReadOnly = 0;
  platform::CopyBounded(d.PathBuffer, platform::kPathBufferLength, path ? path : u"");
  return Open(d);
}

int Open(HidDevice& d) {
  Close(d);
  uint32_t access = 0;
  if (d.ReadAccess) access |= platform::kGenericRead;
  if (d.WriteAccess) access |= platform::kGenericWrite;
  const uint32_t share =
      d.ShareReadOnly ? platform::kFileShareRead : (platform::kFileShareRead | platform::kFileShareWrite);
  const uint32_t flags = d.OverlappedIo ? platform::kFileFlagOverlapped : 0;
  const platform::Handle handle = platform::OpenDeviceFile(d.PathBuffer, access, share, flags);
  if (!platform::IsUsableHandle(handle)) {
    platform::TraceFailure(u"CreateFileW", d.PathBuffer, platform::LastError());
    d.Handle = platform::NullHandle();
    return 0;
  }
  d.Handle = handle;
  if (!ReadDeviceInfo(d)) {
    Close(d);
    return 0;
  }
  return 1;
}

int ReadDeviceInfo(HidDevice& d) {
  if (!platform::IsUsableHandle(d.Handle)) return 0;
  // Whatever an earlier call obtained is let go first, so nothing leaks and
  // no reader works on tables about to be replaced.
  ReleaseReportTables(d);
  d.TablesBuilt = 0;
  platform::PreparsedData preparsed = nullptr;
  if (!platform::HidGetPreparsedData(d.Handle, &preparsed)) {
    platform::TraceFailure(u"HidD_GetPreparsedData", d.PathBuffer, platform::LastError());
    return 0;
  }
  d.PreparsedData = preparsed;
  if (!platform::HidGetAttributes(d.Handle, &d.Attributes)) {
    platform::TraceFailure(u"HidD_GetAttributes", d.PathBuffer, platform::LastError());
    return 0;
  }
  const uint32_t status = platform::HidGetCaps(d.PreparsedData, &d.Caps);
  if (status != platform::kHidpStatusSuccess) {
    platform::TraceFailure(u"HidP_GetCaps", d.PathBuffer, status);
    return 0;
  }
  d.InterfaceNumber = NumberAfterTag(d.PathBuffer, u"&mi_");
  d.CollectionNumber = NumberAfterTag(d.PathBuffer, u"&col");
  return 1;
}

void StopReader(HidDevice& d) {
  if (!d.ReaderJoin) return;
  // A reader that ended by itself has cleared ReaderThread and waits on
  // nothing any more; only a running one is told to stop.
  if (d.ReaderThread.load()) SignalStop(d);
  platform::WaitForOne(d.ReaderJoin, platform::kInfinite);
  platform::CloseHandle(d.ReaderJoin);
  d.ReaderJoin = platform::NullHandle();
  // A stop signal the reader did not consume (it was already leaving) must
  // not stop the next reader at once.
  if (d.StopEvent) platform::ResetEvent(d.StopEvent);
}

void Close(HidDevice& d) {
  StopReader(d);
  ReleaseReportTables(d);
  if (d.Handle) {
    platform::CloseHandle(d.Handle);
    d.Handle = platform::NullHandle();
  }
}

void ReleaseReportTables(HidDevice& d) {
  StopReader(d);
  if (d.PreparsedData) {
    platform::HidFreePreparsedData(d.PreparsedData);
    d.PreparsedData = nullptr;
  }
  ReleaseReportLayouts(d);
}

void Destroy(HidDevice& d) {
  if (d.Destroyed) return;
  Close(d);
  FreePathList(d);
  if (d.ReadEvent) {
    platform::CloseHandle(d.ReadEvent);
    d.ReadEvent = platform::NullHandle();
  }
  if (d.StopEvent) {
    platform::CloseHandle(d.StopEvent);
    d.StopEvent = platform::NullHandle();
  }
  d.Destroyed = true;
}

}  // namespace tavlo
