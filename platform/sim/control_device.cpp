// Simulated control devices: the keyboard filter driver is the only one.
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/control_device.h"
#include "platform/sim/machine.h"
#include "platform/sim/sim_driver.h"
#include "platform/sim/sim_trace.h"
#include "platform/text.h"

namespace platform::sim {

namespace {

constexpr uint32_t kSetKeyTable = 0x0022210C;
constexpr uint32_t kSetLayerMode = 0x00222138;
constexpr uint32_t kRecordSize = 24;
constexpr uint32_t kMaxRecords = 256;
constexpr uint32_t kErrorInvalidFunction = 1;

struct TableEntry {
  uint32_t action;
  uint16_t makeCode;
  uint16_t flags;
  std::shared_ptr<EventObject> event;  // referenced at install, as a driver does
};

struct FilterDriver {
  bool present = true;
  bool open = false;
  unsigned generation = 0;
  bool installed = false;
  std::vector<TableEntry> table;
  uint8_t mode = 0;
  int opens = 0;
  int closes = 0;
  std::vector<ControlCall> calls;
  std::condition_variable callMade;
};

FilterDriver& D() {
  static auto* driver = new FilterDriver();
  return *driver;
}

struct FilterControlObject : Object {
  unsigned generation = 0;
  void OnLastHandleClosedLocked() override {
    FilterDriver& d = D();
    if (generation != d.generation) return;
    // Closing the device ends the session: the driver forgets the table.
    d.open = false;
    d.installed = false;
    d.table.clear();
    d.mode = 0;
    d.closes++;
    TraceLocked("driver close");
  }
};

const ResetRegistration g_reset([] {
  std::lock_guard<std::mutex> lock(MachineMutex());
  FilterDriver& d = D();
  d.present = true;
  d.open = false;
  d.generation++;
  d.installed = false;
  d.table.clear();
  d.mode = 0;
  d.opens = 0;
  d.closes = 0;
  d.calls.clear();
});

uint32_t ReadLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
uint16_t ReadLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint64_t ReadLe64(const uint8_t* p) { return ReadLe32(p) | (static_cast<uint64_t>(ReadLe32(p + 4)) << 32); }

// Installs a table, all or nothing. Returns 0 or the error code.
uint32_t InstallLocked(const uint8_t* bytes, uint32_t size) {
  if (size % kRecordSize != 0 || size / kRecordSize > kMaxRecords) return kErrorInvalidParameter;
  std::vector<TableEntry> table;
  for (uint32_t offset = 0; offset < size; offset += kRecordSize) {
    const uint8_t* r = bytes + offset;
    TableEntry entry{ReadLe32(r), ReadLe16(r + 4), ReadLe16(r + 6), nullptr};
    const uint64_t value = ReadLe64(r + 16);
    // The value is the sender's handle, widened; this process's handles are
    // pointer-sized.
    entry.event = LookupAsLocked<EventObject>(reinterpret_cast<Handle>(static_cast<uintptr_t>(value)));
    if (!entry.event) return kErrorInvalidHandle;
    table.push_back(std::move(entry));
  }
  D().table = std::move(table);
  D().installed = true;
  return 0;
}

int TransitionLocked(uint8_t scanCode, bool release) {
  FilterDriver& d = D();
  if (!d.installed) return 0;
  int signalled = 0;
  for (TableEntry& entry : d.table) {
    if (entry.makeCode != scanCode || (entry.flags & 2) != 0) continue;  // E0 keys are not simulated
    if (((entry.flags & 1) != 0) != release) continue;
    if ((entry.action & 0xFF) != 1) continue;
    const bool characterKey = (entry.action & 0x00FFFF00u) != 0;
    if (characterKey && d.mode != 1) continue;
    SignalLocked(*entry.event);
    signalled++;
  }
  return signalled;
}

std::string HexLine(uint32_t code, const ControlCall& call) {
  char head[64];
  std::snprintf(head, sizeof head, "ioctl 0x%08x in %u", code, static_cast<unsigned>(call.input.size()));
  std::string line = head;
  if (!call.input.empty()) {
    line += ' ';
    static const char kDigits[] = "0123456789abcdef";
    for (uint8_t b : call.input) {
      line += kDigits[b >> 4];
      line += kDigits[b & 15];
    }
  }
  return line;
}

}  // namespace

void SetFilterDriverPresent(bool present) {
  std::lock_guard<std::mutex> lock(MachineMutex());
  D().present = present;
}

int PressScanCode(uint8_t scanCode) {
  std::lock_guard<std::mutex> lock(MachineMutex());
  return TransitionLocked(scanCode, false);
}

int ReleaseScanCode(uint8_t scanCode) {
  std::lock_guard<std::mutex> lock(MachineMutex());
  return TransitionLocked(scanCode, true);
}

bool FilterDeviceOpen() {
  std::lock_guard<std::mutex> lock(MachineMutex());
  return D().open;
}
bool FilterTableInstalled() {
  std::lock_guard<std::mutex> lock(MachineMutex());
  return D().installed;
}
size_t FilterTableRecordCount() {
  std::lock_guard<std::mutex> lock(MachineMutex());
  return D().table.size();
}
uint8_t FilterLayerMode() {
  std::lock_guard<std::mutex> lock(MachineMutex());
  return D().mode;
}
int FilterOpenCount() {
  std::lock_guard<std::mutex> lock(MachineMutex());
  return D().opens;
}
int FilterCloseCount() {
  std::lock_guard<std::mutex> lock(MachineMutex());
  return D().closes;
}
std::vector<ControlCall> ControlCalls() {
  std::lock_guard<std::mutex> lock(MachineMutex());
  return D().calls;
}
void ClearControlCalls() {
  std::lock_guard<std::mutex> lock(MachineMutex());
  D().calls.clear();
}
size_t ControlCallCount() {
  std::lock_guard<std::mutex> lock(MachineMutex());
  return D().calls.size();
}
bool WaitForControlCallCount(size_t count, uint32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(MachineMutex());
  OutsiderBlocksLocked();
  const bool made =
      D().callMade.wait_for(lock, std::chrono::milliseconds(timeoutMs), [count] { return D().calls.size() >= count; });
  OutsiderWakesLocked();
  return made;
}

}  // namespace platform::sim

namespace platform {

using namespace platform::sim;

Handle OpenControlDevice(const char16_t* path) {
  std::lock_guard<std::mutex> lock(MachineMutex());
  if (ShouldFailLocked("OpenControlDevice")) return InvalidHandle();
  FilterDriver& d = D();
  const bool isFilter = path != nullptr && EqualsNoCase(path, kFilterDevicePath);
  if (!isFilter || !d.present) {
    if (isFilter) TraceLocked("driver open failed");
    SetLastError(kErrorFileNotFound);
    return InvalidHandle();
  }
  if (d.open) {
    TraceLocked("driver open failed");
    SetLastError(kErrorSharingViolation);
    return InvalidHandle();
  }
  auto device = std::make_shared<FilterControlObject>();
  device->generation = d.generation;
  d.open = true;
  d.opens++;
  TraceLocked("driver open ok");
  return AddHandleLocked(device);
}

bool SendControlCode(Handle device, uint32_t code, const void* input, uint32_t inputSize) {
  std::lock_guard<std::mutex> lock(MachineMutex());
  if (!LookupAsLocked<FilterControlObject>(device)) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  FilterDriver& d = D();
  ControlCall call{code, input == nullptr, {}, false};
  if (input != nullptr && inputSize > 0) {
    const auto* bytes = static_cast<const uint8_t*>(input);
    call.input.assign(bytes, bytes + inputSize);
  }
  TraceLocked(HexLine(code, call));

  uint32_t error = 0;
  if (ShouldFailLocked("DeviceIoControl")) {
    error = LastError();
  } else if (code == kSetKeyTable) {
    if (inputSize == 0) {
      d.installed = false;
      d.table.clear();
    } else if (input == nullptr) {
      error = kErrorInvalidParameter;
    } else {
      error = InstallLocked(call.input.data(), inputSize);
    }
  } else if (code == kSetLayerMode) {
    if (input == nullptr || inputSize != 1 || call.input[0] > 1) {
      error = kErrorInvalidParameter;
    } else {
      d.mode = call.input[0];
    }
  } else {
    error = kErrorInvalidFunction;
  }
  call.succeeded = error == 0;
  d.calls.push_back(std::move(call));
  d.callMade.notify_all();
  if (error != 0) SetLastError(error);
  return error == 0;
}

}  // namespace platform
