// The background reader of a HidDevice's input reports.
//
// Callback contract (ReportCallback, hid/hid_device.h):
// - It runs on the reader thread, never on the thread that started the
//   reader; readers of different records run at the same time.
// - For every completed read: (CallbackContext, 1, InputReportBuffer, bytes
//   read). The bytes are the report as the class driver delivers it, report
//   ID first, at most Caps.InputReportByteLength of them, and valid only
//   during the call; no read is outstanding while it runs.
// - Exactly once, when the reader leaves for whatever reason (unplug, failed
//   read, stop): (CallbackContext, 0, null, 0). Nothing is called after it.
// - Callback and CallbackContext are read anew, as a pair, for every call.
// - The callback must not Close, Destroy, Open or StartReading its own
//   record: those wait for the reader.
//
// Stopping: Close and Destroy (hid/hid_device.h) signal StopEvent and wait
// until the reader has ended. A stop that meets a completed read wins: that
// report is not delivered. The reader cancels its own outstanding read
// (CancelIo on its thread) and collects it before it ends, so no read is left
// on the record's buffer.
#pragma once

#include <cstdint>

#include "hid/hid_device.h"

namespace tavlo {

// Builds the report tables, sets Callback and CallbackContext and, unless a
// reader runs, starts one. 1 when a reader runs afterwards; 0 when the tables
// cannot be built (the callback then stays as it was) or the thread cannot be
// created.
int StartReading(HidDevice& device, ReportCallback callback, void* context);
// The reader thread's body; the parameter is the HidDevice. Exit code 0.
uint32_t ReaderThreadMain(void* device);

}  // namespace tavlo
