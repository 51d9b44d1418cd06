// The layer signal of the keyboard's Consumer-Control collection: its 3-byte
// input report (report ID, then a 16-bit value, low byte first) carries
// 0x00FE while the layer key is held and 0x0000 once it is released.
#pragma once

#include <cstdint>

namespace tavlo {

constexpr uint16_t kLayerKeyHeldValue = 0x00FE;
constexpr uint16_t kLayerKeyReleasedValue = 0x0000;
constexpr uint32_t kConsumerReportLength = 3;

// Win32 error codes the handler returns.
constexpr int32_t kConsumerReportOk = 0;            // ERROR_SUCCESS
constexpr int32_t kConsumerReportInvalidData = 13;  // ERROR_INVALID_DATA

// The reader's callback (ReportCallback, hid/reader.h) of every listed
// keyboard interface; runs on that interface's reader thread. A delivered
// report of 3 bytes with value 0x00FE sends layer mode 1 with SendLayerMode,
// value 0x0000 sends mode 0, every time, whatever was sent before; any other
// value sends nothing. The report ID (byte 0) is not looked at.
//
// Returns 13 (ERROR_INVALID_DATA) for a delivered report that is not 3 bytes
// long or has no bytes, 0 otherwise. The reader's end notice (hasReport 0)
// changes nothing: an interface that goes away while the layer key is held
// sends no mode 0. `context` is not used.
int32_t OnConsumerReport(void* context, int32_t hasReport, const uint8_t* report, uint32_t length);

}  // namespace tavlo
