// Per-report item tables of an open HidDevice: for input, output and feature
// reports a zero-filled report buffer, the button and value capability arrays
// as the HID class library returns them, and an item table with one item per
// button capability followed by one item per usage of each value capability.
#pragma once

#include "hid/hid_device.h"

namespace tavlo {

// Lays out the three report types once per open: 1 when they are laid out
// (or already were), 0 when the record is not open, a capability query or an
// allocation fails, or the capabilities do not fit their table. What a failed
// build allocated stays in the record until the next Close, Destroy or build,
// and is released exactly once.
int BuildReportTables(HidDevice& device);

}  // namespace tavlo
