// Running instances: how a later launch finds the hidden main window of an
// instance of the same executable and what it tells it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/text.h"

// The marker in the main window's user-data slot: 'M','A','I','N'.
constexpr uint32_t InstanceMarker = 0x4D41494E;

// Private messages posted by later launches to the running instance.
constexpr uint32_t WM_INSTANCE_OPEN = 0x5370;
constexpr uint32_t WM_INSTANCE_KILL = 0x4F69;
// Their wParam values: 'O','p','e','n' and 'K','i','l','l'.
constexpr uint32_t kInstanceOpenParam = 0x4F70656E;
constexpr uint32_t kInstanceKillParam = 0x4B696C6C;

// Which message a launch sends.
enum InstanceSignal : int {
  SignalOpen = 0,  // WM_INSTANCE_OPEN, unless the launch carries "/Start"
  SignalKill = 1,  // WM_INSTANCE_KILL
};

// The executable's own path in drive-letter form, set once at start-up.
extern char16_t ModulePath[platform::kPathBufferLength];
// 1 when the launch carries "/Start", set once at start-up.
extern int StartedByStartSwitch;

// Finds the hidden main windows of running instances of the executable at
// modulePath and signals them: SignalOpen posts WM_INSTANCE_OPEN to the first
// one in Z order (nothing if StartedByStartSwitch is set); SignalKill posts
// WM_INSTANCE_KILL to every one (up to kMaxSignalledInstances), pausing
// 100 ms after each. A kill finds all of them before it signals the first.
constexpr size_t kMaxSignalledInstances = 64;
void SignalRunningInstance(const char16_t* modulePath, InstanceSignal signal);

// Converts an executable's path in device form (\Device\HarddiskVolume2\x.exe)
// to drive-letter form (C:\x.exe) through the drive list. The drive's device
// name must be a prefix of the path (case ignored) that ends at a path
// separator, so \Device\HarddiskVolume1 never matches \Device\HarddiskVolume10\...
// out holds kPathBufferLength code units; a longer result is cut to fit.
// Returns false when no drive matches or the drives cannot be listed.
bool ImagePathToDosPath(const char16_t* imagePath, char16_t* out);
