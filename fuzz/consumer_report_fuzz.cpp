// The Consumer-Control report handler with any call a reader could make and
// any the contract rules out: any hasReport value, any length, the bytes in a
// block of exactly that length (or none at all), with the driver open, never
// opened or already closed. Only a delivered 3-byte report with value 0x00FE
// or 0x0000 may reach the driver, as exactly one layer-mode call carrying
// that mode.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "devices/consumer_report.h"
#include "fuzz/fuzz_input.h"
#include "layer/driver_link.h"
#include "platform/sim/sim.h"
#include "platform/sim/sim_driver.h"
#include "platform/sim/sim_trace.h"

namespace sim = platform::sim;

namespace {

platform::Handle g_openDriver = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  sim::ResetMachine();
  tavlo::CreateKeyEvents();
  if (tavlo::OpenKeyFilter(nullptr) != tavlo::kKeyFilterOpened) std::abort();
  g_openDriver = tavlo::DriverHandle;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tavlo::fuzz::Input in(data, size);
  const uint8_t driverState = in.U8() % 3;  // open, never opened, failed open
  const int32_t hasReport = static_cast<int32_t>(in.U16() % 4 == 0 ? 0 : in.U16() | (in.U16() << 16));
  const bool nullBytes = in.U8() % 16 == 0;
  const uint8_t initialMode = in.U8() & 1;
  std::vector<uint8_t> bytes;
  while (in.Remaining()) bytes.push_back(in.U8());
  const auto length = static_cast<uint32_t>(bytes.size());

  // The report in a block of exactly its length, so any read past it is caught.
  uint8_t* block = nullptr;
  if (!nullBytes) {
    block = static_cast<uint8_t*>(std::malloc(bytes.empty() ? 1 : bytes.size()));
    if (!bytes.empty()) std::memcpy(block, bytes.data(), bytes.size());
  }

  tavlo::DriverHandle = driverState == 0 ? g_openDriver : driverState == 1 ? nullptr : platform::InvalidHandle();
  tavlo::LayerMode.store(initialMode);
  sim::ClearControlCalls();
  sim::ClearTrace();

  const int32_t result = tavlo::OnConsumerReport(nullptr, hasReport, block, length);

  // What the handler must have done.
  int expectedMode = -1;  // none
  int32_t expectedResult = tavlo::kConsumerReportOk;
  if (hasReport != 0) {
    if (length != tavlo::kConsumerReportLength || block == nullptr) {
      expectedResult = tavlo::kConsumerReportInvalidData;
    } else {
      const uint16_t value = static_cast<uint16_t>(bytes[1] | (bytes[2] << 8));
      if (value == 0x00FE) expectedMode = 1;
      if (value == 0x0000) expectedMode = 0;
    }
  }
  if (result != expectedResult) std::abort();
  if (tavlo::LayerMode.load() != (expectedMode < 0 ? initialMode : expectedMode)) std::abort();
  const std::vector<sim::ControlCall> calls = sim::ControlCalls();
  if (expectedMode < 0 || driverState != 0) {
    if (!calls.empty()) std::abort();
  } else {
    if (calls.size() != 1) std::abort();
    const sim::ControlCall& call = calls[0];
    if (call.code != tavlo::IOCTL_SET_LAYER_MODE || call.inputNull || call.input.size() != 1) std::abort();
    if (call.input[0] != expectedMode) std::abort();
  }
  if (driverState == 0 && expectedMode >= 0 && sim::FilterLayerMode() != expectedMode) std::abort();

  tavlo::DriverHandle = g_openDriver;
  std::free(block);
  return 0;
}
