// Per-report item tables of an open HidDevice: for input, output and feature
// reports a zero-filled report buffer, the button and value capability arrays
// as the HID class library returns them, and an item table with one item per
// button capability followed by one item per usage of each value capability.
#pragma once

#include <cstdint>

#include "hid/hid_device.h"

namespace tavlo {

// How much one report type (input, output or feature) of a collection may
// declare. Past either bound the collection is refused as malformed: the
// build fails, one debug line names the interface ("BuildReportTables <path>
// failed, error 13", ERROR_INVALID_DATA), and the interface gets no reader.
//
// Usages are 16-bit numbers, so one range capability can name 65,536 of
// them, and a report descriptor declares such a range in 7 bytes (Usage
// Minimum 0, Usage Maximum 0xFFFF, a main item): 300 of them, 2 KB, would be
// 19.7 million items. Real keyboards declare far less. The keyboard page's
// usages end at 0xE7 (232 keys and modifiers), so even an N-key-rollover
// bitmap of every key is one button capability, one item, with a usage list
// of a few hundred entries. A Consumer-Control collection declares one range
// of the consumer usages it sends: this keyboard's is 0x000-0x3FF, 1,024
// items, the largest table a real device of ours makes; vendor-defined
// collections add a few hundred at most.
//
// Capability records (button and value together) and items: 4,096, four
// times this keyboard's consumer range. At most 4,096 records of 72 bytes and
// 4,096 items of 28 (32-bit) or 40 bytes, 460 KB per report type.
constexpr uint32_t kMaxReportItems = 4096;
// Usage-list entries of all button items together. Each button item gets a
// list as long as everything its usage page can carry in one report, so the
// lists grow with the square of the buttons of one page. 65,536 entries,
// 128 KB: some hundred times an N-key-rollover keyboard's.
constexpr uint32_t kMaxReportUsageListEntries = 65536;

// Lays out the three report types once per open: 1 when they are laid out
// (or already were), 0 when the record is not open, a capability query or an
// allocation fails, the capabilities do not fit their table, or a report type
// declares more than the bounds above. What a failed
// build allocated stays in the record until the next Close, Destroy or build,
// and is released exactly once.
int BuildReportTables(HidDevice& device);

}  // namespace tavlo
