// The simulated filter driver and input stream keep to the contract the
// system relies on: the device path and exclusive open, the two control
// codes, signalling by the installed table and the layer mode, and the
// recording of every call and input event.
#include <gtest/gtest.h>

#include <vector>

#include "platform/control_device.h"
#include "platform/input.h"
#include "platform/kernel.h"
#include "platform/sim/sim.h"
#include "platform/sim/sim_driver.h"
#include "platform/sim/sim_input.h"

using namespace platform;

namespace {

constexpr uint32_t kSetTable = 0x0022210C;
constexpr uint32_t kSetMode = 0x00222138;

void PutRecord(std::vector<uint8_t>& out, uint32_t action, uint16_t makeCode, uint16_t flags, Handle event) {
  auto put = [&out](uint64_t v, int n) {
    for (int i = 0; i < n; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  put(action, 4);
  put(makeCode, 2);
  put(flags, 2);
  put(0, 8);
  put(reinterpret_cast<uintptr_t>(event), 8);
}

class SimDriver : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::ResetMachine();
    for (Handle& e : events_) e = CreateEventObject(false, false);
    // Character key 0x22 (press reported, release not) and the layer key.
    PutRecord(table_, 0x00010201, 0x22, 0, events_[0]);
    PutRecord(table_, 0x00010200, 0x22, 1, events_[0]);
    PutRecord(table_, 0x00000001, 0x76, 0, events_[1]);
    PutRecord(table_, 0x00000001, 0x76, 1, events_[2]);
  }
  void TearDown() override {
    for (Handle e : events_) CloseHandle(e);
    sim::ClearFailures();
    EXPECT_EQ(sim::UseOfClosedHandleCount(), 0);
  }
  bool Signalled(int i) { return WaitForOne(events_[i], 0) == kWaitObject0; }
  bool Mode(Handle device, uint8_t mode) { return SendControlCode(device, kSetMode, &mode, 1); }

  Handle events_[3] = {};
  std::vector<uint8_t> table_;
};

}  // namespace

TEST_F(SimDriver, OpenByPathExclusivelyOrNotAtAll) {
  SetLastError(0);
  EXPECT_EQ(OpenControlDevice(u"\\\\.\\kbdfiltr_other"), InvalidHandle());
  EXPECT_EQ(LastError(), kErrorFileNotFound);
  EXPECT_EQ(OpenControlDevice(nullptr), InvalidHandle());

  Handle device = OpenControlDevice(sim::kFilterDevicePath);
  ASSERT_TRUE(IsUsableHandle(device));
  EXPECT_EQ(OpenControlDevice(sim::kFilterDevicePath), InvalidHandle()) << "no sharing";
  EXPECT_EQ(LastError(), kErrorSharingViolation);
  ASSERT_TRUE(CloseHandle(device));
  device = OpenControlDevice(u"\\\\.\\KBDFILTR_qx7tl4");
  EXPECT_TRUE(IsUsableHandle(device)) << "device names ignore case";
  CloseHandle(device);

  sim::SetFilterDriverPresent(false);
  EXPECT_EQ(OpenControlDevice(sim::kFilterDevicePath), InvalidHandle());
  EXPECT_EQ(LastError(), kErrorFileNotFound);
  sim::SetFilterDriverPresent(true);
  sim::FailCall("OpenControlDevice", 1, kErrorAccessDenied);
  EXPECT_EQ(OpenControlDevice(sim::kFilterDevicePath), InvalidHandle());
  EXPECT_EQ(LastError(), kErrorAccessDenied);
}

TEST_F(SimDriver, SignalsByTableAndMode) {
  Handle device = OpenControlDevice(sim::kFilterDevicePath);
  EXPECT_EQ(sim::PressScanCode(0x76), 0) << "nothing before a table";
  ASSERT_TRUE(SendControlCode(device, kSetTable, table_.data(), static_cast<uint32_t>(table_.size())));
  EXPECT_EQ(sim::FilterTableRecordCount(), 4u);

  // Layer off: the character key is not reported, the layer key always is.
  EXPECT_EQ(sim::PressScanCode(0x22), 0);
  EXPECT_FALSE(Signalled(0));
  EXPECT_EQ(sim::PressScanCode(0x76), 1);
  EXPECT_TRUE(Signalled(1));
  EXPECT_EQ(sim::ReleaseScanCode(0x76), 1);
  EXPECT_TRUE(Signalled(2));

  ASSERT_TRUE(Mode(device, 1));
  ASSERT_TRUE(Mode(device, 1));
  EXPECT_EQ(sim::FilterLayerMode(), 1);
  EXPECT_EQ(sim::PressScanCode(0x22), 1);
  EXPECT_TRUE(Signalled(0));
  EXPECT_EQ(sim::ReleaseScanCode(0x22), 0) << "a character key's release is never reported";
  EXPECT_EQ(sim::PressScanCode(0x76), 1);
  EXPECT_TRUE(Signalled(1));
  EXPECT_EQ(sim::PressScanCode(0x30), 0) << "a key without a record";

  ASSERT_TRUE(SendControlCode(device, kSetTable, nullptr, 0));
  EXPECT_FALSE(sim::FilterTableInstalled());
  EXPECT_EQ(sim::PressScanCode(0x22), 0);
  EXPECT_EQ(sim::PressScanCode(0x76), 0);
  EXPECT_EQ(sim::ReleaseScanCode(0x76), 0);
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(Signalled(i));
  CloseHandle(device);
}

TEST_F(SimDriver, RecordsEveryCallWithItsBytesAndRejectsMalformedOnes) {
  Handle device = OpenControlDevice(sim::kFilterDevicePath);
  const uint8_t two[2] = {1, 0};
  const uint8_t five = 5;
  EXPECT_FALSE(SendControlCode(device, kSetMode, two, 2));
  EXPECT_FALSE(SendControlCode(device, kSetMode, &five, 1));
  EXPECT_FALSE(SendControlCode(device, kSetMode, nullptr, 0));
  EXPECT_FALSE(SendControlCode(device, kSetTable, table_.data(), 23)) << "not whole records";
  EXPECT_FALSE(SendControlCode(device, 0x00222000, &five, 1)) << "unknown code";
  std::vector<uint8_t> bad = table_;
  bad[20] ^= 0x80;  // an event handle that names nothing
  EXPECT_FALSE(SendControlCode(device, kSetTable, bad.data(), static_cast<uint32_t>(bad.size())));
  EXPECT_EQ(LastError(), kErrorInvalidHandle);
  EXPECT_FALSE(sim::FilterTableInstalled());
  sim::FailCall("DeviceIoControl");
  EXPECT_FALSE(Mode(device, 1));
  EXPECT_EQ(sim::FilterLayerMode(), 0);

  const std::vector<sim::ControlCall> calls = sim::ControlCalls();
  ASSERT_EQ(calls.size(), 7u);
  EXPECT_EQ(calls[0].input, (std::vector<uint8_t>{1, 0}));
  EXPECT_TRUE(calls[2].inputNull);
  EXPECT_EQ(calls[3].input.size(), 23u);
  EXPECT_EQ(calls[6].input, std::vector<uint8_t>{1});
  for (const sim::ControlCall& call : calls) EXPECT_FALSE(call.succeeded);

  // A closed device takes no calls, and its use is counted.
  CloseHandle(device);
  EXPECT_FALSE(Mode(device, 1));
  EXPECT_EQ(sim::ControlCallCount(), 7u);
  EXPECT_EQ(sim::UseOfClosedHandleCount(), 1);
  sim::ResetMachine();
}

TEST_F(SimDriver, ClosingTheDeviceDropsItsTable) {
  Handle device = OpenControlDevice(sim::kFilterDevicePath);
  ASSERT_TRUE(SendControlCode(device, kSetTable, table_.data(), static_cast<uint32_t>(table_.size())));
  CloseHandle(device);
  EXPECT_FALSE(sim::FilterDeviceOpen());
  EXPECT_EQ(sim::FilterCloseCount(), 1);
  EXPECT_EQ(sim::PressScanCode(0x76), 0);
}

TEST(SimInput, KeyStateAndSink) {
  sim::ResetMachine();
  EXPECT_EQ(ReadKeyState(kVkShift), 0);
  EXPECT_EQ(ReadKeyState(kVkCapital), 0);
  sim::SetShiftDown(true);
  sim::ToggleCapsLock();
  EXPECT_NE(static_cast<uint16_t>(ReadKeyState(kVkShift)) & 0x8000, 0);
  EXPECT_EQ(ReadKeyState(kVkCapital) & 1, 1);
  EXPECT_EQ(static_cast<uint16_t>(ReadKeyState(kVkCapital)) & 0x8000, 0) << "toggled on, not held";
  sim::FailCall("GetKeyState");
  EXPECT_EQ(ReadKeyState(kVkShift), 0);

  InputEvent events[2] = {};
  events[0].type = kInputKeyboard;
  events[0].ki.wScan = 0x014B;
  events[0].ki.dwFlags = kKeyEventUnicode;
  events[1] = events[0];
  events[1].ki.dwFlags |= kKeyEventKeyUp;
  EXPECT_EQ(SendInputEvents(2, events, sizeof(InputEvent)), 2u);
  EXPECT_EQ(SendInputEvents(1, events, sizeof(InputEvent) - 4), 0u) << "wrong record size";
  EXPECT_EQ(LastError(), kErrorInvalidParameter);
  EXPECT_EQ(SendInputEvents(0, events, sizeof(InputEvent)), 0u);
  sim::FailCall("SendInput");
  EXPECT_EQ(SendInputEvents(1, events, sizeof(InputEvent)), 0u);
  EXPECT_EQ(sim::SentInputCount(), 2u);
  EXPECT_EQ(sim::SendInputCallCount(), 4);
  EXPECT_EQ(sim::TypedText(), u"\u014B") << "key-ups type nothing";
}

// VK_PACKET moves with the Unicode events of the stream as on Windows: down
// from a key-down until a key-up, whatever their code units, and a key-down
// while it is down is an auto-repeat to the application.
TEST(SimInput, VkPacketIsDownFromAUnicodeKeyDownUntilItsKeyUp) {
  struct Event {
    char16_t unit;
    bool up;
  };
  struct Case {
    const char* name;
    std::vector<Event> events;
    uint16_t state;  // GetKeyState(VK_PACKET) afterwards
    long repeats;
  };
  const Case cases[] = {
      {"nothing sent", {}, 0x0000, 0},
      {"a key-down alone", {{u'a', false}}, 0xFF81, 0},
      {"a key-down and its key-up", {{u'a', false}, {u'a', true}}, 0x0001, 0},
      {"a key-up before its key-down", {{u'a', true}, {u'a', false}}, 0xFF81, 0},
      {"two key-downs without their key-ups", {{u'a', false}, {u'b', false}}, 0xFF81, 1},
      {"two units, each down and up", {{u'a', false}, {u'a', true}, {u'b', false}, {u'b', true}}, 0x0000, 0},
      {"the second key-down before the first key-up",
       {{u'a', false}, {u'b', false}, {u'a', true}, {u'b', true}},
       0x0001,
       1},
      {"a key-up of another unit", {{u'a', false}, {u'b', true}}, 0x0001, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::ResetMachine();
    for (const Event& e : c.events) {
      InputEvent input{};
      input.type = kInputKeyboard;
      input.ki.wScan = e.unit;
      input.ki.dwFlags = kKeyEventUnicode | (e.up ? kKeyEventKeyUp : 0u);
      ASSERT_EQ(SendInputEvents(1, &input, sizeof input), 1u);
    }
    EXPECT_EQ(static_cast<uint16_t>(ReadKeyState(kVkPacket)), c.state);
    EXPECT_EQ(sim::RepeatedKeyDownCount(), c.repeats);
  }
  // A virtual-key event moves no state here.
  sim::ResetMachine();
  InputEvent key{};
  key.type = kInputKeyboard;
  key.ki.wVk = 0x41;
  ASSERT_EQ(SendInputEvents(1, &key, sizeof key), 1u);
  EXPECT_EQ(ReadKeyState(kVkPacket), 0);
}

// A call cut short inserts its first events only and says how many.
TEST(SimInput, ShortenedCallInsertsItsFirstEventsOnly) {
  sim::ResetMachine();
  InputEvent events[2] = {};
  for (InputEvent& e : events) {
    e.type = kInputKeyboard;
    e.ki.wScan = 0x0253;
    e.ki.dwFlags = kKeyEventUnicode;
  }
  events[1].ki.dwFlags |= kKeyEventKeyUp;
  sim::ShortenNextSendInput(1, kErrorAccessDenied);
  SetLastError(0);
  EXPECT_EQ(SendInputEvents(2, events, sizeof(InputEvent)), 1u);
  EXPECT_EQ(LastError(), kErrorAccessDenied);
  EXPECT_EQ(sim::SentInputCount(), 1u);
  EXPECT_NE(ReadKeyState(kVkPacket) & 0x8000, 0) << "the key-up did not go in";
  EXPECT_EQ(SendInputEvents(2, events, sizeof(InputEvent)), 2u) << "only the next call is cut";
  EXPECT_EQ(sim::SentInputCount(), 3u);
  EXPECT_EQ(ReadKeyState(kVkPacket) & 0x8000, 0);
}
