// Tavlo.exe end to end under Wine: the real program against the test filter
// driver, typing into a real edit control that holds the keyboard focus.
// The driver plays the keyboard's scan codes; the real keyboard state holds
// Shift and Caps Lock; the edit shows what Tavlo typed; the driver's log
// shows every call Tavlo made to its control device.
//
// Every test starts its own Tavlo and ends it (/Kill, else the job ends it);
// the driver is installed once for the suite and removed at its end, and by
// the ctest cleanup step if this process dies.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "layer/key_map.h"
#include "tests/e2e/e2e_support.h"
#include "tests/e2e/tavlo_fixture.h"

namespace {

using e2e::kClose;
using e2e::kLayerOff;
using e2e::kLayerOn;
using e2e::kTableInstall;
using e2e::kTableRemoval;
using e2e::Taps;
using e2e::TavloExe;

using testdriver::Break;
using testdriver::Make;

constexpr uint8_t kLayerKey = 0x76;

class TavloWithTestDriver : public e2e::TavloOnTestDriver {
 protected:
  void TearDown() override {
    e2e::SetShift(false);
    e2e::SetCapsLock(false);
    TavloOnTestDriver::TearDown();
  }

  // Injects the transitions and gives the event slots the driver signalled.
  std::vector<int> Inject(const std::vector<KbdTestTransition>& moves) {
    std::vector<uint32_t> records;
    EXPECT_EQ(device_.Inject(moves, &records), static_cast<DWORD>(ERROR_SUCCESS));
    std::vector<int> slots;
    for (uint32_t r : records) slots.push_back(e2e::SlotOfRecord(r));
    return slots;
  }

  // The layer key's press (or release) at the keyboard, and the wait until
  // Tavlo has switched the driver's layer accordingly.
  void LayerKey(bool down) {
    EXPECT_EQ(Inject({down ? Make(kLayerKey) : Break(kLayerKey)}),
              std::vector<int>{down ? tavlo::kLayerKeyPressSlot : tavlo::kLayerKeyReleaseSlot});
    WaitForLayer(down);
  }

  KbdTestState State() {
    KbdTestState s{};
    EXPECT_EQ(device_.QueryState(&s), static_cast<DWORD>(ERROR_SUCCESS));
    return s;
  }

  std::vector<std::string> LogLines() {
    testdriver::Log log;
    EXPECT_EQ(device_.ReadLog(&log), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(log.dropped, 0u);
    return e2e::LogLines(log);
  }
};

// The start: one open, one table of 2208 bytes naming 47 of Tavlo's own
// events, no layer command, no message box. /Kill: the table's removal, then
// the close, and nothing else.
TEST_F(TavloWithTestDriver, InstallsOneTableOfItsOwnEventsAndRemovesItThenClosesAtKill) {
  const KbdTestState s = State();
  EXPECT_EQ(s.ControlOpen, 1u);
  EXPECT_EQ(s.OwnerProcessId, tavlo_.pid());
  EXPECT_EQ(s.EventsHeld, 47u);
  EXPECT_EQ(s.EventsFailed, 0u);
  EXPECT_EQ(s.LayerMode, 0u);
  EXPECT_TRUE(e2e::MessageBoxesOf(tavlo_.pid()).empty()) << "a message box shows although the driver is present";
  EXPECT_FALSE(::IsWindowVisible(window_));

  testdriver::Log log;
  ASSERT_EQ(device_.ReadLog(&log), static_cast<DWORD>(ERROR_SUCCESS));
  const std::vector<std::string> start = e2e::LogLines(log);
  ASSERT_EQ(start.size(), 2u) << "one open and one table, and no other call at start";
  EXPECT_EQ(start[0], "create -> 0x00000000");
  EXPECT_EQ(start[1].rfind(kTableInstall, 0), 0u) << start[1].substr(0, 40);
  for (const testdriver::LogEntry& e : log.entries) EXPECT_EQ(e.process_id, tavlo_.pid());

  // The table's records and the events they name.
  const testdriver::LogEntry& table = log.entries.back();
  ASSERT_EQ(table.input.size(), 2208u);
  const std::vector<uint64_t> events = table.TableEvents();
  ASSERT_EQ(events.size(), 92u);
  for (int slot = 0; slot < tavlo::kCharacterKeyCount; ++slot) {
    SCOPED_TRACE("slot " + std::to_string(slot));
    uint16_t make[2];
    std::memcpy(&make[0], &table.input[48 * slot + 4], 2);
    std::memcpy(&make[1], &table.input[48 * slot + 24 + 4], 2);
    EXPECT_EQ(make[0], tavlo::LayerKeyMap[slot].ScanCode);
    EXPECT_EQ(make[1], tavlo::LayerKeyMap[slot].ScanCode);
    EXPECT_EQ(events[2 * slot], events[2 * slot + 1]) << "press and release name the key's one event";
  }
  std::set<uint64_t> distinct(events.begin(), events.end());
  EXPECT_EQ(distinct.size(), 47u);
  for (uint64_t value : distinct) {
    SCOPED_TRACE("event " + std::to_string(value));
    HANDLE copy = nullptr;
    ASSERT_TRUE(::DuplicateHandle(tavlo_.process(), reinterpret_cast<HANDLE>(static_cast<uintptr_t>(value)),
                                  ::GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
        << "not a handle of Tavlo's process";
    // An unsignalled event: a zero wait times out, and resetting it is
    // allowed only on an event.
    EXPECT_EQ(::WaitForSingleObject(copy, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_TRUE(::ResetEvent(copy));
    ::CloseHandle(copy);
  }

  ASSERT_EQ(e2e::RunKill(TavloExe(), 10000), 0);
  ASSERT_EQ(tavlo_.WaitEnded(10000), 0);
  // One queue serves every request to the driver in order, so Tavlo's close
  // is in the log once its process has ended.
  const std::vector<std::string> all = LogLines();
  const std::vector<std::string> stop(all.begin() + std::min<size_t>(all.size(), 2), all.end());
  EXPECT_EQ(stop, (std::vector<std::string>{kTableRemoval, kClose}));
  const KbdTestState after = State();
  EXPECT_EQ(after.ControlOpen, 0u);
  EXPECT_EQ(after.TableInstalled, 0u);
}

// The layer types only while the 0x76 key is held: every character key's
// text in slot order, the four keys with an empty text typing nothing.
TEST_F(TavloWithTestDriver, TypesTheLayerTextsIntoTheFocusedEditOnlyWhileTheLayerKeyIsHeld) {
  e2e::EditBox box;
  std::string error;
  ASSERT_TRUE(box.Create(&error)) << error;

  // Layer off: the driver signals nothing and nothing is typed.
  EXPECT_TRUE(Inject(Taps({6, 0, 26})).empty());
  EXPECT_EQ(box.PumpUntilLength(1, 300), u"");

  ASSERT_NO_FATAL_FAILURE(LayerKey(true));
  std::vector<int> all;
  std::u16string expected;
  for (int slot = 0; slot < tavlo::kCharacterKeyCount; ++slot) {
    all.push_back(slot);
    expected += tavlo::LayerKeyMap[slot].Text;
  }
  EXPECT_EQ(Inject(Taps(all)), all) << "each press signals its key once, no release does";
  const std::u16string typed = box.PumpUntilLength(expected.size(), 5000);
  EXPECT_EQ(typed, expected) << e2e::Utf8(typed);
  // The letters a plain keyboard lacks, independently of the table above.
  EXPECT_EQ(typed.substr(0, 4), u"\u028C\u0253\u0254\u0257") << "A B C D";
  EXPECT_EQ(typed.substr(typed.size() - 3), u"\u00E6\u0153\u00A7") << "slash, semicolon, grave accent";

  // Left and right bracket, comma and period type nothing without Shift;
  // the grave accent after them shows that they were served.
  box.Clear();
  EXPECT_EQ(Inject(Taps({38, 39, 42, 43, 44})), (std::vector<int>{38, 39, 42, 43, 44}));
  EXPECT_EQ(box.PumpUntilLength(1, 5000), u"\u00A7");
  EXPECT_EQ(box.PumpUntilLength(2, 200), u"\u00A7");

  // Release: the layer is off again and the keys type nothing.
  ASSERT_NO_FATAL_FAILURE(LayerKey(false));
  box.Clear();
  EXPECT_TRUE(Inject(Taps({6, 0})).empty());
  EXPECT_EQ(box.PumpUntilLength(1, 300), u"");

  // The driver saw the table, then one layer-on and one layer-off command.
  const std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[2], kLayerOn);
  EXPECT_EQ(lines[3], kLayerOff);
}

// Shift picks a key's second text; for letters Caps Lock reverses that
// choice. The state is the keyboard's as the dispatcher's GetKeyState reads
// it when it serves the key (see e2e::ShareKeyboardState for how it reaches
// the dispatcher under Wine).
TEST_F(TavloWithTestDriver, ShiftAndCapsLockChooseTheTextAsTheKeyboardStateSays) {
  e2e::EditBox box;
  std::string error;
  ASSERT_TRUE(box.Create(&error)) << error;
  ASSERT_NO_FATAL_FAILURE(LayerKey(true));
  // One key first: the dispatcher reads the key state, which gives its
  // thread the message queue that attaching it needs.
  EXPECT_EQ(Inject(Taps({0})), std::vector<int>{0});
  ASSERT_EQ(box.PumpUntilLength(1, 5000), u"\u028C");
  ASSERT_GE(e2e::ShareKeyboardState(tavlo_.pid(), ::GetWindowThreadProcessId(window_, nullptr), &error), 1) << error;
  e2e::KeyStateReader reader;
  ASSERT_TRUE(reader.Start(&error)) << error;

  struct Case {
    bool shift;
    bool caps;
    const char16_t* expected;  // A, digit 1, left bracket, grave accent
  };
  const Case cases[] = {
      {true, false, u"\u0245\u0300\u00B6\u0327"},
      {false, true, u"\u0245\u00AC\u00A7"},
      {true, true, u"\u028C\u0300\u00B6\u0327"},
      {false, false, u"\u028C\u00AC\u00A7"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("shift ") + (c.shift ? "down" : "up") + ", caps lock " + (c.caps ? "on" : "off"));
    e2e::SetShift(c.shift);
    e2e::SetCapsLock(c.caps);
    ASSERT_TRUE(reader.WaitFor(c.shift, c.caps, 2000)) << "a windowless thread's GetKeyState does not see the state";
    box.Clear();
    // In slot order, so that the dispatcher serves them in this order even
    // when several are pending at once.
    EXPECT_EQ(Inject(Taps({0, 26, 38, 44})), (std::vector<int>{0, 26, 38, 44}));
    const std::u16string expected = c.expected;
    const std::u16string typed = box.PumpUntilLength(expected.size(), 5000);
    EXPECT_EQ(typed, expected) << e2e::Utf8(typed);
  }
  ASSERT_NO_FATAL_FAILURE(LayerKey(false));
}

}  // namespace
