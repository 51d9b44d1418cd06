// The input-report reader thread.
#include "hid/reader.h"

#include "hid/report_tables.h"
#include "platform/trace.h"

namespace tavlo {

namespace {

// How often a failed CancelIo is tried again, 10 ms apart.
constexpr int kCancelAttempts = 100;

void Deliver(HidDevice& d, int32_t hasReport, const uint8_t* report, uint32_t length) {
  ReportCallback callback;
  void* context;
  d.CallbackLock.Enter();
  callback = d.Callback;
  context = d.CallbackContext;
  d.CallbackLock.Leave();
  if (callback) callback(context, hasReport, report, length);
}

// One read: true with the byte count of a report to deliver; false when the
// reader is to end (stop signalled, read failed, wait failed). A read that
// was started is always complete when this returns.
bool ReadOne(HidDevice& d, uint32_t* bytes) {
  const platform::Handle pair[2] = {d.StopEvent, d.ReadEvent};
  platform::Overlapped overlapped{};
  overlapped.hEvent = d.ReadEvent;
  *bytes = 0;

  const uint32_t length = d.Caps.InputReportByteLength;
  // Nothing to read into: the allocation's failure was reported as it happened.
  if (!d.InputReportBuffer || length == 0) return false;
  if (!platform::ReadFileOverlapped(d.Handle, d.InputReportBuffer, length, &overlapped) &&
      platform::LastError() != platform::kErrorIoPending) {
    platform::TraceFailure(u"ReadFile", d.DevicePath, platform::LastError());
    return false;
  }
  const uint32_t woke = platform::WaitForAny(2, pair, platform::kInfinite);
  if (woke == platform::kWaitObject0 + 1) {
    if (platform::GetOverlappedResult(d.Handle, &overlapped, bytes, true)) return true;
    platform::TraceFailure(u"GetOverlappedResult", d.DevicePath, platform::LastError());
    return false;
  }
  if (woke != platform::kWaitObject0)
    platform::TraceFailure(u"WaitForMultipleObjects", d.DevicePath, platform::LastError());
  // Stopped, or the wait failed: the read must not outlive this call, since
  // its OVERLAPPED is ours and its buffer is the record's. Cancel it (a read
  // that completed meanwhile is left as it is) and collect it; a report it
  // may have brought is not delivered. A cancel that fails is tried again
  // for a while; the collection then waits for the read to end.
  for (int attempt = 0; !platform::CancelIo(d.Handle); ++attempt) {
    if (attempt == 0) platform::TraceFailure(u"CancelIo", d.DevicePath, platform::LastError());
    if (attempt == kCancelAttempts) break;
    platform::Sleep(10);
  }
  uint32_t ignored = 0;
  platform::GetOverlappedResult(d.Handle, &overlapped, &ignored, true);
  return false;
}

}  // namespace

uint32_t ReaderThreadMain(void* parameter) {
  HidDevice& d = *static_cast<HidDevice*>(parameter);
  for (;;) {
    d.ReadPending.store(1);
    uint32_t bytes = 0;
    const bool delivered = ReadOne(d, &bytes);
    d.ReadPending.store(0);
    if (!delivered) break;
    Deliver(d, 1, d.InputReportBuffer, bytes);
  }
  Deliver(d, 0, nullptr, 0);
  d.ReaderThread.store(platform::NullHandle());
  return 0;
}

int StartReading(HidDevice& d, ReportCallback callback, void* context) {
  if (!BuildReportTables(d)) return 0;
  d.CallbackLock.Enter();
  d.Callback = callback;
  d.CallbackContext = context;
  d.CallbackLock.Leave();
  if (!d.ReaderThread.load()) {
    // A reader that ended by itself is collected before the next starts.
    StopReader(d);
    // The flag is set before the thread runs, so that the thread's own
    // clearing at its end cannot come first.
    d.ReaderThread.store(platform::InvalidHandle());
    const platform::Handle thread = platform::CreateThread(ReaderThreadMain, &d);
    if (!thread) {
      platform::TraceFailure(u"CreateThread", d.DevicePath, platform::LastError());
      d.ReaderThread.store(platform::NullHandle());
      return 0;
    }
    d.ReaderJoin = thread;
    // Publish the handle unless the reader has already ended and cleared the flag.
    platform::Handle expected = platform::InvalidHandle();
    d.ReaderThread.compare_exchange_strong(expected, thread);
    // A reader that ended this quickly still counts as started: its end
    // notice was delivered, and StopReader collects its thread.
    return 1;
  }
  return 1;
}

}  // namespace tavlo
