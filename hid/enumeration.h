// The device-interface paths of all HID interfaces present at the moment of
// the call, through SetupAPI, held by a HidDevice that serves as enumerator
// (it need not be open).
#pragma once

#include <cstdint>

#include "hid/hid_device.h"

namespace tavlo {

// Fills `list` with an array (capacity a power of two, at least 8) whose
// first `count` entries are separately allocated copies of the paths SetupAPI
// gives at indices 0..count-1; an index that failed holds null. 1 on success;
// 0 with the list null and the count 0 when the set cannot be had, memory runs
// out or a detail cannot be read (everything allocated is released).
int EnumerateHidInterfaces(char16_t*** list, int32_t* count);
// PathCursor = 0, then EnumerateHidInterfaces into PathList and PathCount.
// A list the record already held is released first.
int EnumerateInterfaces(HidDevice& device);
// The next path, or null at the end (and for an entry whose index failed).
const char16_t* NextPath(HidDevice& device);
// Releases the paths and the array; PathCount and PathCursor stay.
void FreePathList(HidDevice& device);

}  // namespace tavlo
