// The Consumer-Control report handler.
#include "devices/consumer_report.h"

#include "layer/driver_link.h"

namespace tavlo {

int32_t OnConsumerReport(void* /*context*/, int32_t hasReport, const uint8_t* report, uint32_t length) {
  if (!hasReport) return kConsumerReportOk;
  if (length != kConsumerReportLength || report == nullptr) return kConsumerReportInvalidData;
  const uint16_t value = static_cast<uint16_t>(report[1] | (report[2] << 8));
  uint8_t mode;
  if (value == kLayerKeyHeldValue) {
    mode = 1;
  } else if (value == kLayerKeyReleasedValue) {
    mode = 0;
  } else {
    return kConsumerReportOk;
  }
  SendLayerMode(mode);
  return kConsumerReportOk;
}

}  // namespace tavlo
