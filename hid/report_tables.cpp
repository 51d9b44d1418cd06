// Report item tables: buffers, capability arrays and item tables for the
// input, output and feature reports of an open HidDevice.
#include "hid/report_tables.h"

#include <cstddef>
#include <cstdint>

#include "platform/trace.h"

namespace tavlo {

void ReleaseReportLayouts(HidDevice& d);  // hid_device.cpp

namespace {

// The fields of one report type.
struct Layout {
  platform::HidpReportType Type;
  uint16_t ReportLength;
  uint16_t ButtonCapsCount;
  uint16_t ValueCapsCount;
  uint8_t*& Buffer;
  HidDataItem*& Items;
  uint32_t& ItemCount;
  platform::HidpButtonCaps*& ButtonCaps;
  platform::HidpValueCaps*& ValueCaps;
};

// A zero-filled array of `count` entries; never a size that wraps around.
template <typename T>
T* AllocArray(uint64_t count) {
  if (count > SIZE_MAX / sizeof(T)) return nullptr;
  return static_cast<T*>(platform::AllocZeroed(static_cast<size_t>(count * sizeof(T))));
}

// Checks the first output value capability against the output buttons: the
// layout is refused when its UsageMin equals its UsageMax plus the number of
// output button capabilities. Without an output value capability there is
// nothing to check (and nothing is read).
bool OutputButtonsFit(const HidDevice& d) {
  if (d.Caps.NumberOutputValueCaps == 0 || !d.OutputValueCaps) return true;
  const platform::HidpValueCaps& first = d.OutputValueCaps[0];
  return static_cast<uint32_t>(first.Range.UsageMin) !=
         static_cast<uint32_t>(first.Range.UsageMax) + d.Caps.NumberOutputButtonCaps;
}

// A collection that declares more than the bounds of report_tables.h.
bool Refuse(const HidDevice& d) {
  platform::TraceFailure(u"BuildReportTables", d.PathBuffer, platform::kErrorInvalidData);
  return false;
}

bool LayOut(HidDevice& d, Layout& x) {
  // The report buffer; a failed allocation only leaves it null.
  x.Buffer = static_cast<uint8_t*>(platform::AllocZeroed(x.ReportLength));

  // Every capability makes at least one item (or none, for a reversed
  // range): more than the table may hold is refused before its arrays are had.
  if (static_cast<uint32_t>(x.ButtonCapsCount) + x.ValueCapsCount > kMaxReportItems) return Refuse(d);

  x.ButtonCaps = AllocArray<platform::HidpButtonCaps>(x.ButtonCapsCount);
  if (!x.ButtonCaps) return false;
  x.ValueCaps = AllocArray<platform::HidpValueCaps>(x.ValueCapsCount);
  if (!x.ValueCaps) return false;

  if (x.ButtonCapsCount) {
    uint16_t length = x.ButtonCapsCount;
    const uint32_t status = platform::HidGetSpecificButtonCaps(x.Type, 0, 0, 0, x.ButtonCaps, &length, d.PreparsedData);
    if (status != platform::kHidpStatusSuccess) {
      platform::TraceFailure(u"HidP_GetSpecificButtonCaps", d.PathBuffer, status);
      return false;
    }
  }
  if (x.ValueCapsCount) {
    uint16_t length = x.ValueCapsCount;
    const uint32_t status = platform::HidGetSpecificValueCaps(x.Type, 0, 0, 0, x.ValueCaps, &length, d.PreparsedData);
    if (status != platform::kHidpStatusSuccess) {
      platform::TraceFailure(u"HidP_GetSpecificValueCaps", d.PathBuffer, status);
      return false;
    }
  }

  // Count the value items. A reversed input range fails the build; a reversed
  // output or feature range adds max - min + 1 as a signed number.
  const bool input = x.Type == platform::HidpReportType::Input;
  int64_t valueItems = 0;
  for (uint32_t i = 0; i < x.ValueCapsCount; ++i) {
    const platform::HidpValueCaps& caps = x.ValueCaps[i];
    if (!caps.IsRange) {
      valueItems += 1;
      continue;
    }
    const int32_t min = caps.Range.UsageMin;
    const int32_t max = caps.Range.UsageMax;
    if (min > max && input) return false;
    valueItems += max - min + 1;
  }
  const int64_t total = static_cast<int64_t>(x.ButtonCapsCount) + valueItems;
  if (total < 0) return false;
  if (total > kMaxReportItems) return Refuse(d);

  x.Items = AllocArray<HidDataItem>(static_cast<uint64_t>(total));
  if (!x.Items) return false;
  x.ItemCount = static_cast<uint32_t>(total);

  uint32_t index = 0;
  uint64_t usageListEntries = 0;
  for (uint32_t i = 0; i < x.ButtonCapsCount; ++i) {
    if (x.Type == platform::HidpReportType::Output && !OutputButtonsFit(d)) return false;
    if (index >= x.ItemCount) return false;
    const platform::HidpButtonCaps& caps = x.ButtonCaps[i];
    HidDataItem& item = x.Items[index++];
    item.IsButton = 1;
    item.Status = platform::kHidpStatusSuccess;
    item.UsagePage = caps.UsagePage;
    item.ReportId = caps.ReportID;
    if (caps.IsRange) {
      item.UsageMin = caps.Range.UsageMin;
      item.UsageMax = caps.Range.UsageMax;
    } else {
      item.UsageMin = caps.NotRange.Usage;
      item.UsageMax = caps.NotRange.Usage;
    }
    item.MaxUsageListLength = platform::HidMaxUsageListLength(x.Type, caps.UsagePage, d.PreparsedData);
    usageListEntries += item.MaxUsageListLength;
    if (usageListEntries > kMaxReportUsageListEntries) return Refuse(d);
    // A list that cannot be had only stays null.
    item.Usages = AllocArray<uint16_t>(item.MaxUsageListLength);
  }

  for (uint32_t i = 0; i < x.ValueCapsCount; ++i) {
    const platform::HidpValueCaps& caps = x.ValueCaps[i];
    const uint32_t first = caps.IsRange ? caps.Range.UsageMin : caps.NotRange.Usage;
    const uint32_t last = caps.IsRange ? caps.Range.UsageMax : caps.NotRange.Usage;
    for (uint32_t usage = first; usage <= last; ++usage) {  // 32-bit: ends after 0xFFFF
      if (index >= x.ItemCount) return false;
      HidDataItem& item = x.Items[index++];
      item.IsButton = 0;
      item.Status = platform::kHidpStatusSuccess;
      item.UsagePage = caps.UsagePage;
      item.ReportId = caps.ReportID;
      item.Usage = static_cast<uint16_t>(usage);
    }
  }
  return true;
}

}  // namespace

int BuildReportTables(HidDevice& d) {
  if (!platform::IsUsableHandle(d.Handle)) return 0;
  if (d.TablesBuilt) return 1;
  // The partial results of an earlier failed build go first, exactly once.
  ReleaseReportLayouts(d);
  d.InputItemCount = d.OutputItemCount = d.FeatureItemCount = 0;

  Layout layouts[3] = {
      {platform::HidpReportType::Input, d.Caps.InputReportByteLength, d.Caps.NumberInputButtonCaps,
       d.Caps.NumberInputValueCaps, d.InputReportBuffer, d.InputItems, d.InputItemCount, d.InputButtonCaps,
       d.InputValueCaps},
      {platform::HidpReportType::Output, d.Caps.OutputReportByteLength, d.Caps.NumberOutputButtonCaps,
       d.Caps.NumberOutputValueCaps, d.OutputReportBuffer, d.OutputItems, d.OutputItemCount, d.OutputButtonCaps,
       d.OutputValueCaps},
      {platform::HidpReportType::Feature, d.Caps.FeatureReportByteLength, d.Caps.NumberFeatureButtonCaps,
       d.Caps.NumberFeatureValueCaps, d.FeatureReportBuffer, d.FeatureItems, d.FeatureItemCount, d.FeatureButtonCaps,
       d.FeatureValueCaps},
  };
  for (Layout& layout : layouts) {
    if (!LayOut(d, layout)) return 0;
  }
  d.TablesBuilt = 1;
  return 1;
}

}  // namespace tavlo
