// The simulated HID stack: interfaces, device files with per-handle report
// queues and overlapped reads, preparsed data, and SetupAPI enumeration.
#include <algorithm>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/hid.h"
#include "platform/sim/machine.h"
#include "platform/sim/sim.h"
#include "platform/sim/sim_hid.h"
#include "platform/text.h"

namespace platform::sim {

namespace {

constexpr uintptr_t kStatusPending = 0x103;
constexpr uint32_t kErrorInvalidUserBuffer = 1784;
constexpr uint32_t kErrorNoAccess = 998;
constexpr uint32_t kHidpStatusInternalError = 0xC0110008u;
constexpr size_t kReportQueueLimit = 32;  // the class driver's default ring

struct SimInterface;

struct PendingRead {
  Overlapped* overlapped;
  uint8_t* buffer;
  uint32_t length;
  std::shared_ptr<EventObject> event;
  std::thread::id issuer;
};

struct HidFile : Waitable {
  std::shared_ptr<SimInterface> iface;
  uint32_t access = 0;
  bool overlappedIo = false;
  bool dead = false;  // its interface was unplugged
  std::deque<std::vector<uint8_t>> queue;
  std::vector<PendingRead> pending;

  void CompleteLocked(PendingRead& read, uint32_t error, uint32_t bytes) {
    read.overlapped->InternalHigh = bytes;
    read.overlapped->Internal = error;
    if (read.event) SignalLocked(*read.event);
    SignalLocked(*this);
  }
  void FailAllLocked(uint32_t error) {
    std::vector<PendingRead> reads;
    reads.swap(pending);
    for (auto& read : reads) CompleteLocked(read, error, 0);
  }
  void OnLastHandleClosedLocked() override;
};

struct SimInterface {
  HidInterface desc;
  bool present = true;
  std::vector<HidFile*> files;  // files with a live handle
};

void HidFile::OnLastHandleClosedLocked() {
  FailAllLocked(kErrorOperationAborted);
  queue.clear();
  auto& list = iface->files;
  list.erase(std::remove(list.begin(), list.end(), this), list.end());
}

struct PreparsedBlock {
  HidInterface desc;
};

struct DeviceInfoSet : Object {
  std::vector<std::u16string> paths;
  void OnLastHandleClosedLocked() override;
};

struct HidState {
  std::vector<std::shared_ptr<SimInterface>> present;  // enumeration order
  std::map<const void*, std::unique_ptr<PreparsedBlock>> preparsed;
  int liveSets = 0;
  std::map<uint32_t, uint32_t> enumFailures;
  std::map<uint32_t, DetailFault> detailFaults;
  // Reports the keyboard sends right after the next open of a path.
  std::vector<std::pair<std::u16string, std::vector<uint8_t>>> onOpen;
};

HidState& H() {
  static HidState* state = new HidState();  // never destroyed: detached threads may outlive main
  return *state;
}

void DeviceInfoSet::OnLastHandleClosedLocked() { H().liveSets--; }

std::shared_ptr<SimInterface> FindPresentLocked(const std::u16string& path) {
  for (auto& iface : H().present) {
    if (EqualsNoCase(iface->desc.path.c_str(), path.c_str())) return iface;
  }
  return nullptr;
}

void UnplugLocked(const std::shared_ptr<SimInterface>& iface) {
  iface->present = false;
  for (HidFile* file : iface->files) {
    file->dead = true;
    file->queue.clear();
    file->FailAllLocked(kErrorDeviceNotConnected);
  }
  auto& list = H().present;
  list.erase(std::remove(list.begin(), list.end(), iface), list.end());
}

void DeriveCounts(HidInterface& d) {
  if (!d.capsCountsFromArrays) return;
  auto n = [](size_t size) { return static_cast<uint16_t>(std::min<size_t>(size, 0xFFFF)); };
  d.caps.NumberInputButtonCaps = n(d.buttonCaps[0].size());
  d.caps.NumberInputValueCaps = n(d.valueCaps[0].size());
  d.caps.NumberOutputButtonCaps = n(d.buttonCaps[1].size());
  d.caps.NumberOutputValueCaps = n(d.valueCaps[1].size());
  d.caps.NumberFeatureButtonCaps = n(d.buttonCaps[2].size());
  d.caps.NumberFeatureValueCaps = n(d.valueCaps[2].size());
}

PreparsedBlock* FindPreparsedLocked(PreparsedData data) {
  auto it = H().preparsed.find(data);
  return it == H().preparsed.end() ? nullptr : it->second.get();
}

std::u16string Ascii(const std::string& text) { return std::u16string(text.begin(), text.end()); }

std::string Hex4(unsigned value) {
  static const char* digits = "0123456789abcdef";
  std::string out(4, '0');
  for (int i = 3; i >= 0; --i) {
    out[static_cast<size_t>(i)] = digits[value & 0xF];
    value >>= 4;
  }
  return out;
}

const ResetRegistration g_reset([] {
  std::lock_guard<std::mutex> lock(MachineMutex());
  HidState& h = H();
  for (auto& iface : std::vector<std::shared_ptr<SimInterface>>(h.present)) UnplugLocked(iface);
  h.enumFailures.clear();
  h.detailFaults.clear();
  h.onOpen.clear();
});

}  // namespace

// ---- descriptions ----

std::u16string HidInterfacePath(uint16_t vendor, uint16_t product, int mi, int col, const std::u16string& instance) {
  std::string text = "\\\\?\\hid#vid_" + Hex4(vendor) + "&pid_" + Hex4(product);
  if (mi >= 0) text += "&mi_" + Hex4(static_cast<unsigned>(mi)).substr(2);
  if (col >= 0) text += "&col" + Hex4(static_cast<unsigned>(col)).substr(2);
  return Ascii(text) + u"#" + instance + u"#{4d1e55b2-f16f-11cf-88cb-001111000030}";
}

HidpButtonCaps ButtonCaps(uint16_t usagePage, uint8_t reportId, uint16_t usageMin, uint16_t usageMax) {
  HidpButtonCaps caps{};
  caps.UsagePage = usagePage;
  caps.ReportID = reportId;
  caps.IsAbsolute = 1;
  if (usageMin != usageMax) {
    caps.IsRange = 1;
    caps.Range.UsageMin = usageMin;
    caps.Range.UsageMax = usageMax;
  } else {
    caps.NotRange.Usage = usageMin;
  }
  return caps;
}

HidpValueCaps ValueCaps(uint16_t usagePage, uint8_t reportId, bool isRange, uint16_t usageMin, uint16_t usageMax,
                        uint16_t bitSize, uint16_t reportCount) {
  HidpValueCaps caps{};
  caps.UsagePage = usagePage;
  caps.ReportID = reportId;
  caps.IsAbsolute = 1;
  caps.BitSize = bitSize;
  caps.ReportCount = reportCount;
  caps.LogicalMax = bitSize >= 32 ? 0x7FFFFFFF : static_cast<int32_t>((1u << bitSize) - 1);
  if (isRange) {
    caps.IsRange = 1;
    caps.Range.UsageMin = usageMin;
    caps.Range.UsageMax = usageMax;
  } else {
    caps.NotRange.Usage = usageMin;
  }
  return caps;
}

HidInterface GenericHidInterface(const std::u16string& path, uint16_t vendor, uint16_t product, uint16_t usagePage,
                                 uint16_t usage, uint16_t inputLength) {
  HidInterface d;
  d.path = path;
  d.attributes.Size = sizeof(HiddAttributes);
  d.attributes.VendorID = vendor;
  d.attributes.ProductID = product;
  d.attributes.VersionNumber = 0x0100;
  d.caps.UsagePage = usagePage;
  d.caps.Usage = usage;
  d.caps.InputReportByteLength = inputLength;
  return d;
}

static std::u16string ModelInstance(int instance, int suffix) {
  return Ascii("7&2f3a1b4c&" + std::to_string(instance - 1) + "&" + Hex4(static_cast<unsigned>(suffix)));
}

HidInterface ModelConsumerControl(int instance) {
  HidInterface d = GenericHidInterface(HidInterfacePath(kModelVendor, kModelProduct, 1, 2, ModelInstance(instance, 1)),
                                       kModelVendor, kModelProduct, 0x000C, 0x0001, 3);
  d.caps.NumberLinkCollectionNodes = 1;
  d.valueCaps[0].push_back(ValueCaps(0x000C, 1, true, 0x0000, 0x03FF, 16, 1));
  return d;
}

HidInterface ModelKeyboardCollection(int instance) {
  HidInterface d = GenericHidInterface(HidInterfacePath(kModelVendor, kModelProduct, 0, -1, ModelInstance(instance, 0)),
                                       kModelVendor, kModelProduct, 0x0001, 0x0006, 9);
  d.caps.OutputReportByteLength = 2;
  d.caps.NumberLinkCollectionNodes = 1;
  d.buttonCaps[0].push_back(ButtonCaps(0x0007, 0, 0xE0, 0xE7));
  d.buttonCaps[0].push_back(ButtonCaps(0x0007, 0, 0x00, 0xFF));
  d.buttonCaps[1].push_back(ButtonCaps(0x0008, 0, 0x01, 0x05));
  return d;
}

ModelKeyboardPaths AttachModelKeyboard(int instance) {
  HidInterface consumer = ModelConsumerControl(instance);
  HidInterface keyboard = ModelKeyboardCollection(instance);
  AddHidInterface(keyboard);
  AddHidInterface(consumer);
  return {consumer.path, keyboard.path};
}

void DetachModelKeyboard(const ModelKeyboardPaths& paths) {
  RemoveHidInterface(paths.consumerControl);
  RemoveHidInterface(paths.keyboard);
}

// ---- plugging and reports ----

void AddHidInterface(const HidInterface& description) {
  std::lock_guard<std::mutex> lock(MachineMutex());
  if (auto old = FindPresentLocked(description.path)) UnplugLocked(old);
  auto iface = std::make_shared<SimInterface>();
  iface->desc = description;
  DeriveCounts(iface->desc);
  H().present.push_back(std::move(iface));
}

bool RemoveHidInterface(const std::u16string& path) {
  std::lock_guard<std::mutex> lock(MachineMutex());
  auto iface = FindPresentLocked(path);
  if (!iface) return false;
  UnplugLocked(iface);
  return true;
}

std::vector<std::u16string> PresentHidInterfaces() {
  std::lock_guard<std::mutex> lock(MachineMutex());
  std::vector<std::u16string> paths;
  for (auto& iface : H().present) paths.push_back(iface->desc.path);
  return paths;
}

bool PushInputReport(const std::u16string& path, const std::vector<uint8_t>& report) {
  std::lock_guard<std::mutex> lock(MachineMutex());
  auto iface = FindPresentLocked(path);
  if (!iface) return false;
  for (HidFile* file : iface->files) {
    if (!file->pending.empty()) {
      PendingRead read = file->pending.front();
      file->pending.erase(file->pending.begin());
      const uint32_t n = std::min<uint32_t>(read.length, static_cast<uint32_t>(report.size()));
      if (n) std::memcpy(read.buffer, report.data(), n);
      file->CompleteLocked(read, kErrorSuccess, n);
    } else {
      if (file->queue.size() >= kReportQueueLimit) file->queue.pop_front();
      file->queue.push_back(report);
    }
  }
  return true;
}

int HidOpenFileCount(const std::u16string& path) {
  std::lock_guard<std::mutex> lock(MachineMutex());
  auto iface = FindPresentLocked(path);
  return iface ? static_cast<int>(iface->files.size()) : 0;
}

int HidPendingReadCount(const std::u16string& path) {
  std::lock_guard<std::mutex> lock(MachineMutex());
  auto iface = FindPresentLocked(path);
  int n = 0;
  if (iface) {
    for (HidFile* file : iface->files) n += static_cast<int>(file->pending.size());
  }
  return n;
}

int HidQueuedReportCount(const std::u16string& path) {
  std::lock_guard<std::mutex> lock(MachineMutex());
  auto iface = FindPresentLocked(path);
  int n = 0;
  if (iface) {
    for (HidFile* file : iface->files) n += static_cast<int>(file->queue.size());
  }
  return n;
}

long LivePreparsedDataCount() {
  std::lock_guard<std::mutex> lock(MachineMutex());
  return static_cast<long>(H().preparsed.size());
}

int LiveDeviceInfoSetCount() {
  std::lock_guard<std::mutex> lock(MachineMutex());
  return H().liveSets;
}

void FailEnumIndex(uint32_t index, uint32_t error) {
  std::lock_guard<std::mutex> lock(MachineMutex());
  H().enumFailures[index] = error;
}

void QueueReportOnNextOpen(const std::u16string& path, const std::vector<uint8_t>& report) {
  std::lock_guard<std::mutex> lock(MachineMutex());
  H().onOpen.emplace_back(path, report);
}

void FailDetailAt(uint32_t index, DetailFault fault) {
  std::lock_guard<std::mutex> lock(MachineMutex());
  H().detailFaults[index] = fault;
}

}  // namespace platform::sim

// ---- the platform operations ----

namespace platform {

using namespace platform::sim;

Handle OpenDeviceFile(const char16_t* path, uint32_t access, uint32_t shareMode, uint32_t flags) {
  (void)shareMode;
  std::lock_guard<std::mutex> lock(MachineMutex());
  if (ShouldFailLocked("CreateFile")) return InvalidHandle();
  if (!path) {
    SetLastError(kErrorInvalidParameter);
    return InvalidHandle();
  }
  auto iface = FindPresentLocked(path);
  if (!iface) {
    SetLastError(kErrorFileNotFound);
    return InvalidHandle();
  }
  auto file = std::make_shared<HidFile>();
  file->manualReset = true;
  file->iface = iface;
  file->access = access;
  file->overlappedIo = (flags & kFileFlagOverlapped) != 0;
  iface->files.push_back(file.get());
  auto& onOpen = H().onOpen;
  for (auto it = onOpen.begin(); it != onOpen.end();) {
    if (EqualsNoCase(it->first.c_str(), path)) {
      file->queue.push_back(std::move(it->second));
      it = onOpen.erase(it);
    } else {
      ++it;
    }
  }
  return AddHandleLocked(file);
}

bool ReadFileOverlapped(Handle handle, void* buffer, uint32_t length, Overlapped* overlapped) {
  std::lock_guard<std::mutex> lock(MachineMutex());
  auto file = LookupAsLocked<HidFile>(handle);
  if (!file) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  if (ShouldFailLocked("ReadFile")) return false;
  if (!overlapped || !file->overlappedIo) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  if (file->dead) {
    SetLastError(kErrorDeviceNotConnected);
    return false;
  }
  if (!(file->access & kGenericRead)) {
    SetLastError(kErrorAccessDenied);
    return false;
  }
  if (!buffer) {
    SetLastError(kErrorNoAccess);
    return false;
  }
  if (length < file->iface->desc.caps.InputReportByteLength || length == 0) {
    SetLastError(kErrorInvalidUserBuffer);
    return false;
  }
  std::shared_ptr<EventObject> event;
  if (overlapped->hEvent) {
    event = LookupAsLocked<EventObject>(overlapped->hEvent);
    if (!event) {
      SetLastError(kErrorInvalidHandle);
      return false;
    }
    event->signalled = false;
  }
  file->signalled = false;
  overlapped->Internal = kStatusPending;
  overlapped->InternalHigh = 0;
  PendingRead read{overlapped, static_cast<uint8_t*>(buffer), length, event, std::this_thread::get_id()};
  if (!file->queue.empty()) {
    std::vector<uint8_t> report = std::move(file->queue.front());
    file->queue.pop_front();
    const uint32_t n = std::min<uint32_t>(length, static_cast<uint32_t>(report.size()));
    if (n) std::memcpy(buffer, report.data(), n);
    file->CompleteLocked(read, kErrorSuccess, n);
    return true;
  }
  file->pending.push_back(read);
  SetLastError(kErrorIoPending);
  return false;
}

bool GetOverlappedResult(Handle handle, Overlapped* overlapped, uint32_t* bytesTransferred, bool wait) {
  std::unique_lock<std::mutex> lock(MachineMutex());
  LookupLocked(handle);  // counts a use of a closed handle
  if (ShouldFailLocked("GetOverlappedResult")) return false;
  if (!overlapped) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  while (overlapped->Internal == kStatusPending) {
    if (!wait) {
      SetLastError(kErrorIoIncomplete);
      return false;
    }
    Handle waitOn = overlapped->hEvent ? overlapped->hEvent : handle;
    lock.unlock();
    const uint32_t result = WaitForOne(waitOn, kInfinite);
    lock.lock();
    if (result != kWaitObject0) return false;  // LastError from the wait
  }
  if (bytesTransferred) *bytesTransferred = static_cast<uint32_t>(overlapped->InternalHigh);
  if (overlapped->Internal != kErrorSuccess) {
    SetLastError(static_cast<uint32_t>(overlapped->Internal));
    return false;
  }
  return true;
}

bool CancelIo(Handle handle) {
  std::lock_guard<std::mutex> lock(MachineMutex());
  auto file = LookupAsLocked<HidFile>(handle);
  if (!file) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  if (ShouldFailLocked("CancelIo")) return false;
  const auto self = std::this_thread::get_id();
  std::vector<PendingRead> keep;
  std::vector<PendingRead> cancelled;
  for (auto& read : file->pending) (read.issuer == self ? cancelled : keep).push_back(read);
  file->pending.swap(keep);
  for (auto& read : cancelled) file->CompleteLocked(read, kErrorOperationAborted, 0);
  return true;
}

static std::shared_ptr<HidFile> LiveFileLocked(Handle handle) {
  auto file = LookupAsLocked<HidFile>(handle);
  if (!file) {
    SetLastError(kErrorInvalidHandle);
    return nullptr;
  }
  if (file->dead) {
    SetLastError(kErrorDeviceNotConnected);
    return nullptr;
  }
  return file;
}

bool HidGetPreparsedData(Handle handle, PreparsedData* data) {
  std::lock_guard<std::mutex> lock(MachineMutex());
  auto file = LiveFileLocked(handle);
  if (!file || !data) return false;
  if (ShouldFailLocked("HidD_GetPreparsedData")) return false;
  auto block = std::make_unique<PreparsedBlock>();
  block->desc = file->iface->desc;
  *data = block.get();
  H().preparsed.emplace(block.get(), std::move(block));
  return true;
}

bool HidFreePreparsedData(PreparsedData data) {
  std::lock_guard<std::mutex> lock(MachineMutex());
  return H().preparsed.erase(data) == 1;
}

bool HidGetAttributes(Handle handle, HiddAttributes* attributes) {
  std::lock_guard<std::mutex> lock(MachineMutex());
  auto file = LiveFileLocked(handle);
  if (!file || !attributes) return false;
  if (ShouldFailLocked("HidD_GetAttributes")) return false;
  *attributes = file->iface->desc.attributes;
  attributes->Size = sizeof(HiddAttributes);
  return true;
}

bool HidFlushQueue(Handle handle) {
  std::lock_guard<std::mutex> lock(MachineMutex());
  auto file = LiveFileLocked(handle);
  if (!file) return false;
  if (ShouldFailLocked("HidD_FlushQueue")) return false;
  file->queue.clear();
  return true;
}

void HidGetHidGuid(Guid* guid) {
  static const Guid kHid = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
  if (guid) *guid = kHid;
}

uint32_t HidGetCaps(PreparsedData data, HidpCaps* caps) {
  std::lock_guard<std::mutex> lock(MachineMutex());
  PreparsedBlock* block = FindPreparsedLocked(data);
  if (!block) return kHidpStatusInvalidPreparsedData;
  if (ShouldFailLocked("HidP_GetCaps")) return kHidpStatusInternalError;
  if (caps) *caps = block->desc.caps;
  return kHidpStatusSuccess;
}

namespace {

template <typename Caps>
bool MatchesUsage(const Caps& caps, uint16_t usage) {
  if (usage == 0) return true;
  if (caps.IsRange) return caps.Range.UsageMin <= usage && usage <= caps.Range.UsageMax;
  return caps.NotRange.Usage == usage;
}

template <typename Caps>
uint32_t CopySpecific(const std::vector<Caps>& all, uint16_t usagePage, uint16_t linkCollection, uint16_t usage,
                      Caps* out, uint16_t* length) {
  if (!length || (!out && *length)) return kHidpStatusInvalidReportType;
  uint16_t copied = 0;
  bool found = false;
  for (const Caps& caps : all) {
    if (usagePage && caps.UsagePage != usagePage) continue;
    if (linkCollection && caps.LinkCollection != linkCollection) continue;
    if (!MatchesUsage(caps, usage)) continue;
    found = true;
    if (copied < *length) out[copied++] = caps;
  }
  *length = copied;
  return found ? kHidpStatusSuccess : kHidpStatusUsageNotFound;
}

}  // namespace

namespace {

// HidP_GetSpecificButtonCaps and HidP_GetSpecificValueCaps: the same query
// over one of the two capability arrays of the report type.
template <typename Caps>
uint32_t GetSpecific(const char* call, std::vector<Caps> (HidInterface::*arrays)[3], HidpReportType type,
                     uint16_t usagePage, uint16_t linkCollection, uint16_t usage, Caps* caps, uint16_t* length,
                     PreparsedData data) {
  std::lock_guard<std::mutex> lock(MachineMutex());
  PreparsedBlock* block = FindPreparsedLocked(data);
  if (!block) return kHidpStatusInvalidPreparsedData;
  const auto t = static_cast<uint32_t>(type);
  if (t > 2) return kHidpStatusInvalidReportType;
  if (ShouldFailLocked(call)) return kHidpStatusInternalError;
  return CopySpecific((block->desc.*arrays)[t], usagePage, linkCollection, usage, caps, length);
}

}  // namespace

uint32_t HidGetSpecificButtonCaps(HidpReportType type, uint16_t usagePage, uint16_t linkCollection, uint16_t usage,
                                  HidpButtonCaps* caps, uint16_t* length, PreparsedData data) {
  return GetSpecific("HidP_GetSpecificButtonCaps", &HidInterface::buttonCaps, type, usagePage, linkCollection, usage,
                     caps, length, data);
}

uint32_t HidGetSpecificValueCaps(HidpReportType type, uint16_t usagePage, uint16_t linkCollection, uint16_t usage,
                                 HidpValueCaps* caps, uint16_t* length, PreparsedData data) {
  return GetSpecific("HidP_GetSpecificValueCaps", &HidInterface::valueCaps, type, usagePage, linkCollection, usage,
                     caps, length, data);
}

uint32_t HidMaxUsageListLength(HidpReportType type, uint16_t usagePage, PreparsedData data) {
  std::lock_guard<std::mutex> lock(MachineMutex());
  PreparsedBlock* block = FindPreparsedLocked(data);
  const auto t = static_cast<uint32_t>(type);
  if (!block || t > 2) return 0;
  uint32_t total = 0;
  for (const auto& caps : block->desc.buttonCaps[t]) {
    if (usagePage && caps.UsagePage != usagePage) continue;
    if (caps.IsRange && caps.Range.UsageMin <= caps.Range.UsageMax) {
      total += static_cast<uint32_t>(caps.Range.UsageMax - caps.Range.UsageMin) + 1;
    } else {
      total += 1;
    }
  }
  return total;
}

// ---- SetupAPI ----

Handle GetClassDevices(const Guid* guid, uint32_t flags) {
  std::lock_guard<std::mutex> lock(MachineMutex());
  if (ShouldFailLocked("SetupDiGetClassDevs")) return InvalidHandle();
  Guid hid{};
  HidGetHidGuid(&hid);
  if (!guid || std::memcmp(guid, &hid, sizeof hid) != 0 || !(flags & kDigcfDeviceInterface)) {
    SetLastError(kErrorInvalidParameter);
    return InvalidHandle();
  }
  auto set = std::make_shared<DeviceInfoSet>();
  for (auto& iface : H().present) set->paths.push_back(iface->desc.path);
  H().liveSets++;
  return AddHandleLocked(set);
}

bool EnumDeviceInterfaces(Handle handle, const Guid* guid, uint32_t index, DeviceInterfaceData* data) {
  std::lock_guard<std::mutex> lock(MachineMutex());
  auto set = LookupAsLocked<DeviceInfoSet>(handle);
  if (!set || !guid) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  if (!data || data->cbSize != sizeof(DeviceInterfaceData)) {
    SetLastError(kErrorInvalidUserBuffer);
    return false;
  }
  if (ShouldFailLocked("SetupDiEnumDeviceInterfaces")) return false;
  if (index >= set->paths.size()) {
    SetLastError(kErrorNoMoreItems);
    return false;
  }
  auto failure = H().enumFailures.find(index);
  if (failure != H().enumFailures.end()) {
    SetLastError(failure->second);
    return false;
  }
  data->InterfaceClassGuid = *guid;
  data->Flags = 1;  // SPINT_ACTIVE
  data->Reserved = index + 1;
  return true;
}

bool GetDeviceInterfaceDetail(Handle handle, DeviceInterfaceData* data, DeviceInterfaceDetail* detail,
                              uint32_t detailSize, uint32_t* requiredSize) {
  std::lock_guard<std::mutex> lock(MachineMutex());
  auto set = LookupAsLocked<DeviceInfoSet>(handle);
  if (!set) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  if (!data || data->cbSize != sizeof(DeviceInterfaceData) || data->Reserved == 0 ||
      data->Reserved > set->paths.size()) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  const auto index = static_cast<uint32_t>(data->Reserved - 1);
  const std::u16string& path = set->paths[index];
  auto faultIt = H().detailFaults.find(index);
  const bool hasFault = faultIt != H().detailFaults.end();
  const DetailFault fault = hasFault ? faultIt->second : DetailFault::ReadFails;

  uint32_t required = static_cast<uint32_t>(kDeviceInterfaceDetailPathOffset + (path.size() + 1) * 2);
  if (hasFault && fault == DetailFault::SizeTooSmall) required = 2;
  if (hasFault && fault == DetailFault::Unterminated) {
    required = static_cast<uint32_t>(kDeviceInterfaceDetailPathOffset + path.size() * 2);
  }
  if (requiredSize) *requiredSize = required;
  if (!detail) {
    SetLastError(detailSize ? kErrorInvalidUserBuffer : kErrorInsufficientBuffer);
    return false;
  }
  if (detail->cbSize != kDeviceInterfaceDetailFixedSize) {
    SetLastError(kErrorInvalidUserBuffer);
    return false;
  }
  if (detailSize < required) {
    SetLastError(kErrorInsufficientBuffer);
    return false;
  }
  if (ShouldFailLocked("SetupDiGetDeviceInterfaceDetail")) return false;
  if (hasFault && fault == DetailFault::ReadFails) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  // The path's code units, then the NUL if it fits.
  const size_t room = (detailSize - kDeviceInterfaceDetailPathOffset) / 2;
  const size_t n = std::min(room, path.size());
  char16_t* out = reinterpret_cast<char16_t*>(reinterpret_cast<uint8_t*>(detail) + kDeviceInterfaceDetailPathOffset);
  std::memcpy(out, path.data(), n * 2);
  if (n < room) out[n] = 0;
  return true;
}

bool DestroyDeviceInfoList(Handle handle) {
  {
    std::lock_guard<std::mutex> lock(MachineMutex());
    if (!LookupAsLocked<DeviceInfoSet>(handle)) {
      SetLastError(kErrorInvalidHandle);
      return false;
    }
  }
  return CloseHandle(handle);
}

}  // namespace platform
