// Every fallible platform call and allocation of the system's life made to
// fail, one per run: start-up (CreateSystemEvents, StartSystem: OpenKeyFilter,
// ScanKeyboardInterfaces with the keyboard and another vendor's device
// present), hot-plug (unplug and plug of the keyboard with its notices) and
// shutdown (StopSystem: CloseKeyFilter, ReleaseKeyboardInterfaces;
// CloseSystemEvents). Run k fails the k-th fallible call of the whole
// machine, on whichever thread makes it; the walk goes on until a run reaches
// no planned failure.
//
// The dispatcher and the readers run beside the main thread, so the machine
// starts its threads in creation order (sim::SetOrderedThreadStarts): a new
// thread starts once the main thread waits and the threads before it are
// blocked. Each run then makes the calls of the run in which nothing fails,
// in the same order, up to the one it fails; the walk checks that, so every
// call of every thread fails in exactly one run.
//
// Every failure is reported on the debug output: the run's trace holds a
// line naming the Win32 function that failed. The run in which nothing fails
// reports only what the world did to it (the driver missing, the keyboard's
// reads ended by its unplug).
//
// After each phase the system must be in the state its failure handling
// promises (the driver missing: no control call ever; a keyboard that could
// not be opened: not listed; a listed keyboard whose reader runs: its layer
// key works; the dispatcher running: the 0x76 key and a character key work),
// and a reason for every missing piece must be the call that failed. After
// shutdown nothing may be left: handles, heap blocks, preparsed data,
// device-information sets and threads are back to where they were, and no
// closed handle was used.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/system.h"
#include "devices/keyboard_list.h"
#include "layer/driver_link.h"
#include "layer/key_map.h"
#include "platform/sim/sim.h"
#include "platform/sim/sim_driver.h"
#include "platform/sim/sim_hid.h"
#include "platform/sim/sim_input.h"
#include "platform/sim/sim_message_box.h"
#include "platform/sim/sim_trace.h"
#include "tests/support/sim_resources.h"

using namespace tavlo;
namespace sim = platform::sim;

namespace {

using Names = std::set<std::string>;

// Calls whose failure may keep the keyboard out of the list.
const Names kMayLeaveKeyboardUnlisted = {"AllocZeroed",
                                         "ReallocZeroed",
                                         "CreateFile",
                                         "HidD_GetPreparsedData",
                                         "HidD_GetAttributes",
                                         "HidP_GetCaps",
                                         "SetupDiGetClassDevs",
                                         "SetupDiEnumDeviceInterfaces",
                                         "SetupDiGetDeviceInterfaceDetail"};
// Calls whose failure may leave a listed keyboard without a running reader.
const Names kMayStopReader = {"CreateEvent",  "AllocZeroed", "HidP_GetSpecificButtonCaps", "HidP_GetSpecificValueCaps",
                              "CreateThread", "ReadFile",    "WaitForMultipleObjects"};
// Calls whose failure may keep the dispatcher from running.
const Names kMayStopDispatcher = {"CreateEvent", "CreateThread"};
// Calls whose failure may leave the driver without the key table.
const Names kMayLoseTable = {"CreateEvent", "DeviceIoControl"};

bool In(const Names& names, const std::string& name) { return names.count(name) != 0; }

using Calls = std::vector<sim::FallibleCallRecord>;

std::string Describe(const Calls& calls, size_t i) {
  if (i >= calls.size()) return "none";
  const sim::FallibleCallRecord& call = calls[i];
  return call.call + (call.thread == 0 ? " on the main thread" : " on thread " + std::to_string(call.thread));
}

// Where a run's first n calls part from the reference's: "" if they do not.
std::string Parting(const Calls& run, const Calls& reference, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (i < run.size() && i < reference.size() && run[i].call == reference[i].call &&
        run[i].thread == reference[i].thread)
      continue;
    return "call " + std::to_string(i + 1) + " was " + Describe(run, i) + " where the run without failures made " +
           Describe(reference, i);
  }
  return "";
}

const std::vector<uint8_t> kHeld = {0x01, 0xFE, 0x00};
const std::vector<uint8_t> kReleased = {0x01, 0x00, 0x00};

class FaultWalk : public ::testing::Test {
 protected:
  // One run with the k-th fallible call failing. Returns whether that call was
  // reached.
  bool Run(long k, bool driverPresent) {
    sim::ResetMachine();
    sim::SetOrderedThreadStarts(true);
    sim::SetFilterDriverPresent(driverPresent);
    LayerMode.store(0);
    remaining_ = k;
    calls_.clear();
    failed_.clear();
    failedIn_.clear();
    driverPresent_ = driverPresent;

    other_ = sim::GenericHidInterface(sim::HidInterfacePath(0x046D, 0xC52B, 1, 2), 0x046D, 0xC52B, 0x000C, 0x0001, 3);
    sim::AddHidInterface(other_);
    kb_ = sim::AttachModelKeyboard();
    const SimResources before = SimResources::Now();

    // ---- start-up ----
    Arm();
    CreateSystemEvents();
    const int opened = StartSystem(nullptr);
    Disarm("start-up");
    {
      SCOPED_TRACE("after start-up");
      EXPECT_EQ(opened, DriverMissing() ? kKeyFilterMissing : kKeyFilterOpened);
      CheckRunning("start-up");
    }

    // ---- hot-plug ----
    Arm();
    sim::DetachModelKeyboard(kb_);
    // The unplug ends the reader's read at once; the notices come later,
    // through the window's queue: the reader has ended by then.
    EXPECT_TRUE(sim::WaitForQuiescence());
    RemoveKeyboardInterface(kb_.consumerControl.c_str());
    RemoveKeyboardInterface(kb_.keyboard.c_str());
    const uint32_t listedAfterRemoval = DeviceList.Count;
    const int openAfterRemoval = sim::HidOpenFileCount(kb_.consumerControl);
    kb_ = sim::AttachModelKeyboard();
    AddKeyboardInterface(kb_.consumerControl.c_str(), nullptr);
    AddKeyboardInterface(kb_.keyboard.c_str(), nullptr);
    Disarm("hot-plug");
    {
      SCOPED_TRACE("after hot-plug");
      EXPECT_EQ(listedAfterRemoval, 0u);
      EXPECT_EQ(openAfterRemoval, 0);
      CheckRunning("hot-plug");
    }

    // ---- shutdown ----
    const bool dispatcherRan = DispatcherThread() != nullptr;
    Arm();
    StopSystem();
    CloseSystemEvents();
    Disarm("shutdown");
    {
      SCOPED_TRACE("after shutdown");
      EXPECT_EQ(DeviceList.Count, 0u);
      EXPECT_EQ(DeviceList.Entries, nullptr);
      EXPECT_TRUE(sim::WaitForAllThreadsEnded(5000));
      EXPECT_FALSE(DispatcherThread());
      for (int slot = 0; slot < kWaitedEventCount; ++slot) EXPECT_FALSE(KeyEvents[slot]) << "slot " << slot;
      if (DriverMissing()) {
        EXPECT_EQ(DriverHandle, platform::InvalidHandle());
        EXPECT_EQ(sim::ControlCallCount(), 0u) << "no control call without the driver";
      } else if (!dispatcherRan) {
        // No dispatcher: the link is left as it is; the end of the process
        // closes the driver's handle.
        EXPECT_TRUE(platform::IsUsableHandle(DriverHandle));
        platform::CloseHandle(DriverHandle);
      } else {
        EXPECT_EQ(DriverHandle, nullptr);
        EXPECT_FALSE(sim::FilterDeviceOpen());
      }
      DriverHandle = nullptr;
      before.ExpectRestored();
    }
    CheckDebugLines();
    sim::DetachModelKeyboard(kb_);
    sim::RemoveHidInterface(other_.path);
    sim::ResetMachine();
    return !failed_.empty();
  }

  const std::string& failed() const { return failed_; }
  // The fallible calls the last run made in its three phases, in order.
  const Calls& calls() const { return calls_; }

 private:
  // Counts (and logs) the phase's fallible calls; fails the remaining_-th, if
  // the failure is still to come.
  void Arm() { sim::FailNthFallibleCall(remaining_ > 0 ? remaining_ : 0); }

  // Ends a phase once the system is quiescent: either the failure was reached
  // in it, or the calls it made are taken off the count.
  void Disarm(const char* phase) {
    ASSERT_TRUE(sim::WaitForQuiescence());
    sim::ClearFailures();
    const Calls log = sim::FallibleCallLog();
    calls_.insert(calls_.end(), log.begin(), log.end());
    if (remaining_ <= 0) return;
    if (sim::PlannedFailureHit()) {
      failed_ = sim::PlannedFailureCall();
      failedIn_ = phase;
      remaining_ = 0;
    } else {
      remaining_ -= static_cast<long>(log.size());
    }
  }

  // The failure's report, or none beyond the world's doing.
  void CheckDebugLines() {
    const std::vector<std::string> lines = sim::DebugLines();
    if (!failed_.empty()) {
      const sim::FallibleCall* call = sim::FindFallibleCall(failed_);
      ASSERT_NE(call, nullptr) << failed_;
      const std::string head = std::string("Tavlo: ") + call->win32 + " ";
      bool reported = false;
      for (const std::string& line : lines) reported = reported || line.rfind(head, 0) == 0;
      EXPECT_TRUE(reported) << "no debug line reports the failed " << call->win32 << " (" << failed_ << " in "
                            << failedIn_ << ")";
      return;
    }
    const std::string driverMissing = "Tavlo: CreateFileW \\\\.\\kbdfiltr_QX7TL4 failed, error 2";
    const std::string unplugged = "Tavlo: GetOverlappedResult " + platform::ToUtf8(kb_.consumerControl.c_str());
    for (const std::string& line : lines) {
      const bool expected = (!driverPresent_ && line == driverMissing) || line.rfind(unplugged, 0) == 0;
      EXPECT_TRUE(expected) << "a debug line where nothing failed: " << line;
    }
  }

  bool DriverMissing() const { return !driverPresent_ || (failedIn_ == "start-up" && failed_ == "OpenControlDevice"); }
  // The failure, if it came in the phase just ended.
  std::string FailedNow(const char* phase) const { return failedIn_ == phase ? failed_ : std::string(); }

  // The state of a running system, and whether each source of input works.
  // Nothing fails here.
  void CheckRunning(const char* phase) {
    SCOPED_TRACE(::testing::Message() << "failed call: " << (failed_.empty() ? "none" : failed_) << " in "
                                      << failedIn_);
    // The link is made at start-up only; the keyboard's entry is made anew by
    // each phase.
    const std::string current = FailedNow("start-up");
    const std::string phaseFailure = FailedNow(phase);

    // The driver link.
    if (DriverMissing()) {
      EXPECT_EQ(DriverHandle, platform::InvalidHandle());
      EXPECT_EQ(sim::MessageBoxesShown().size(), failed_ == "MessageBox" ? 0u : 1u);
      EXPECT_FALSE(DispatcherThread());
    } else {
      EXPECT_TRUE(platform::IsUsableHandle(DriverHandle));
      EXPECT_TRUE(sim::MessageBoxesShown().empty());
    }
    const bool dispatcherRuns = DispatcherThread() != nullptr;
    if (!DriverMissing() && !dispatcherRuns) {
      EXPECT_TRUE(In(kMayStopDispatcher, current)) << "the dispatcher is missing";
    }
    const bool tableInstalled = sim::FilterTableInstalled();
    if (!DriverMissing() && !tableInstalled) {
      // The driver takes the table whole or not at all; a missing event spoils it.
      EXPECT_TRUE(In(kMayLoseTable, current)) << "the key table is missing";
    }

    // The keyboard list: another vendor's device and the keyboard's other
    // collection are never held; the keyboard's Consumer-Control collection
    // is listed once, or a failure kept it out.
    EXPECT_EQ(sim::HidOpenFileCount(other_.path), 0);
    EXPECT_EQ(sim::HidOpenFileCount(kb_.keyboard), 0);
    const uint32_t listed = DeviceList.Count;
    EXPECT_LE(listed, 1u);
    EXPECT_EQ(sim::HidOpenFileCount(kb_.consumerControl), static_cast<int>(listed));
    if (listed == 0) {
      EXPECT_TRUE(In(kMayLeaveKeyboardUnlisted, phaseFailure)) << "the keyboard is missing";
    }
    const bool readerRuns = sim::HidPendingReadCount(kb_.consumerControl) == 1;
    if (listed == 1 && !readerRuns) {
      EXPECT_TRUE(In(kMayStopReader, phaseFailure)) << "the listed keyboard has no reader";
    }

    // The keyboard's layer key, through its Consumer-Control reports.
    const size_t callsBefore = sim::ControlCallCount();
    sim::PushInputReport(kb_.consumerControl, kHeld);
    ASSERT_TRUE(sim::WaitForQuiescence());
    if (listed && readerRuns) {
      EXPECT_EQ(LayerMode.load(), 1);
    }
    sim::PushInputReport(kb_.consumerControl, kReleased);
    ASSERT_TRUE(sim::WaitForQuiescence());
    const bool consumerWorks = listed && readerRuns && !DriverMissing();
    EXPECT_EQ(ModeCallsSince(callsBefore), consumerWorks ? std::vector<int>({1, 0}) : std::vector<int>{});

    // The 0x76 key and a character key at the driver.
    const size_t callsBeforeKeys = sim::ControlCallCount();
    sim::ClearSentInputs();
    const uint8_t g = LayerKeyMap[6].ScanCode;
    sim::PressScanCode(kLayerKeyScanCode);
    ASSERT_TRUE(sim::WaitForQuiescence());
    sim::PressScanCode(g);
    ASSERT_TRUE(sim::WaitForQuiescence());
    sim::ReleaseScanCode(g);
    sim::ReleaseScanCode(kLayerKeyScanCode);
    ASSERT_TRUE(sim::WaitForQuiescence());
    const bool keysWork = dispatcherRuns && tableInstalled;
    EXPECT_EQ(ModeCallsSince(callsBeforeKeys), keysWork ? std::vector<int>({1, 0}) : std::vector<int>{});
    EXPECT_EQ(sim::TypedText(), keysWork ? std::u16string(ChooseLayerText(6, false, false)) : std::u16string());
    if (DriverMissing()) {
      EXPECT_EQ(sim::ControlCallCount(), 0u) << "no control call without the driver";
    }
  }

  static std::vector<int> ModeCallsSince(size_t first) {
    std::vector<int> modes;
    const std::vector<sim::ControlCall> calls = sim::ControlCalls();
    for (size_t i = first; i < calls.size(); ++i)
      if (calls[i].code == IOCTL_SET_LAYER_MODE) modes.push_back(calls[i].input.empty() ? -1 : calls[i].input[0]);
    return modes;
  }

  long remaining_ = 0;
  Calls calls_;
  std::string failed_;
  std::string failedIn_;
  bool driverPresent_ = true;
  sim::HidInterface other_;
  sim::ModelKeyboardPaths kb_;
};

struct WalkCase {
  const char* name;
  bool driverPresent;
  Names mustFail;  // calls the walk has to reach
};

// The walk's lists name fallible calls the machine knows and counts.
TEST(FaultWalkLists, NameWalkedFallibleCalls) {
  for (const Names* names : {&kMayLeaveKeyboardUnlisted, &kMayStopReader, &kMayStopDispatcher, &kMayLoseTable}) {
    for (const std::string& name : *names) {
      const sim::FallibleCall* call = sim::FindFallibleCall(name);
      ASSERT_NE(call, nullptr) << name;
      EXPECT_TRUE(call->walked) << name;
    }
  }
}

TEST_F(FaultWalk, EveryFailurePointOfStartUpHotPlugAndShutdown) {
  const WalkCase cases[] = {
      {"driver present",
       true,
       {"CreateEvent", "OpenControlDevice", "DeviceIoControl", "CreateThread", "SetupDiGetClassDevs",
        "SetupDiEnumDeviceInterfaces", "SetupDiGetDeviceInterfaceDetail", "AllocZeroed", "CreateFile",
        "HidD_GetPreparsedData", "HidD_GetAttributes", "HidP_GetCaps", "HidD_FlushQueue", "HidP_GetSpecificValueCaps",
        "ReadFile", "WaitForMultipleObjects"}},
      {"driver missing", false, {"CreateEvent", "OpenControlDevice", "MessageBox", "CreateFile", "ReadFile"}},
  };
  for (const WalkCase& c : cases) {
    SCOPED_TRACE(c.name);
    // The run in which nothing fails: its calls are the walk's failure points.
    ASSERT_FALSE(Run(0, c.driverPresent));
    if (HasFailure()) return;
    const Calls unfailed = calls();
    Names reached;
    for (size_t k = 1; k <= unfailed.size(); ++k) {
      SCOPED_TRACE(::testing::Message() << "failing fallible call " << k);
      const bool hit = Run(static_cast<long>(k), c.driverPresent);
      if (HasFailure()) return;  // one broken run says enough
      // Up to its failure, the run made the calls of the run without one:
      // the k-th, which it failed, is the k-th of that run.
      ASSERT_TRUE(hit) << "the run made fewer calls than the run without failures";
      ASSERT_EQ(Parting(calls(), unfailed, k), "");
      reached.insert(failed());
    }
    for (const std::string& name : c.mustFail) EXPECT_TRUE(reached.count(name)) << name << " never failed";
    EXPECT_GT(unfailed.size(), 50u) << "failure points";
    std::map<int, int> perThread;
    for (const sim::FallibleCallRecord& call : unfailed) perThread[call.thread]++;
    std::string threads;
    for (const auto& [thread, count] : perThread)
      threads += (thread == 0 ? "main thread: " : ", thread " + std::to_string(thread) + ": ") + std::to_string(count);
    std::printf("[ walk     ] %s: %zu failure points (%s)\n", c.name, unfailed.size(), threads.c_str());
  }
}

}  // namespace
