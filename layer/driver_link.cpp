// The filter-driver link: key table, layer mode, open and close.
#include "layer/driver_link.h"

#include <cstring>

#include "platform/control_device.h"
#include "platform/message_box.h"
#include "platform/trace.h"

namespace tavlo {

platform::Handle KeyEvents[kKeyEventSlotCount] = {};
platform::Handle DriverHandle = nullptr;
std::atomic<uint8_t> LayerMode{0};

namespace {

// Serialises the control calls with the close of DriverHandle, and guards
// KeyEvents slot 48. Constructed on first use: the link may be used before
// any other static is ready.
platform::Lock& LinkLock() {
  static platform::Lock* lock = new platform::Lock();
  return *lock;
}

// Set under the link's lock once the table's removal has been sent: from
// then on the driver hears nothing more from this process, so a report or a
// layer-key event served during shutdown cannot leave the driver holding a
// mode sent after the table was withdrawn.
bool TableWithdrawn = false;

// One control call under the link's lock, unless the driver is not open or
// the table has been withdrawn. `mode`, if given, is stored in LayerMode
// under the same lock. `withdrawTable` marks the call as the table's removal:
// nothing is sent after it. A failed call is reported once the lock is free.
void SendControlCall(uint32_t code, const void* input, uint32_t size, const uint8_t* mode = nullptr,
                     bool withdrawTable = false) {
  bool failed = false;
  uint32_t error = 0;
  {
    platform::LockGuard guard(LinkLock());
    if (mode) LayerMode.store(*mode);
    if (platform::IsUsableHandle(DriverHandle) && !TableWithdrawn &&
        !platform::SendControlCode(DriverHandle, code, input, size)) {
      failed = true;
      error = platform::LastError();
    }
    if (withdrawTable) TableWithdrawn = true;
  }
  if (failed) platform::TraceFailureCode(u"DeviceIoControl", code, error);
}

}  // namespace

void CreateKeyEvents() {
  for (int slot = 0; slot < kWaitedEventCount; ++slot) {
    KeyEvents[slot] = platform::CreateEventObject(/*manualReset=*/false, /*initialState=*/false);
    if (KeyEvents[slot] == nullptr) platform::TraceFailure(u"CreateEventW", nullptr, platform::LastError());
  }
  platform::LockGuard guard(LinkLock());
  KeyEvents[kDispatcherThreadSlot] = nullptr;
  DriverHandle = nullptr;
  TableWithdrawn = false;
}

void CloseKeyEvents() {
  platform::LockGuard guard(LinkLock());
  if (KeyEvents[kDispatcherThreadSlot] != nullptr) return;  // a dispatcher still waits on them
  for (int slot = 0; slot < kWaitedEventCount; ++slot) {
    if (KeyEvents[slot] != nullptr) platform::CloseHandle(KeyEvents[slot]);
    KeyEvents[slot] = nullptr;
  }
}

// The dispatcher's last act.
void ClearDispatcherThread() {
  platform::LockGuard guard(LinkLock());
  KeyEvents[kDispatcherThreadSlot] = nullptr;
}

platform::Handle DispatcherThread() {
  platform::LockGuard guard(LinkLock());
  return KeyEvents[kDispatcherThreadSlot];
}

uint16_t ScanCodeFlags(uint8_t scanCode, bool press) {
  const uint16_t transition = press ? kKeyMake : kKeyBreak;
  switch (scanCode) {
    case 0x45:
      return static_cast<uint16_t>(kKeyE1 | transition);
    case 0x71:
    case 0x72:
      return kKeyBreak;
    case 0xB6:
    case 0xC5:
      return transition;
    default:
      return static_cast<uint16_t>(scanCode >= 0x80 ? (kKeyE0 | transition) : transition);
  }
}

void FillKeyFilterTable(KeyFilterTable& table, const platform::Handle* events, unsigned handleWidthBits) {
  std::memset(&table, 0, sizeof table);
  auto widen = [handleWidthBits](platform::Handle h) {
    return platform::SignExtendHandleValue(static_cast<uint64_t>(reinterpret_cast<uintptr_t>(h)), handleWidthBits);
  };
  auto fill = [&](int record, uint32_t action, uint8_t scanCode, bool press, platform::Handle event) {
    KeyFilterRecord& r = table.Records[record];
    r.Action = action;
    r.MakeCode = scanCode;
    r.Flags = ScanCodeFlags(scanCode, press);
    r.Reserved1 = 0;
    r.Reserved2 = 0;
    r.Event = widen(event);
  };
  for (int slot = 0; slot < kCharacterKeyCount; ++slot) {
    const uint8_t scanCode = LayerKeyMap[slot].ScanCode;
    fill(2 * slot, kActionCharacterPress, scanCode, true, events[slot]);
    fill(2 * slot + 1, kActionCharacterRelease, scanCode, false, events[slot]);
  }
  fill(90, kActionLayerKey, LayerKeyMap[kLayerKeyPressSlot].ScanCode, true, events[kLayerKeyPressSlot]);
  fill(91, kActionLayerKey, LayerKeyMap[kLayerKeyReleaseSlot].ScanCode, false, events[kLayerKeyReleaseSlot]);
}

void FillKeyFilterTable(KeyFilterTable& table) { FillKeyFilterTable(table, KeyEvents); }

int OpenKeyFilter(void* window) {
  {
    // The link is opened once; a second call leaves the open link alone.
    platform::LockGuard guard(LinkLock());
    if (platform::IsUsableHandle(DriverHandle)) return kKeyFilterOpened;
  }
  const platform::Handle device = platform::OpenControlDevice(kKeyFilterDevicePath);
  {
    platform::LockGuard guard(LinkLock());
    DriverHandle = device;
    TableWithdrawn = false;
  }
  if (device == platform::InvalidHandle()) {
    platform::TraceFailure(u"CreateFileW", kKeyFilterDevicePath, platform::LastError());
    if (platform::ShowMessageBox(window, kDriverMissingText, kApplicationTitle, kDriverMissingStyle) == 0)
      platform::TraceFailure(u"MessageBoxW", nullptr, platform::LastError());
    return kKeyFilterMissing;
  }

  KeyFilterTable table;
  FillKeyFilterTable(table);
  SendControlCall(IOCTL_SET_KEY_TABLE, &table, sizeof table);

  // A dispatcher whose wait names a missing event could never wait: it is not
  // started, and the table stays with the driver until the process ends.
  for (int slot = 0; slot < kWaitedEventCount; ++slot)
    if (KeyEvents[slot] == nullptr) return kKeyFilterOpened;

  // The lock is held across the start so the dispatcher's end (which clears
  // slot 48 under it) cannot come before the handle is stored.
  platform::LockGuard guard(LinkLock());
  KeyEvents[kDispatcherThreadSlot] = platform::CreateThread(DispatchKeyEvents, window);
  if (KeyEvents[kDispatcherThreadSlot] == nullptr)
    platform::TraceFailure(u"CreateThread", nullptr, platform::LastError());
  return kKeyFilterOpened;
}

void SendLayerMode(uint8_t mode) {
  // The call gets a copy of its own: the shared byte may be rewritten by the
  // next sender before the driver has read this one.
  const uint8_t buffer = mode;
  SendControlCall(IOCTL_SET_LAYER_MODE, &buffer, sizeof buffer, &mode);
}

void CloseKeyFilter() {
  const platform::Handle thread = DispatcherThread();
  if (thread == nullptr) return;
  SendControlCall(IOCTL_SET_KEY_TABLE, nullptr, 0, nullptr, /*withdrawTable=*/true);
  if (!platform::SetEvent(KeyEvents[kStopEventSlot]))
    platform::TraceFailure(u"SetEvent", nullptr, platform::LastError());
  const uint32_t waited = platform::WaitForOne(thread, kDispatcherStopTimeoutMs);
  const bool ended = waited == platform::kWaitObject0;
  if (!ended)
    platform::TraceFailure(u"WaitForSingleObject", nullptr,
                           waited == platform::kWaitTimeout ? platform::kWaitTimeout : platform::LastError());
  {
    platform::LockGuard guard(LinkLock());
    if (platform::IsUsableHandle(DriverHandle)) platform::CloseHandle(DriverHandle);
    DriverHandle = nullptr;
  }
  // The dispatcher cleared slot 48 as it ended; its handle is no longer needed.
  if (ended) platform::CloseHandle(thread);
}

}  // namespace tavlo
