// The input-report reader over the simulated HID stack: delivery, the end
// notice, stopping from the owner in every state, unplugging, restarting, and
// the record's lifetime against its reader (run under ASan and TSan).
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "hid/hid_device.h"
#include "hid/reader.h"
#include "platform/kernel.h"
#include "platform/sim/sim.h"
#include "platform/sim/sim_hid.h"
#include "platform/sim/sim_trace.h"
#include "tests/hid/hid_fixture.h"

using namespace tavlo;
namespace sim = platform::sim;
using Bytes = std::vector<uint8_t>;

namespace {

// Records every call of the callback. `gate`, when set, is waited on inside
// each report delivery, so a test can hold the reader in its callback.
struct Recorder {
  struct Call {
    int32_t hasReport;
    Bytes bytes;
    uint32_t length;
    bool reportIsNull;
  };
  std::mutex mutex;
  std::vector<Call> calls;
  std::thread::id starter = std::this_thread::get_id();
  std::atomic<int> onStarterThread{0};
  std::atomic<int> callsAfterEnd{0};
  platform::Handle gate = platform::NullHandle();
  platform::Handle inCallback = platform::NullHandle();

  static int32_t Callback(void* context, int32_t hasReport, const uint8_t* report, uint32_t length) {
    auto* r = static_cast<Recorder*>(context);
    if (std::this_thread::get_id() == r->starter) r->onStarterThread++;
    if (hasReport && r->inCallback) platform::SetEvent(r->inCallback);
    if (hasReport && r->gate) platform::WaitForOne(r->gate, platform::kInfinite);
    Call call{hasReport, hasReport && report ? Bytes(report, report + length) : Bytes(), length, report == nullptr};
    std::lock_guard<std::mutex> lock(r->mutex);
    for (const Call& c : r->calls)
      if (!c.hasReport) r->callsAfterEnd++;
    r->calls.push_back(call);
    return 0;
  }
  std::vector<Call> Calls() {
    std::lock_guard<std::mutex> lock(mutex);
    return calls;
  }
  int Ends() {
    int n = 0;
    for (const Call& c : Calls()) n += c.hasReport ? 0 : 1;
    return n;
  }
  std::vector<Bytes> Reports() {
    std::vector<Bytes> out;
    for (const Call& c : Calls())
      if (c.hasReport) out.push_back(c.bytes);
    return out;
  }
};

class Reader : public HidTest {
 protected:
  void SetUp() override {
    HidTest::SetUp();
    paths = sim::AttachModelKeyboard();
  }
  void OpenAndStart(HidDevice& d, Recorder& r) {
    ASSERT_EQ(OpenForReading(d, paths.consumerControl.c_str()), 1);
    ASSERT_EQ(StartReading(d, Recorder::Callback, &r), 1);
    ASSERT_TRUE(sim::WaitForQuiescence());
  }
  void Push(const Bytes& report) {
    ASSERT_TRUE(sim::PushInputReport(paths.consumerControl, report));
    ASSERT_TRUE(sim::WaitForQuiescence());
  }
  sim::ModelKeyboardPaths paths;
};

TEST_F(Reader, DeliversEachReportOnTheReaderThreadAndEndsOnce) {
  HidDevice d;
  Recorder r;
  OpenAndStart(d, r);
  EXPECT_EQ(d.ReadPending.load(), 1u);
  EXPECT_NE(d.ReaderThread.load(), nullptr);
  Push({0x01, 0xFE, 0x00});
  Push({0x01, 0x00, 0x00});
  ASSERT_EQ(r.Reports(), (std::vector<Bytes>{{0x01, 0xFE, 0x00}, {0x01, 0x00, 0x00}}));
  for (const auto& call : r.Calls()) EXPECT_EQ(call.length, 3u);
  EXPECT_EQ(r.onStarterThread.load(), 0);
  Destroy(d);
  EXPECT_EQ(r.Ends(), 1);
  EXPECT_EQ(r.callsAfterEnd.load(), 0);
  const auto last = r.Calls().back();
  EXPECT_EQ(last.hasReport, 0);
  EXPECT_TRUE(last.reportIsNull);
  EXPECT_EQ(last.length, 0u);
}

TEST_F(Reader, ReportsOfAnyLengthArriveWithTheLengthRead) {
  HidDevice d;
  Recorder r;
  OpenAndStart(d, r);
  Push({0x01, 0xFE});              // shorter than the report length
  Push({0x01, 0xFE, 0x00, 0x77});  // longer: cut to the buffer
  const auto calls = r.Calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].length, 2u);
  EXPECT_EQ(calls[1].length, 3u);
  EXPECT_EQ(calls[1].bytes, (Bytes{0x01, 0xFE, 0x00}));
  Destroy(d);
}

TEST_F(Reader, ReportsQueuedBeforeTheReaderStartsAreReadInOrder) {
  HidDevice d;
  Recorder r;
  ASSERT_EQ(OpenForReading(d, paths.consumerControl.c_str()), 1);
  sim::PushInputReport(paths.consumerControl, {1, 2, 3});
  sim::PushInputReport(paths.consumerControl, {4, 5, 6});
  ASSERT_EQ(StartReading(d, Recorder::Callback, &r), 1);
  ASSERT_TRUE(sim::WaitForQuiescence());
  EXPECT_EQ(r.Reports(), (std::vector<Bytes>{{1, 2, 3}, {4, 5, 6}}));
  Destroy(d);
}

TEST_F(Reader, FlushDiscardsWhatWasQueuedBeforeTheReaderStarts) {
  HidDevice d;
  Recorder r;
  ASSERT_EQ(OpenForReading(d, paths.consumerControl.c_str()), 1);
  sim::PushInputReport(paths.consumerControl, {1, 0xFE, 0});
  ASSERT_EQ(sim::HidQueuedReportCount(paths.consumerControl), 1);
  EXPECT_TRUE(platform::HidFlushQueue(d.Handle));
  EXPECT_EQ(sim::HidQueuedReportCount(paths.consumerControl), 0);
  ASSERT_EQ(StartReading(d, Recorder::Callback, &r), 1);
  ASSERT_TRUE(sim::WaitForQuiescence());
  EXPECT_EQ(r.Reports().size(), 0u);
  Push({1, 0, 0});
  EXPECT_EQ(r.Reports(), (std::vector<Bytes>{{1, 0, 0}}));
  Destroy(d);
}

TEST_F(Reader, UnplugWhileWaitingEndsTheReaderAndLeavesTheRecordOpen) {
  HidDevice d;
  Recorder r;
  OpenAndStart(d, r);
  sim::DetachModelKeyboard(paths);
  ASSERT_TRUE(sim::WaitForAllThreadsEnded());
  EXPECT_EQ(r.Ends(), 1);
  EXPECT_EQ(d.ReaderThread.load(), nullptr);
  EXPECT_EQ(d.ReadPending.load(), 0u);
  EXPECT_NE(d.Handle, nullptr);
  Close(d);
  EXPECT_EQ(r.Ends(), 1);
  Destroy(d);
}

TEST_F(Reader, CloseWhileWaitingCancelsTheReadAndEndsTheThread) {
  HidDevice d;
  Recorder r;
  OpenAndStart(d, r);
  ASSERT_EQ(sim::HidPendingReadCount(paths.consumerControl), 1);
  Close(d);
  // Close returned after the reader: it has ended, its read is gone and
  // nothing more will be called.
  EXPECT_EQ(sim::LiveThreadCount(), 0);
  EXPECT_EQ(d.ReaderThread.load(), nullptr);
  EXPECT_EQ(d.ReaderJoin, nullptr);
  EXPECT_EQ(sim::HidPendingReadCount(paths.consumerControl), 0);
  EXPECT_EQ(sim::HidOpenFileCount(paths.consumerControl), 0);
  EXPECT_EQ(r.Ends(), 1);
  EXPECT_EQ(r.Reports().size(), 0u);
  // The stop does not linger: the record reopens and reads again.
  ASSERT_EQ(Open(d), 1);
  ASSERT_EQ(StartReading(d, Recorder::Callback, &r), 1);
  ASSERT_TRUE(sim::WaitForQuiescence());
  Push({1, 0xFE, 0});
  EXPECT_EQ(r.Reports().size(), 1u);
  Destroy(d);
  EXPECT_EQ(r.Ends(), 2);
}

TEST_F(Reader, StopWinsOverAReportThatCompletedAtTheSameTime) {
  HidDevice d;
  Recorder r;
  r.gate = platform::CreateEventObject(false, false);
  OpenAndStart(d, r);
  Push({1, 0xFE, 0});  // the reader now waits on the gate inside its callback
  // While it is held there: the next report is queued and the stop is given.
  ASSERT_TRUE(sim::PushInputReport(paths.consumerControl, {1, 0, 0}));
  platform::SetEvent(d.StopEvent);
  platform::SetEvent(r.gate);
  ASSERT_TRUE(sim::WaitForAllThreadsEnded());
  EXPECT_EQ(r.Reports(), (std::vector<Bytes>{{1, 0xFE, 0}}));
  EXPECT_EQ(r.Ends(), 1);
  Destroy(d);
  platform::CloseHandle(r.gate);
}

TEST_F(Reader, CloseWhileTheCallbackRunsWaitsForItAndTheEndNotice) {
  HidDevice* d = CreateHidDevice();
  Recorder r;
  r.gate = platform::CreateEventObject(false, false);
  r.inCallback = platform::CreateEventObject(false, false);
  OpenAndStart(*d, r);
  sim::PushInputReport(paths.consumerControl, {1, 0xFE, 0});
  ASSERT_EQ(platform::WaitForOne(r.inCallback, platform::kInfinite), platform::kWaitObject0);
  std::atomic<bool> closed{false};
  std::thread owner([&] {
    Destroy(*d);
    closed = true;
    FreeHidDevice(d);  // right after Destroy: the reader must be gone
  });
  // Destroy cannot finish while the callback holds the report.
  ASSERT_TRUE(sim::WaitForQuiescence());
  EXPECT_FALSE(closed.load());
  platform::SetEvent(r.gate);
  owner.join();
  EXPECT_EQ(r.Reports(), (std::vector<Bytes>{{1, 0xFE, 0}}));
  EXPECT_EQ(r.Ends(), 1);
  EXPECT_EQ(r.callsAfterEnd.load(), 0);
  platform::CloseHandle(r.gate);
  platform::CloseHandle(r.inCallback);
}

TEST_F(Reader, DestroyAndFreeRightAfterAnUnplug) {
  for (int round = 0; round < 20; ++round) {
    paths = sim::AttachModelKeyboard();
    HidDevice* d = CreateHidDevice();
    Recorder r;
    OpenAndStart(*d, r);
    sim::DetachModelKeyboard(paths);  // the reader is on its way out now
    Destroy(*d);
    FreeHidDevice(d);
    EXPECT_EQ(r.Ends(), 1);
    EXPECT_EQ(sim::LiveThreadCount(), 0);
  }
}

TEST_F(Reader, DestroyWhileReportsStreamIn) {
  std::atomic<bool> stop{false};
  std::thread keyboard([&] {
    uint8_t n = 0;
    while (!stop) sim::PushInputReport(paths.consumerControl, {1, n++, 0});
  });
  for (int round = 0; round < 50; ++round) {
    HidDevice* d = CreateHidDevice();
    Recorder r;
    ASSERT_EQ(OpenForReading(*d, paths.consumerControl.c_str()), 1);
    ASSERT_EQ(StartReading(*d, Recorder::Callback, &r), 1);
    if (round % 2) std::this_thread::yield();
    Destroy(*d);
    FreeHidDevice(d);
    EXPECT_EQ(r.Ends(), 1);
    EXPECT_EQ(r.callsAfterEnd.load(), 0);
  }
  stop = true;
  keyboard.join();
}

TEST_F(Reader, StartingTwiceKeepsOneThreadAndRedirectsTheReports) {
  HidDevice d;
  Recorder first, second;
  OpenAndStart(d, first);
  const platform::Handle thread = d.ReaderThread.load();
  EXPECT_EQ(StartReading(d, Recorder::Callback, &second), 1);
  EXPECT_EQ(d.ReaderThread.load(), thread);
  EXPECT_EQ(sim::LiveThreadCount(), 1);
  Push({1, 0xFE, 0});
  EXPECT_EQ(first.Reports().size(), 0u);
  EXPECT_EQ(second.Reports().size(), 1u);
  Destroy(d);
  EXPECT_EQ(first.Ends(), 0);
  EXPECT_EQ(second.Ends(), 1);
}

TEST_F(Reader, StartingOnAClosedRecordStartsNothing) {
  HidDevice d;
  Recorder r;
  EXPECT_EQ(StartReading(d, Recorder::Callback, &r), 0);
  ASSERT_EQ(OpenForReading(d, paths.consumerControl.c_str()), 1);
  Close(d);
  EXPECT_EQ(StartReading(d, Recorder::Callback, &r), 0);
  EXPECT_EQ(d.Callback, nullptr);
  EXPECT_EQ(d.CallbackContext, nullptr);
  EXPECT_EQ(d.ReaderThread.load(), nullptr);
  EXPECT_EQ(sim::LiveThreadCount(), 0);
  Destroy(d);
  EXPECT_EQ(r.Ends(), 0);
}

TEST_F(Reader, AReaderThatEndedByItselfCanBeStartedAgain) {
  HidDevice d;
  Recorder r;
  ASSERT_EQ(OpenForReading(d, paths.consumerControl.c_str()), 1);
  sim::FailCall("ReadFile", 1, platform::kErrorDeviceNotConnected);
  ASSERT_EQ(StartReading(d, Recorder::Callback, &r), 1);
  ASSERT_TRUE(sim::WaitForAllThreadsEnded());
  EXPECT_EQ(r.Ends(), 1);
  EXPECT_EQ(d.ReaderThread.load(), nullptr);
  ASSERT_EQ(StartReading(d, Recorder::Callback, &r), 1);
  ASSERT_TRUE(sim::WaitForQuiescence());
  EXPECT_EQ(sim::LiveThreadCount(), 1);
  Push({1, 0xFE, 0});
  EXPECT_EQ(r.Reports().size(), 1u);
  Destroy(d);
  EXPECT_EQ(r.Ends(), 2);
}

TEST_F(Reader, ThreadCreationFailureKeepsTheCallbackAndStartsNothing) {
  HidDevice d;
  Recorder r;
  ASSERT_EQ(OpenForReading(d, paths.consumerControl.c_str()), 1);
  sim::FailCall("CreateThread");
  EXPECT_EQ(StartReading(d, Recorder::Callback, &r), 0);
  EXPECT_EQ(d.Callback, &Recorder::Callback);
  EXPECT_EQ(d.ReaderThread.load(), nullptr);
  EXPECT_EQ(StartReading(d, Recorder::Callback, &r), 1);  // the tables stay built
  Destroy(d);
  EXPECT_EQ(r.Ends(), 1);
}

TEST_F(Reader, WithoutEventsOrBufferTheReaderEndsAtOnce) {
  struct Case {
    const char* name;
    const char* call;
    int nth;
  };
  // The record's two events; the input buffer is the first allocation of a
  // build.
  const Case cases[] = {
      {"no read event", "CreateEvent", 1}, {"no stop event", "CreateEvent", 2}, {"no input buffer", "AllocZeroed", 1}};
  for (const Case& c : cases) {
    const bool eventCase = std::string(c.call) == "CreateEvent";
    if (eventCase) sim::FailCall(c.call, c.nth);
    HidDevice d;
    Recorder r;
    ASSERT_EQ(OpenForReading(d, paths.consumerControl.c_str()), 1) << c.name;
    if (!eventCase) sim::FailCall(c.call, c.nth);
    ASSERT_EQ(StartReading(d, Recorder::Callback, &r), 1) << c.name;
    ASSERT_TRUE(sim::WaitForAllThreadsEnded()) << c.name;
    EXPECT_TRUE(sim::PlannedFailureHit()) << c.name;
    EXPECT_EQ(r.Ends(), 1) << c.name;
    EXPECT_EQ(r.Reports().size(), 0u) << c.name;
    EXPECT_EQ(sim::HidPendingReadCount(paths.consumerControl), 0) << c.name;
    Destroy(d);
    sim::ClearFailures();
  }
}

// Failures on the reader's own road. A failed wait or a read that completes
// with a failure ends the reader: its read is cancelled and collected, the
// end notice comes. A cancel or a stop signal that fails once at a stop is
// tried again, so the stop still ends the reader and leaves no read behind.
// Each failure is reported on the debug output with the interface's path.
TEST_F(Reader, FailedWaitsReadsCancelsAndStopSignalsEndTheReaderCleanly) {
  struct Case {
    const char* name;
    const char* call;
    bool atStop;
  };
  const Case cases[] = {{"its wait fails", "WaitForMultipleObjects", false},
                        {"a read completes with a failure", "GetOverlappedResult", false},
                        {"the cancel at a stop fails once", "CancelIo", true},
                        {"the stop signal fails once", "SetEvent", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::ClearTrace();
    HidDevice d;
    Recorder r;
    ASSERT_EQ(OpenForReading(d, paths.consumerControl.c_str()), 1);
    const bool beforeStart = std::string(c.call) == "WaitForMultipleObjects";
    if (beforeStart) sim::FailCall(c.call);
    ASSERT_EQ(StartReading(d, Recorder::Callback, &r), 1);
    ASSERT_TRUE(sim::WaitForQuiescence());
    if (!beforeStart) sim::FailCall(c.call);
    if (c.atStop) {
      Destroy(d);
    } else if (!beforeStart) {
      Push({1, 0xFE, 0});
    }
    ASSERT_TRUE(sim::WaitForAllThreadsEnded());
    EXPECT_TRUE(sim::PlannedFailureHit());
    EXPECT_EQ(r.Ends(), 1);
    EXPECT_TRUE(r.Reports().empty());
    EXPECT_EQ(sim::HidPendingReadCount(paths.consumerControl), 0) << "a read left outstanding";
    const std::string expected = std::string("Tavlo: ") + sim::FindFallibleCall(c.call)->win32 + " " +
                                 platform::ToUtf8(paths.consumerControl.c_str()) + " failed, error 8";
    EXPECT_EQ(sim::DebugLines(), std::vector<std::string>{expected});
    Destroy(d);
    sim::ClearFailures();
  }
}

TEST_F(Reader, TwoRecordsReadAtTheSameTime) {
  const auto second = sim::AttachModelKeyboard(2);
  HidDevice a, b;
  Recorder ra, rb;
  OpenAndStart(a, ra);
  ASSERT_EQ(OpenForReading(b, second.consumerControl.c_str()), 1);
  ASSERT_EQ(StartReading(b, Recorder::Callback, &rb), 1);
  ASSERT_TRUE(sim::WaitForQuiescence());
  Push({1, 0xFE, 0});
  ASSERT_TRUE(sim::PushInputReport(second.consumerControl, {1, 0, 0}));
  ASSERT_TRUE(sim::WaitForQuiescence());
  sim::DetachModelKeyboard(second);
  ASSERT_TRUE(sim::WaitForQuiescence());
  EXPECT_EQ(ra.Reports(), (std::vector<Bytes>{{1, 0xFE, 0}}));
  EXPECT_EQ(rb.Reports(), (std::vector<Bytes>{{1, 0, 0}}));
  EXPECT_EQ(rb.Ends(), 1);
  EXPECT_EQ(ra.Ends(), 0);
  Push({1, 0, 0});
  EXPECT_EQ(ra.Reports().size(), 2u);
  Destroy(a);
  Destroy(b);
}

}  // namespace
