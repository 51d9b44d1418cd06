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
  platform::HidpReportType type;
  uint16_t reportLength;
  uint16_t buttonCapsCount;
  uint16_t valueCapsCount;
  uint8_t*& buffer;
  HidDataItem*& items;
  uint32_t& itemCount;
  platform::HidpButtonCaps*& buttonCaps;
  platform::HidpValueCaps*& valueCaps;
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

bool LayOut(HidDevice& d, Layout& x) {
  // The report buffer; a failed allocation only leaves it null.
  x.buffer = static_cast<uint8_t*>(platform::AllocZeroed(x.reportLength));

  x.buttonCaps = AllocArray<platform::HidpButtonCaps>(x.buttonCapsCount);
  if (!x.buttonCaps) return false;
  x.valueCaps = AllocArray<platform::HidpValueCaps>(x.valueCapsCount);
  if (!x.valueCaps) return false;

  if (x.buttonCapsCount) {
    uint16_t length = x.buttonCapsCount;
    const uint32_t status =
        platform::HidGetSpecificButtonCaps(x.type, 0, 0, 0, x.buttonCaps, &length, d.PreparsedData);
    if (status != platform::kHidpStatusSuccess) {
      platform::TraceFailure(u"HidP_GetSpecificButtonCaps", d.PathBuffer, status);
      return false;
    }
  }
  if (x.valueCapsCount) {
    uint16_t length = x.valueCapsCount;
    const uint32_t status =
        platform::HidGetSpecificValueCaps(x.type, 0, 0, 0, x.valueCaps, &length, d.PreparsedData);
    if (status != platform::kHidpStatusSuccess) {
      platform::TraceFailure(u"HidP_GetSpecificValueCaps", d.PathBuffer, status);
      return false;
    }
  }

  // Count the value items. A reversed input range fails the build; a reversed
  // output or feature range adds max - min + 1 as a signed number.
  const bool input = x.type == platform::HidpReportType::Input;
  int64_t valueItems = 0;
  for (uint32_t i = 0; i < x.valueCapsCount; ++i) {
    const platform::HidpValueCaps& caps = x.valueCaps[i];
    if (!caps.IsRange) {
      valueItems += 1;
      continue;
    }
    const int32_t min = caps.Range.UsageMin;
    const int32_t max = caps.Range.UsageMax;
    if (min > max && input) return false;
    valueItems += max - min + 1;
  }
  const int64_t total = static_cast<int64_t>(x.buttonCapsCount) + valueItems;
  if (total < 0 || total > UINT32_MAX) return false;

  x.items = AllocArray<HidDataItem>(static_cast<uint64_t>(total));
  if (!x.items) return false;
  x.itemCount = static_cast<uint32_t>(total);

  uint32_t index = 0;
  for (uint32_t i = 0; i < x.buttonCapsCount; ++i) {
    if (x.type == platform::HidpReportType::Output && !OutputButtonsFit(d)) return false;
    if (index >= x.itemCount) return false;
    const platform::HidpButtonCaps& caps = x.buttonCaps[i];
    HidDataItem& item = x.items[index++];
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
    item.MaxUsageListLength = platform::HidMaxUsageListLength(x.type, caps.UsagePage, d.PreparsedData);
    // A list that cannot be had only stays null.
    item.Usages = AllocArray<uint16_t>(item.MaxUsageListLength);
  }

  for (uint32_t i = 0; i < x.valueCapsCount; ++i) {
    const platform::HidpValueCaps& caps = x.valueCaps[i];
    const uint32_t first = caps.IsRange ? caps.Range.UsageMin : caps.NotRange.Usage;
    const uint32_t last = caps.IsRange ? caps.Range.UsageMax : caps.NotRange.Usage;
    for (uint32_t usage = first; usage <= last; ++usage) {  // 32-bit: ends after 0xFFFF
      if (index >= x.itemCount) return false;
      HidDataItem& item = x.items[index++];
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
       d.Caps.NumberOutputValueCaps, d.OutputReportBuffer, d.OutputItems, d.OutputItemCount,
       d.OutputButtonCaps, d.OutputValueCaps},
      {platform::HidpReportType::Feature, d.Caps.FeatureReportByteLength, d.Caps.NumberFeatureButtonCaps,
       d.Caps.NumberFeatureValueCaps, d.FeatureReportBuffer, d.FeatureItems, d.FeatureItemCount,
       d.FeatureButtonCaps, d.FeatureValueCaps},
  };
  for (Layout& layout : layouts) {
    if (!LayOut(d, layout)) return 0;
  }
  d.TablesBuilt = 1;
  return 1;
}

}  // namespace tavlo
