// The list of attached keyboard interfaces, kept current through device
// notices.
//
// Of the HID interfaces a keyboard of the model (vendor 0x1C4F, product
// 0x0002) presents, only its Consumer-Control collection (usage page 0x000C,
// usage 0x0001) is listed: each listed interface is held open with its own
// reader, which hands every input report to OnConsumerReport
// (devices/consumer_report.h).
//
// Every operation here runs on the main thread (the hidden main window's
// message handling); the list has no lock. A reader touches only its own
// record, never the list. A record is freed only after Destroy has returned,
// and Destroy returns only once the record's reader has ended.
#pragma once

#include <cstdint>

#include "hid/hid_device.h"
#include "platform/text.h"

namespace tavlo {

// The keyboard model.
constexpr uint16_t kKeyboardVendorId = 0x1C4F;
constexpr uint16_t kKeyboardProductId = 0x0002;
// Its Consumer-Control collection.
constexpr uint16_t kConsumerUsagePage = 0x000C;
constexpr uint16_t kConsumerControlUsage = 0x0001;

// One listed interface: its path, upper-cased (at most 259 characters and a
// NUL), and the opened record with its reader, which the entry owns.
struct DeviceEntry {
  char16_t Path[platform::kPathBufferLength];
  HidDevice* Device;
};

// The process-wide list, in the order the interfaces were added. The same
// path may stand in more than one entry. Storage comes from the platform
// heap and is released when the list becomes empty.
struct DeviceListStorage {
  DeviceEntry* Entries = nullptr;
  uint32_t Count = 0;
  uint32_t Capacity = 0;
};
extern DeviceListStorage DeviceList;

// True when the path's "vid_" and "pid_" tags (letter case ignored; the hex
// digits that follow each, none read as 0, low 16 bits kept) name the
// keyboard model. False for a null path.
bool IsKeyboardPath(const char16_t* path);

// A device-interface arrival (or an interface found by the scan): opens the
// path if it names the keyboard model, keeps it only if it is the
// Consumer-Control collection, appends an entry, discards the reports queued
// so far and starts its reader with OnConsumerReport and `window` as the
// context. 1 when an entry was added (also when the reader could not be
// started: the entry then stays open without a reader until its removal),
// 0 otherwise, with nothing left open.
int AddKeyboardInterface(const char16_t* path, void* window);

// A device-interface removal: every entry whose path equals `path` (letter
// case ignored, the notice's path read up to 259 characters as on arrival)
// is destroyed, freed and erased; the others keep their order. A path that
// does not name the keyboard model leaves the list unwalked.
void RemoveKeyboardInterface(const char16_t* path);

// Start-up: offers every present HID interface to AddKeyboardInterface, in
// enumeration order. Entries whose enumeration failed are stepped over; the
// walk goes on to the end of the list. Entries listed before the scan are
// released first, so none is lost.
void ScanKeyboardInterfaces(void* window);

// Shutdown: destroys and frees every listed interface; the list is empty
// afterwards.
void ReleaseKeyboardInterfaces();

}  // namespace tavlo
