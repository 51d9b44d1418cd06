// The driver link and the dispatcher against the simulated filter driver and
// input stream: what reaches the driver and what gets typed.
#include <gtest/gtest.h>

#include <functional>

#include <cstring>
#include <string>
#include <vector>

#include "layer/driver_link.h"
#include "platform/sim/sim.h"
#include "platform/sim/sim_driver.h"
#include "platform/sim/sim_input.h"
#include "platform/sim/sim_message_box.h"
#include "platform/sim/sim_trace.h"
#include "tests/layer/link_fixture.h"

using namespace tavlo;
using namespace tavlo::testing;
namespace sim = platform::sim;

namespace {

constexpr uint8_t kLayerKey = 0x76;
constexpr uint8_t kScanA = 0x1E;
constexpr uint8_t kScanG = 0x22;
void* const kWindow = reinterpret_cast<void*>(uintptr_t{0x5A5A0});

// The key table encoded from the record format, independently of the system.
std::vector<uint8_t> EncodeTableFromEvents() {
  std::vector<uint8_t> out;
  auto put = [&out](uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
  };
  auto record = [&](uint32_t action, uint16_t makeCode, uint16_t flags, platform::Handle event) {
    put(action, 4);
    put(makeCode, 2);
    put(flags, 2);
    put(0, 8);
    put(platform::SignExtendHandleValue(reinterpret_cast<uintptr_t>(event), sizeof(void*) * 8), 8);
  };
  for (int i = 0; i < 45; ++i) {
    record(0x00010201, LayerKeyMap[i].ScanCode, 0, KeyEvents[i]);
    record(0x00010200, LayerKeyMap[i].ScanCode, 1, KeyEvents[i]);
  }
  record(1, 0x76, 0, KeyEvents[45]);
  record(1, 0x76, 1, KeyEvents[46]);
  return out;
}

std::vector<uint8_t> ModesSent() {
  std::vector<uint8_t> modes;
  for (const sim::ControlCall& call : sim::ControlCalls())
    if (call.code == IOCTL_SET_LAYER_MODE && call.input.size() == 1) modes.push_back(call.input[0]);
  return modes;
}

}  // namespace

TEST_F(LinkTest, OpenInstallsTheTableOnceAndStartsTheDispatcher) {
  ASSERT_EQ(OpenKeyFilter(kWindow), kKeyFilterOpened);
  EXPECT_TRUE(platform::IsUsableHandle(DriverHandle));
  EXPECT_NE(DispatcherThread(), nullptr);
  Settle();
  const std::vector<sim::ControlCall> calls = sim::ControlCalls();
  ASSERT_EQ(calls.size(), 1u) << "no layer mode is sent after the table";
  EXPECT_EQ(calls[0].code, 0x0022210Cu);
  EXPECT_EQ(calls[0].input, EncodeTableFromEvents());
  EXPECT_TRUE(sim::FilterTableInstalled());
  EXPECT_EQ(sim::FilterTableRecordCount(), 92u);
  EXPECT_TRUE(sim::MessageBoxesShown().empty());
  EXPECT_EQ(sim::FilterLayerMode(), 0);
}

TEST_F(LinkTest, CloseRemovesTheTableStopsTheDispatcherThenClosesTheDevice) {
  ASSERT_EQ(OpenKeyFilter(kWindow), kKeyFilterOpened);
  Settle();
  const platform::Handle thread = DispatcherThread();
  sim::ClearTrace();
  CloseKeyFilter();
  EXPECT_EQ(DriverHandle, nullptr);
  EXPECT_EQ(DispatcherThread(), nullptr);
  const std::vector<sim::ControlCall> calls = sim::ControlCalls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1].code, IOCTL_SET_KEY_TABLE);
  EXPECT_TRUE(calls[1].inputNull);
  EXPECT_TRUE(calls[1].input.empty());
  EXPECT_EQ(sim::TraceLines(), (std::vector<std::string>{"ioctl 0x0022210c in 0", "driver close"}));
  EXPECT_FALSE(sim::FilterDeviceOpen());
  EXPECT_EQ(sim::LiveThreadCount(), 0) << "the dispatcher ended before the close returned";
  // Its handle was released with it.
  uint32_t code = 0;
  EXPECT_FALSE(platform::GetThreadExitCode(thread, &code));
  EXPECT_EQ(sim::UseOfClosedHandleCount(), 1);
  sim::ResetMachine();  // the deliberate look-up above is not a fault of the system
}

TEST_F(LinkTest, MissingDriverShowsOneBoxAndNeverTalksToTheDriver) {
  sim::SetFilterDriverPresent(false);
  EXPECT_EQ(OpenKeyFilter(kWindow), kKeyFilterMissing);
  EXPECT_EQ(DriverHandle, platform::InvalidHandle());
  EXPECT_EQ(DispatcherThread(), nullptr);
  EXPECT_EQ(sim::LiveThreadCount(), 0);
  const std::vector<sim::ShownMessageBox> boxes = sim::MessageBoxesShown();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, u"Detected that the driver is not fully installed!");
  EXPECT_EQ(boxes[0].style, 0x00040000u);
  EXPECT_EQ(boxes[0].caption, u"Tavlo");
  EXPECT_EQ(boxes[0].owner, kWindow);

  // The rest of the run: layer switches only store the mode, key presses do
  // nothing, and the shutdown does nothing either.
  sim::SetFilterDriverPresent(true);  // even a driver that turns up later is not used
  SendLayerMode(1);
  EXPECT_EQ(LayerMode.load(), 1);
  SendLayerMode(0);
  EXPECT_EQ(LayerMode.load(), 0);
  sim::PressScanCode(kLayerKey);
  sim::PressScanCode(kScanG);
  CloseKeyFilter();
  EXPECT_EQ(DriverHandle, platform::InvalidHandle());
  CloseKeyEvents();
  EXPECT_EQ(sim::ControlCallCount(), 0u);
  EXPECT_EQ(sim::FilterOpenCount(), 0);
  EXPECT_EQ(sim::SentInputCount(), 0u);
  EXPECT_EQ(
      sim::TraceLines(),
      (std::vector<std::string>{"driver open failed", "debug Tavlo: CreateFileW \\\\.\\kbdfiltr_QX7TL4 failed, error 2",
                                "message-box \"Detected that the driver is not fully installed!\" style 0x00040000"}));
  DriverHandle = nullptr;
}

TEST_F(LinkTest, LayerKeySendsItsModeOnEveryTransition) {
  ASSERT_EQ(OpenKeyFilter(kWindow), kKeyFilterOpened);
  Settle();
  Press(kLayerKey);
  Press(kLayerKey);  // auto-repeat: sent again
  Release(kLayerKey);
  Release(kLayerKey);
  EXPECT_EQ(ModesSent(), (std::vector<uint8_t>{1, 1, 0, 0}));
  EXPECT_EQ(LayerMode.load(), 0);
  EXPECT_EQ(sim::SentInputCount(), 0u);
  const std::vector<sim::ControlCall> calls = sim::ControlCalls();
  ASSERT_EQ(calls.size(), 5u);
  EXPECT_EQ(calls[1].code, 0x00222138u);
  EXPECT_EQ(calls[1].input, std::vector<uint8_t>{1});
}

TEST_F(LinkTest, CharacterKeyTypesOneUnicodeKeyDownAndUpOnlyWhileTheLayerIsOn) {
  ASSERT_EQ(OpenKeyFilter(kWindow), kKeyFilterOpened);
  Settle();
  Tap(kScanG);
  EXPECT_EQ(sim::SentInputCount(), 0u) << "layer off: the driver reports nothing";
  Press(kLayerKey);
  Tap(kScanG);
  Release(kLayerKey);
  Tap(kScanG);
  EXPECT_EQ(static_cast<uint16_t>(platform::ReadKeyState(platform::kVkPacket)) & 0x8000, 0) << "VK_PACKET is left down";
  const std::vector<platform::InputEvent> sent = sim::SentInputs();
  ASSERT_EQ(sent.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    SCOPED_TRACE(i == 0 ? "key-down" : "key-up");
    EXPECT_EQ(sent[i].type, platform::kInputKeyboard);
    EXPECT_EQ(sent[i].ki.wVk, 0);
    EXPECT_EQ(sent[i].ki.wScan, 0x0242);
    EXPECT_EQ(sent[i].ki.dwFlags, i == 0 ? 0x4u : 0x6u);  // KEYEVENTF_UNICODE, | KEYEVENTF_KEYUP
    EXPECT_EQ(sent[i].ki.time, 0u);
    EXPECT_EQ(sent[i].ki.dwExtraInfo, 0u);
  }
  EXPECT_EQ(sim::SendInputCallCount(), 1) << "down and up in one call";
}

TEST_F(LinkTest, ShiftAndCapsLockChoiceOverEveryCharacterKey) {
  ASSERT_EQ(OpenKeyFilter(kWindow), kKeyFilterOpened);
  Settle();
  Press(kLayerKey);
  struct State {
    bool shift;
    bool caps;
  };
  for (State state : {State{false, false}, State{true, false}, State{false, true}, State{true, true}}) {
    sim::SetShiftDown(state.shift);
    sim::SetCapsLock(state.caps);
    std::u16string expected;
    sim::ClearSentInputs();
    for (int slot = 0; slot < kCharacterKeyCount; ++slot) {
      const bool letter = slot < 26;
      const bool shifted = letter ? (state.shift != state.caps) : state.shift;
      expected += shifted ? LayerKeyMap[slot].ShiftText : LayerKeyMap[slot].Text;
      Tap(LayerKeyMap[slot].ScanCode);
    }
    EXPECT_EQ(sim::TypedText(), expected) << "shift " << state.shift << " caps " << state.caps;
    EXPECT_EQ(sim::SentInputCount(), 2 * expected.size()) << "a key-down and a key-up per code unit";
  }
  EXPECT_EQ(sim::RepeatedKeyDownCount(), 0);
}

// The key state as GetKeyState gives it: a key that is down has 0xFF80, the
// toggle is bit 0 and flips with every press, Shift's as well. Only Shift's
// down bit and Caps Lock's toggle count: a Shift pressed once and released
// reads 0x0001 and is up; a Caps Lock key held down counts by its toggle
// alone. A dispatcher that read the other bit, or the whole value, types
// the wrong text here.
TEST_F(LinkTest, OnlyShiftsDownBitAndCapsLocksToggleCount) {
  ASSERT_EQ(OpenKeyFilter(kWindow), kKeyFilterOpened);
  Settle();
  Press(kLayerKey);
  struct Case {
    const char* name;
    std::function<void()> keys;
    bool shift;
    bool caps;
  };
  const Case cases[] = {
      {"Shift pressed once and released (toggle on)",
       [] {
         sim::SetShiftDown(true);
         sim::SetShiftDown(false);
       },
       false, false},
      {"Shift held, toggle off", [] { sim::SetShiftDown(true); }, true, false},
      {"Shift held, toggle on",
       [] {
         sim::SetShiftDown(false);
         sim::SetShiftDown(true);
       },
       true, false},
      {"Caps Lock key held, toggle on",
       [] {
         sim::SetShiftDown(false);
         sim::SetCapsLockKeyDown(true);
       },
       false, true},
      {"Caps Lock released, toggle on", [] { sim::SetCapsLockKeyDown(false); }, false, true},
      {"Caps Lock key held, toggle off", [] { sim::SetCapsLockKeyDown(true); }, false, false},
      {"Caps Lock held with toggle off, Shift held", [] { sim::SetShiftDown(true); }, true, false},
  };
  const int letter = 0;  // a: Caps Lock counts
  const int digit = 26;  // 1: it does not
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.keys();
    sim::ClearSentInputs();
    Tap(LayerKeyMap[letter].ScanCode);
    Tap(LayerKeyMap[digit].ScanCode);
    EXPECT_EQ(sim::TypedText(),
              std::u16string(ChooseLayerText(letter, c.shift, c.caps)) + ChooseLayerText(digit, c.shift, c.caps));
  }
}

// A wait of the dispatcher that fails is reported and tried again after a
// pause; the keys work afterwards.
TEST_F(LinkTest, FailedDispatcherWaitIsRetried) {
  sim::FailCall("WaitForMultipleObjects", 1, platform::kErrorInvalidHandle);
  ASSERT_EQ(OpenKeyFilter(kWindow), kKeyFilterOpened);
  Settle();  // past the pause
  EXPECT_TRUE(sim::PlannedFailureHit());
  EXPECT_EQ(sim::DebugLines(), std::vector<std::string>{"Tavlo: WaitForMultipleObjects failed, error 6"});
  Press(kLayerKey);
  Tap(kScanG);
  EXPECT_EQ(sim::TypedText(), u"\u0242");
}

TEST_F(LinkTest, EmptyTextMakesNoInputCall) {
  ASSERT_EQ(OpenKeyFilter(kWindow), kKeyFilterOpened);
  Settle();
  Press(kLayerKey);
  Tap(0x1A);  // left bracket: nothing without Shift
  EXPECT_EQ(sim::SendInputCallCount(), 0);
  sim::SetShiftDown(true);
  Tap(0x1A);
  EXPECT_EQ(sim::TypedText(), u"\u00B6");
  EXPECT_EQ(InjectText(u""), 0);
  EXPECT_EQ(InjectText(nullptr), 0);
  EXPECT_EQ(sim::SendInputCallCount(), 1);
}

// Each code unit goes as its key-down and then its key-up, both in one call
// of its own: VK_PACKET is up between the units and after the text, so no
// character reaches an application as an auto-repeat of the one before.
TEST_F(LinkTest, EachCodeUnitIsAKeyDownAndItsKeyUpInOneCall) {
  const char16_t text[] = u"\u0253a\u0257\U0001F600";  // 5 code units, one pair
  sim::ClearTrace();
  EXPECT_EQ(InjectText(text), 10) << "the events inserted";
  EXPECT_EQ(platform::ReadKeyState(platform::kVkPacket) & 0x8000, 0) << "VK_PACKET is left down";
  EXPECT_EQ(sim::RepeatedKeyDownCount(), 0) << "a key-down came while VK_PACKET was still down";
  EXPECT_EQ(sim::SendInputCallCount(), 5);
  EXPECT_EQ(sim::TypedText(), text);
  const std::vector<platform::InputEvent> sent = sim::SentInputs();
  ASSERT_EQ(sent.size(), 10u);
  for (size_t i = 0; i < sent.size(); ++i) {
    SCOPED_TRACE("event " + std::to_string(i));
    EXPECT_EQ(sent[i].ki.wScan, static_cast<uint16_t>(text[i / 2])) << "the key-up names its key-down's unit";
    EXPECT_EQ(sent[i].ki.dwFlags, platform::kKeyEventUnicode | (i % 2 ? platform::kKeyEventKeyUp : 0u));
    EXPECT_EQ(sent[i].ki.wVk, 0);
  }
  EXPECT_EQ(sim::TraceLines(),
            (std::vector<std::string>{"input unicode 0253", "input unicode 0253 up", "input unicode 0061",
                                      "input unicode 0061 up", "input unicode 0257", "input unicode 0257 up",
                                      "input unicode d83d", "input unicode d83d up", "input unicode de00",
                                      "input unicode de00 up"}));
}

// A call that inserts fewer than its two events is reported once per text
// and not retried; the rest of the text is still sent.
TEST_F(LinkTest, ShortOrFailedInputCallsAreReportedOncePerTextAndNotRetried) {
  struct Case {
    const char* name;
    const char16_t* text;
    std::function<void()> plan;
    int inserted;
    std::u16string typed;
    bool packetLeftDown;  // what the input stream holds afterwards
  };
  const std::vector<Case> cases = {
      {"the second unit inserts nothing", u"xyz", [] { sim::FailCall("SendInput", 2, platform::kErrorAccessDenied); },
       4, u"xz", false},
      {"the first unit inserts its key-down only", u"xyz", [] { sim::ShortenNextSendInput(1); }, 5, u"xyz", false},
      {"the only unit inserts its key-down only", u"x", [] { sim::ShortenNextSendInput(1); }, 1, u"x", true},
      {"the first unit inserts nothing, the second its key-down only", u"xyz",
       [] {
         sim::FailCall("SendInput", 1, platform::kErrorAccessDenied);
         sim::ShortenNextSendInput(1);
       },
       3, u"yz", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::ResetMachine();
    c.plan();
    EXPECT_EQ(InjectText(c.text), c.inserted);
    EXPECT_EQ(sim::SendInputCallCount(), static_cast<long>(std::u16string(c.text).size())) << "nothing is retried";
    EXPECT_EQ(sim::TypedText(), c.typed);
    EXPECT_EQ(sim::DebugLines(), std::vector<std::string>{"Tavlo: SendInput failed, error 5"});
    EXPECT_EQ((platform::ReadKeyState(platform::kVkPacket) & 0x8000) != 0, c.packetLeftDown);
  }
  // The next text is reported on its own.
  sim::ResetMachine();
  sim::FailAlways("SendInput", platform::kErrorAccessDenied);
  EXPECT_EQ(InjectText(u"ab"), 0);
  EXPECT_EQ(InjectText(u"c"), 0);
  EXPECT_EQ(sim::DebugLines().size(), 2u);
  sim::ClearFailures();
}

TEST_F(LinkTest, PendingKeysAreServedBeforeTheStopEvent) {
  ASSERT_EQ(OpenKeyFilter(kWindow), kKeyFilterOpened);
  Settle();
  const platform::Handle thread = DispatcherThread();
  // Keep the dispatcher busy typing slot 0 while slot 3 and the stop event
  // both become pending.
  sim::HoldInput(true);
  platform::SetEvent(KeyEvents[0]);
  ASSERT_TRUE(sim::WaitForHeldSendInput());
  platform::SetEvent(KeyEvents[kStopEventSlot]);
  platform::SetEvent(KeyEvents[3]);
  sim::HoldInput(false);
  ASSERT_EQ(platform::WaitForOne(thread, 5000), platform::kWaitObject0);
  uint32_t code = 1;
  ASSERT_TRUE(platform::GetThreadExitCode(thread, &code));
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(sim::TypedText(), std::u16string(LayerKeyMap[0].Text) + LayerKeyMap[3].Text);
  EXPECT_EQ(DispatcherThread(), nullptr);
  platform::CloseHandle(thread);
  // With no dispatcher left, the shutdown does nothing; the device is
  // released by the process end (the fixture plays it).
  CloseKeyFilter();
  EXPECT_EQ(sim::ControlCallCount(), 1u);
}

TEST_F(LinkTest, IdleDispatcherMakesNoWakeUps) {
  ASSERT_EQ(OpenKeyFilter(kWindow), kKeyFilterOpened);
  Settle();
  const long before = sim::WaitCallCount();
  platform::Sleep(100);
  Settle();
  EXPECT_EQ(sim::WaitCallCount(), before) << "no wait while nothing is signalled";
  Press(kLayerKey);
  EXPECT_EQ(sim::WaitCallCount(), before + 1) << "one wait per served event";
}

TEST_F(LinkTest, FailedTableInstallStillStartsTheDispatcher) {
  sim::FailCall("DeviceIoControl", 1, 31);
  ASSERT_EQ(OpenKeyFilter(kWindow), kKeyFilterOpened);
  EXPECT_NE(DispatcherThread(), nullptr);
  Settle();
  EXPECT_FALSE(sim::FilterTableInstalled());
  CloseKeyFilter();
  EXPECT_EQ(sim::ControlCallCount(), 2u);
  EXPECT_EQ(DriverHandle, nullptr);
}

TEST_F(LinkTest, DispatcherThatCannotStartLeavesTheLinkOpenAndShutdownAlone) {
  sim::FailCall("CreateThread");
  ASSERT_EQ(OpenKeyFilter(kWindow), kKeyFilterOpened);
  EXPECT_EQ(DispatcherThread(), nullptr);
  EXPECT_TRUE(sim::FilterTableInstalled());
  CloseKeyFilter();
  EXPECT_EQ(sim::ControlCallCount(), 1u) << "no removal without a dispatcher";
  EXPECT_TRUE(platform::IsUsableHandle(DriverHandle));
  EXPECT_TRUE(sim::FilterDeviceOpen());
}

TEST_F(LinkTest, MissingKeyEventStartsNoDispatcher) {
  CloseKeyEvents();
  sim::FailCall("CreateEvent", 48);  // the stop event
  CreateKeyEvents();
  ASSERT_EQ(KeyEvents[kStopEventSlot], nullptr);
  ASSERT_EQ(OpenKeyFilter(kWindow), kKeyFilterOpened);
  EXPECT_EQ(DispatcherThread(), nullptr);
  EXPECT_EQ(sim::LiveThreadCount(), 0);
}

TEST_F(LinkTest, SecondOpenLeavesTheOpenLinkAlone) {
  ASSERT_EQ(OpenKeyFilter(kWindow), kKeyFilterOpened);
  const platform::Handle device = DriverHandle;
  const platform::Handle thread = DispatcherThread();
  EXPECT_EQ(OpenKeyFilter(kWindow), kKeyFilterOpened);
  EXPECT_EQ(DriverHandle, device);
  EXPECT_EQ(DispatcherThread(), thread);
  EXPECT_EQ(sim::FilterOpenCount(), 1);
  EXPECT_EQ(sim::ControlCallCount(), 1u);
  EXPECT_TRUE(sim::MessageBoxesShown().empty());
}

TEST_F(LinkTest, SendLayerModeWithoutAnOpenDriverOnlyStoresTheMode) {
  for (platform::Handle h : {platform::NullHandle(), platform::InvalidHandle()}) {
    DriverHandle = h;
    SendLayerMode(1);
    EXPECT_EQ(LayerMode.load(), 1);
    SendLayerMode(0);
    EXPECT_EQ(LayerMode.load(), 0);
  }
  DriverHandle = nullptr;
  EXPECT_EQ(sim::ControlCallCount(), 0u);
}
