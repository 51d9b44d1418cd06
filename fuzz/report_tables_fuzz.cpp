// Report item tables built from arbitrary capability arrays and counts, as a
// misbehaving device or HID library could present them: from a few records
// to a little past the tables' bounds (report_tables.h), with ranges anywhere
// in the 16-bit usage space. Whatever the input, the build allocates no more
// than the bounds allow, leaks nothing and touches nothing outside its
// arrays.
#include <cstdlib>

#include "fuzz/fuzz_input.h"
#include "hid/hid_device.h"
#include "hid/report_tables.h"
#include "platform/sim/sim.h"
#include "platform/sim/sim_hid.h"

using namespace platform;

namespace {

// The most a build may hold at its height: per report type its report
// buffer, its capability records, its items and its usage lists.
constexpr long kMostBytes =
    3 * static_cast<long>(0xFFFF + tavlo::kMaxReportItems * (sizeof(HidpValueCaps) + sizeof(tavlo::HidDataItem)) +
                          tavlo::kMaxReportUsageListEntries * sizeof(uint16_t));

// A usage range: anywhere, or (often) up to the top of the 16-bit space.
void FuzzRange(tavlo::fuzz::Input& in, uint16_t* min, uint16_t* max) {
  *min = in.U16();
  switch (in.U8() % 4) {
    case 0:
      *max = *min;
      break;
    case 1:
      *max = 0xFFFF;
      break;
    default:
      *max = in.U16();
      break;
  }
}

HidpButtonCaps FuzzButton(tavlo::fuzz::Input& in) {
  uint16_t min = 0, max = 0;
  FuzzRange(in, &min, &max);
  HidpButtonCaps b = sim::ButtonCaps(in.U16(), in.U8(), min, max);
  b.IsRange = in.U8();
  return b;
}

HidpValueCaps FuzzValue(tavlo::fuzz::Input& in) {
  const bool range = in.Bool();
  uint16_t min = 0, max = 0;
  FuzzRange(in, &min, &max);
  return sim::ValueCaps(in.U16(), in.U8(), range, min, max, in.U8(), in.U8());
}

// How many copies of one record a run adds: mostly a few, sometimes up to a
// little past the bound on capability records.
uint32_t RunLength(tavlo::fuzz::Input& in) {
  const uint8_t kind = in.U8();
  if (kind < 192) return kind % 5;
  return in.U16() % (tavlo::kMaxReportItems + 64);
}

uint16_t ReportLength(tavlo::fuzz::Input& in) { return in.Bool() ? in.U16() : in.U8(); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tavlo::fuzz::Input in(data, size);
  const std::u16string path = u"\\\\?\\hid#vid_1c4f&pid_0002&mi_01&col02#fuzz#{4d1e55b2-f16f-11cf-88cb-001111000030}";
  sim::HidInterface device = sim::GenericHidInterface(path, 0x1C4F, 0x0002, 0x000C, 0x0001, 3);
  device.caps.InputReportByteLength = ReportLength(in);
  device.caps.OutputReportByteLength = ReportLength(in);
  device.caps.FeatureReportByteLength = ReportLength(in);
  for (int type = 0; type < 3; ++type) {
    // A few runs of buttons and values, each run copies of one record whose
    // usages may step on from copy to copy.
    const int runs = in.U8() % 4;
    for (int run = 0; run < runs; ++run) {
      const bool button = in.Bool();
      const uint32_t count = RunLength(in);
      const uint16_t step = in.U8() % 3;
      if (button) {
        HidpButtonCaps b = FuzzButton(in);
        for (uint32_t i = 0; i < count; ++i, b.Range.UsageMin = static_cast<uint16_t>(b.Range.UsageMin + step))
          device.buttonCaps[type].push_back(b);
      } else {
        HidpValueCaps v = FuzzValue(in);
        for (uint32_t i = 0; i < count; ++i, v.Range.UsageMin = static_cast<uint16_t>(v.Range.UsageMin + step))
          device.valueCaps[type].push_back(v);
      }
    }
  }
  // Sometimes counts that disagree with the arrays, up to the 16-bit most.
  if (in.Bool()) {
    device.capsCountsFromArrays = false;
    uint16_t* counts[] = {&device.caps.NumberInputButtonCaps,   &device.caps.NumberInputValueCaps,
                          &device.caps.NumberOutputButtonCaps,  &device.caps.NumberOutputValueCaps,
                          &device.caps.NumberFeatureButtonCaps, &device.caps.NumberFeatureValueCaps};
    for (uint16_t* count : counts) *count = in.Bool() ? in.U16() : in.U8() % 6;
  }
  const long blocksBefore = sim::LiveBlockCount();
  sim::AddHidInterface(device);
  {
    tavlo::HidDevice record;
    if (tavlo::OpenForReading(record, path.c_str())) {
      sim::ResetPeakBlockBytes();
      const long bytesBefore = sim::LiveBlockBytes();
      tavlo::BuildReportTables(record);
      tavlo::BuildReportTables(record);                                    // a second build on the same open
      if (sim::PeakBlockBytes() - bytesBefore > kMostBytes) std::abort();  // past the bounds
    }
    tavlo::Destroy(record);
  }
  sim::RemoveHidInterface(path);
  if (sim::LiveBlockCount() != blocksBefore) std::abort();  // nothing leaked
  return 0;
}
