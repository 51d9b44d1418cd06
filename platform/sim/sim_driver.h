// Controls of the simulated keyboard filter driver.
//
// The driver's contract as the system relies on it: a control device
// "\\.\kbdfiltr_QX7TL4" opened exclusively; control code 0x0022210C installs a
// key table of 24-byte records (or removes it when sent without a buffer);
// control code 0x00222138 with one byte sets the layer mode (1 on, 0 off).
// While a table is installed, a key transition signals the event of every
// record of that transition whose Action byte 0 is 1: records whose Action
// bytes 1-2 are non-zero (character keys) only while the layer mode is 1, the
// others (the layer key) whatever the mode. Releases of character keys are
// never reported. Once the table is removed, nothing is signalled.
//
// Failure injection: "OpenControlDevice" and "DeviceIoControl".
#pragma once

#include <cstdint>
#include <vector>

#include "platform/kernel.h"

namespace platform::sim {

constexpr char16_t kFilterDevicePath[] = u"\\\\.\\kbdfiltr_QX7TL4";

// One control call that reached the driver's device, in order.
struct ControlCall {
  uint32_t code;
  bool inputNull;              // no input buffer at all
  std::vector<uint8_t> input;  // the input bytes as they were at the call
  bool succeeded;
};

// Whether the driver is installed (default after a reset: yes). Without it
// opening its device fails with kErrorFileNotFound.
void SetFilterDriverPresent(bool present);

// A make (press) or break (release) of a key at the driver, by set-1 scan
// code (without an E0 prefix). Returns how many events it signalled.
int PressScanCode(uint8_t scanCode);
int ReleaseScanCode(uint8_t scanCode);

// The driver's state.
bool FilterDeviceOpen();
bool FilterTableInstalled();
size_t FilterTableRecordCount();
uint8_t FilterLayerMode();
int FilterOpenCount();   // successful opens since the reset
int FilterCloseCount();  // closes of an open device handle since the reset
std::vector<ControlCall> ControlCalls();
void ClearControlCalls();
size_t ControlCallCount();
// Blocks until at least `count` control calls have been made since the reset.
bool WaitForControlCallCount(size_t count, uint32_t timeoutMs = 10000);

}  // namespace platform::sim
