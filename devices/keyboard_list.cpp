// The attached-keyboard list: arrival, removal, the start-up scan and the
// release at shutdown.
#include "devices/keyboard_list.h"

#include "devices/consumer_report.h"
#include "hid/enumeration.h"
#include "hid/reader.h"
#include "platform/hid.h"
#include "platform/kernel.h"
#include "platform/owner.h"
#include "platform/trace.h"

namespace tavlo {

DeviceListStorage DeviceList;

namespace {

// The number after `tag` (first occurrence, case ignored): hex digits up to
// the first other character, low 16 bits kept; 0 without digits. False when
// the tag is absent.
bool TaggedNumber(const char16_t* path, const char16_t* tag, uint16_t* number) {
  uint32_t value = 0;
  if (!platform::HexAfterTag(path, tag, platform::TagNumber::Digits, &value)) return false;
  *number = static_cast<uint16_t>(value & 0xFFFFu);
  return true;
}

// Room for one more entry at the end; false when memory runs out (the list
// is then unchanged).
bool ReserveEntry() {
  if (DeviceList.Count < DeviceList.Capacity) return true;
  const uint32_t grown = DeviceList.Capacity ? DeviceList.Capacity * 2 : 4;
  if (grown < DeviceList.Capacity || grown > UINT32_MAX / sizeof(DeviceEntry)) return false;
  void* block = DeviceList.Entries ? platform::ReallocZeroed(DeviceList.Entries, grown * sizeof(DeviceEntry))
                                   : platform::AllocZeroed(grown * sizeof(DeviceEntry));
  if (!block) return false;
  DeviceList.Entries = static_cast<DeviceEntry*>(block);
  DeviceList.Capacity = grown;
  return true;
}

// Erases entry `index`; the ones after it move up one place. An empty list
// gives its storage back.
void EraseEntry(uint32_t index) {
  for (uint32_t i = index + 1; i < DeviceList.Count; ++i) DeviceList.Entries[i - 1] = DeviceList.Entries[i];
  --DeviceList.Count;
  DeviceList.Entries[DeviceList.Count] = DeviceEntry{};
  if (DeviceList.Count == 0) {
    platform::FreeBlock(DeviceList.Entries);
    DeviceList.Entries = nullptr;
    DeviceList.Capacity = 0;
  }
}

// Destroy (which closes the record and waits for its reader to end), then
// the record's memory.
void DestroyAndFree(HidDevice* device) {
  if (!device) return;
  Destroy(*device);
  FreeHidDevice(device);
}
using OwnedHidDevice = platform::Owner<HidDevice*, DestroyAndFree>;

// Stops the entry's reader (Destroy waits for it to end), then frees the
// record and erases the entry.
void ReleaseEntry(uint32_t index) {
  DestroyAndFree(DeviceList.Entries[index].Device);
  EraseEntry(index);
}

bool IsConsumerControlOfModel(const HidDevice& d) {
  return d.Attributes.VendorID == kKeyboardVendorId && d.Attributes.ProductID == kKeyboardProductId &&
         d.Caps.UsagePage == kConsumerUsagePage && d.Caps.Usage == kConsumerControlUsage;
}

}  // namespace

bool IsKeyboardPath(const char16_t* path) {
  if (!path) return false;
  uint16_t vendor = 0;
  uint16_t product = 0;
  if (!TaggedNumber(path, u"vid_", &vendor)) return false;
  if (!TaggedNumber(path, u"pid_", &product)) return false;
  return vendor == kKeyboardVendorId && product == kKeyboardProductId;
}

int AddKeyboardInterface(const char16_t* path, void* window) {
  if (!IsKeyboardPath(path)) return 0;
  OwnedHidDevice owned(CreateHidDevice());
  HidDevice* device = owned.Get();
  if (!device) return 0;
  if (!OpenForReading(*device, path)) return 0;
  // Another collection of the keyboard, or a device whose path tells a
  // different story than its attributes.
  if (!IsConsumerControlOfModel(*device) || !ReserveEntry()) return 0;
  owned.Take();  // the entry owns it from here
  DeviceEntry& entry = DeviceList.Entries[DeviceList.Count++];
  platform::CopyBounded(entry.Path, platform::kPathBufferLength, device->DevicePath);
  platform::UpperCaseInPlace(entry.Path);
  entry.Device = device;
  // Reports queued before the reader starts are stale: a layer key released
  // long ago must not switch the layer now.
  if (!platform::HidFlushQueue(device->Handle))
    platform::TraceFailure(u"HidD_FlushQueue", entry.Path, platform::LastError());
  StartReading(*device, OnConsumerReport, window);
  return 1;
}

void RemoveKeyboardInterface(const char16_t* path) {
  if (!IsKeyboardPath(path)) return;
  // Read as on arrival, where the path is cut to the record's buffer.
  char16_t wanted[platform::kPathBufferLength];
  platform::CopyBounded(wanted, platform::kPathBufferLength, path);
  uint32_t i = 0;
  while (i < DeviceList.Count) {
    if (platform::EqualsNoCase(DeviceList.Entries[i].Path, wanted)) {
      ReleaseEntry(i);  // the next entry moves up to i
    } else {
      ++i;
    }
  }
}

void ScanKeyboardInterfaces(void* window) {
  // The scan runs once, on an empty list; whatever was listed before is
  // released rather than lost with its reader still running.
  ReleaseKeyboardInterfaces();
  HidDevice enumerator;  // never opened; lives for the scan only
  if (EnumerateInterfaces(enumerator)) {
    // An entry whose enumeration failed is empty; the interfaces after it
    // are still offered, so an attached keyboard is not missed.
    while (enumerator.PathList && enumerator.PathCount > 0 &&
           enumerator.PathCursor < static_cast<uint32_t>(enumerator.PathCount)) {
      const char16_t* path = NextPath(enumerator);
      if (path && path[0]) AddKeyboardInterface(path, window);
    }
    FreePathList(enumerator);
  }
  Destroy(enumerator);
}

void ReleaseKeyboardInterfaces() {
  while (DeviceList.Count > 0) ReleaseEntry(0);
}

}  // namespace tavlo
