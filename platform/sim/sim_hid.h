// Controls of the simulated HID stack, for tests and the simulation runner.
//
// An interface is one HID top-level collection as Windows presents it: a
// device-interface path, its attributes, its caps and its capability arrays.
// Present interfaces are listed by SetupAPI in the order they were added and
// can be opened by path (letter case ignored). Every open handle of an
// interface has its own queue of input reports: PushInputReport hands a
// report to each, completing a pending overlapped read (its OVERLAPPED's
// event is signalled) or queueing it. Unplugging fails the pending reads with
// kErrorDeviceNotConnected and leaves the handles dead; closing a handle
// fails its pending reads with kErrorOperationAborted.
//
// Fallible calls: the HID, file and SetupAPI entries of FallibleCalls()
// (platform/sim/sim.h); "SetupDiGetDeviceInterfaceDetail" fails only the
// call with a buffer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/hid.h"

namespace platform::sim {

struct HidInterface {
  std::u16string path;
  HiddAttributes attributes{};
  // Caps as HidP_GetCaps gives them. Unless capsCountsFromArrays is false,
  // the Number{Input,Output,Feature}{Button,Value}Caps fields are set from the
  // arrays below when the interface is added.
  HidpCaps caps{};
  bool capsCountsFromArrays = true;
  // Indexed by HidpReportType: input, output, feature.
  std::vector<HidpButtonCaps> buttonCaps[3];
  std::vector<HidpValueCaps> valueCaps[3];
};

// ---- building descriptions ----

// "\\?\hid#vid_VVVV&pid_PPPP[&mi_MM][&colCC]#INSTANCE#{4d1e55b2-...}" in
// lower-case hex; mi or col below 0 leaves the tag out.
std::u16string HidInterfacePath(uint16_t vendor, uint16_t product, int mi, int col,
                                const std::u16string& instance = u"7&2f3a1b4c&0&0000");

// A button capability: a usage range (min != max) or one usage.
HidpButtonCaps ButtonCaps(uint16_t usagePage, uint8_t reportId, uint16_t usageMin, uint16_t usageMax);
// A value capability: a usage range when isRange, else the one usage min.
HidpValueCaps ValueCaps(uint16_t usagePage, uint8_t reportId, bool isRange, uint16_t usageMin, uint16_t usageMax,
                        uint16_t bitSize = 16, uint16_t reportCount = 1);

// A plain collection of any vendor: the given identity and input length, no
// capabilities.
HidInterface GenericHidInterface(const std::u16string& path, uint16_t vendor, uint16_t product, uint16_t usagePage,
                                 uint16_t usage, uint16_t inputLength = 8);

// The keyboard model (vendor 0x1C4F, product 0x0002).
constexpr uint16_t kModelVendor = 0x1C4F;
constexpr uint16_t kModelProduct = 0x0002;
// Its Consumer-Control collection: usage page 0x000C, usage 0x0001, a 3-byte
// input report (report ID 1, a 16-bit consumer usage value), interface 1,
// collection 2.
HidInterface ModelConsumerControl(int instance = 1);
// Its keyboard collection: usage page 1, usage 6, 9-byte input report
// (modifier buttons 0xE0-0xE7, key array 0x00-0xFF), LED output report;
// interface 0, no collection tag.
HidInterface ModelKeyboardCollection(int instance = 1);

struct ModelKeyboardPaths {
  std::u16string consumerControl;
  std::u16string keyboard;
};
// Plugs in one keyboard of the model (both collections); `instance`
// distinguishes several attached keyboards.
ModelKeyboardPaths AttachModelKeyboard(int instance = 1);
void DetachModelKeyboard(const ModelKeyboardPaths& paths);

// ---- plugging and reports ----

// Adds a present interface (an arrival). A present interface with the same
// path is replaced (unplugged first).
void AddHidInterface(const HidInterface& description);
// Unplugs: the interface leaves the enumeration, opens of its path fail with
// kErrorFileNotFound, pending reads fail with kErrorDeviceNotConnected and
// every open handle stays dead. False if no such interface is present.
bool RemoveHidInterface(const std::u16string& path);
// Paths of the present interfaces in enumeration order.
std::vector<std::u16string> PresentHidInterfaces();

// Delivers one input report (bytes as the class driver hands them, report ID
// first) to every open handle of the interface. A read whose buffer is
// shorter than the report gets the buffer's length. False if not present.
bool PushInputReport(const std::u16string& path, const std::vector<uint8_t>& report);

// The keyboard sends `report` right after the next open of the path: it
// waits in the new handle's queue (until a read takes it or a flush drops it).
void QueueReportOnNextOpen(const std::u16string& path, const std::vector<uint8_t>& report);

// Observations.
int HidOpenFileCount(const std::u16string& path);      // live handles of the interface
int HidPendingReadCount(const std::u16string& path);   // reads under way on them
int HidQueuedReportCount(const std::u16string& path);  // reports waiting in their queues
long LivePreparsedDataCount();
int LiveDeviceInfoSetCount();

// ---- SetupAPI faults ----

// Enumeration index `index` fails with `error` (until ResetMachine).
void FailEnumIndex(uint32_t index, uint32_t error);
enum class DetailFault {
  ReadFails,     // the call with a buffer fails (kErrorInvalidParameter)
  SizeTooSmall,  // the size query reports 2 bytes
  Unterminated,  // the size query leaves no room for the NUL; the path fills the buffer
};
void FailDetailAt(uint32_t index, DetailFault fault);

}  // namespace platform::sim
