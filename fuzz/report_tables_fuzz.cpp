// Report item tables built from arbitrary capability arrays and counts, as a
// misbehaving device or HID library could present them.
#include <cstdlib>

#include "fuzz/fuzz_input.h"
#include "hid/hid_device.h"
#include "hid/report_tables.h"
#include "platform/sim/sim.h"
#include "platform/sim/sim_hid.h"

using namespace platform;

namespace {

HidpButtonCaps FuzzButton(tavlo::fuzz::Input& in) {
  const uint16_t min = in.U16();
  const uint16_t max = in.Bool() ? min : in.U16();
  HidpButtonCaps b = sim::ButtonCaps(in.U16(), in.U8(), min, max);
  b.IsRange = in.U8();
  return b;
}

HidpValueCaps FuzzValue(tavlo::fuzz::Input& in) {
  const bool range = in.Bool();
  const uint16_t min = in.U16();
  const uint16_t max = in.U16();
  return sim::ValueCaps(in.U16(), in.U8(), range, min, max, in.U8(), in.U8());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tavlo::fuzz::Input in(data, size);
  const std::u16string path = u"\\\\?\\hid#vid_1c4f&pid_0002&mi_01&col02#fuzz#{4d1e55b2-f16f-11cf-88cb-001111000030}";
  sim::HidInterface device = sim::GenericHidInterface(path, 0x1C4F, 0x0002, 0x000C, 0x0001, 3);
  device.caps.InputReportByteLength = in.U8();
  device.caps.OutputReportByteLength = in.U8();
  device.caps.FeatureReportByteLength = in.U8();
  for (int type = 0; type < 3; ++type) {
    const int buttons = in.U8() % 5;
    const int values = in.U8() % 5;
    for (int i = 0; i < buttons; ++i) device.buttonCaps[type].push_back(FuzzButton(in));
    for (int i = 0; i < values; ++i) device.valueCaps[type].push_back(FuzzValue(in));
  }
  // Sometimes counts that disagree with the arrays.
  if (in.Bool()) {
    device.capsCountsFromArrays = false;
    device.caps.NumberInputButtonCaps = in.U8() % 6;
    device.caps.NumberInputValueCaps = in.U8() % 6;
    device.caps.NumberOutputButtonCaps = in.U8() % 6;
    device.caps.NumberOutputValueCaps = in.U8() % 6;
    device.caps.NumberFeatureButtonCaps = in.U8() % 6;
    device.caps.NumberFeatureValueCaps = in.U8() % 6;
  }
  const long blocksBefore = sim::LiveBlockCount();
  sim::AddHidInterface(device);
  {
    tavlo::HidDevice record;
    if (tavlo::OpenForReading(record, path.c_str())) {
      tavlo::BuildReportTables(record);
      tavlo::BuildReportTables(record);  // a second build on the same open
    }
    tavlo::Destroy(record);
  }
  sim::RemoveHidInterface(path);
  if (sim::LiveBlockCount() != blocksBefore) std::abort();  // nothing leaked
  return 0;
}
