// The test keyboard filter driver under Wine: its service life, the exclusive
// control device, the key table and layer mode, the events it signals for
// injected key transitions, and the log of everything the control device got.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tests/driver/driver_control.h"

namespace {

using testdriver::Break;
using testdriver::Log;
using testdriver::LogEntry;
using testdriver::Make;
using testdriver::TestDevice;

constexpr int kCharacterKeys = 45;
constexpr int kLayerPress = 45;    // event slot of the 0x76 key's make
constexpr int kLayerRelease = 46;  // event slot of its break
constexpr int kEventCount = 47;
constexpr uint8_t kLayerKey = 0x76;

// Set-1 scan codes of the character keys, in slot order.
constexpr uint8_t kScanCodes[kCharacterKeys] = {0x1E, 0x30, 0x2E, 0x20, 0x12, 0x21, 0x22, 0x23, 0x17, 0x24, 0x25, 0x26,
                                                0x32, 0x31, 0x18, 0x19, 0x10, 0x13, 0x1F, 0x14, 0x16, 0x2F, 0x11, 0x2D,
                                                0x15, 0x2C, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B,
                                                0x0C, 0x0D, 0x1A, 0x1B, 0x35, 0x27, 0x33, 0x34, 0x29};

void PutRecord(std::vector<uint8_t>* table, int index, uint32_t action, uint16_t make, uint16_t flags, uint64_t event) {
  uint8_t* r = table->data() + index * KBDFILTR_RECORD_SIZE;
  std::memcpy(r, &action, 4);
  std::memcpy(r + 4, &make, 2);
  std::memcpy(r + 6, &flags, 2);
  std::memset(r + 8, 0, 8);
  std::memcpy(r + 16, &event, 8);
}

// The key table as the program under test builds it.
std::vector<uint8_t> BuildTable(const std::vector<uint64_t>& events) {
  std::vector<uint8_t> table(KBDFILTR_TABLE_SIZE);
  for (int i = 0; i < kCharacterKeys; ++i) {
    PutRecord(&table, 2 * i, 0x00010201, kScanCodes[i], 0, events[i]);
    PutRecord(&table, 2 * i + 1, 0x00010200, kScanCodes[i], 1, events[i]);
  }
  PutRecord(&table, 90, 0x00000001, kLayerKey, 0, events[kLayerPress]);
  PutRecord(&table, 91, 0x00000001, kLayerKey, 1, events[kLayerRelease]);
  return table;
}

struct Events {
  std::vector<HANDLE> handles;
  Events() {
    for (int i = 0; i < kEventCount; ++i) handles.push_back(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  }
  ~Events() {
    for (HANDLE h : handles)
      if (h) CloseHandle(h);
  }
  std::vector<uint64_t> Values() const {
    std::vector<uint64_t> v;
    for (HANDLE h : handles) v.push_back(static_cast<uint64_t>(reinterpret_cast<uintptr_t>(h)));
    return v;
  }
  // The slots whose event is signalled, consuming the signals.
  std::vector<int> TakeSignalled() const {
    std::vector<int> slots;
    for (int i = 0; i < kEventCount; ++i)
      if (WaitForSingleObject(handles[i], 0) == WAIT_OBJECT_0) slots.push_back(i);
    return slots;
  }
};

HANDLE OpenControl() {
  return CreateFileW(testdriver::kControlDevicePath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                     nullptr);
}

BOOL SendControl(HANDLE control, DWORD code, const void* input, DWORD length) {
  DWORD returned = 0;
  return DeviceIoControl(control, code, const_cast<void*>(input), length, nullptr, 0, &returned, nullptr);
}

BOOL SendMode(HANDLE control, uint8_t mode) { return SendControl(control, KBDFILTR_IOCTL_SET_LAYER_MODE, &mode, 1); }

// The log as lines, without cleanup entries: Windows sends one before each
// close, Wine none.
std::vector<std::string> Lines(const Log& log) {
  std::vector<std::string> lines;
  for (const LogEntry& e : log.entries)
    if (e.kind != KBDTEST_LOG_CLEANUP) lines.push_back(testdriver::Describe(e));
  return lines;
}

std::string Hex(const std::vector<uint8_t>& bytes) {
  std::string s;
  char b[3];
  for (uint8_t v : bytes) {
    std::snprintf(b, sizeof b, "%02x", v);
    s += b;
  }
  return s;
}

// The driver stays installed for the whole suite and is removed at its end,
// whatever the outcome (the ctest cleanup removes it if this process dies).
class TestDriver : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { driver_ = new testdriver::ScopedDriver(); }
  static void TearDownTestSuite() {
    delete driver_;
    driver_ = nullptr;
  }

  void SetUp() override {
    ASSERT_EQ(driver_->error(), static_cast<DWORD>(ERROR_SUCCESS))
        << "install/start failed at " << driver_->failed_step();
    ASSERT_EQ(device_.Open(), static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_EQ(device_.ClearLog(), static_cast<DWORD>(ERROR_SUCCESS));
  }

  void TearDown() override {
    if (control_ != INVALID_HANDLE_VALUE) CloseHandle(control_);
  }

  Log ReadLog() {
    Log log;
    EXPECT_EQ(device_.ReadLog(&log), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(log.dropped, 0u);
    return log;
  }

  // Injects transitions and returns the event slots the driver signalled, in
  // its order; checks that exactly those events of this process are set.
  std::vector<int> Press(const std::vector<KbdTestTransition>& moves) {
    std::vector<uint32_t> records;
    EXPECT_EQ(device_.Inject(moves, &records), static_cast<DWORD>(ERROR_SUCCESS));
    std::vector<int> slots;
    for (uint32_t r : records)
      slots.push_back(r >= 90 ? static_cast<int>(r) - 90 + kLayerPress : static_cast<int>(r / 2));
    std::vector<int> sorted = slots;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(events_.TakeSignalled(), sorted);
    return slots;
  }

  static testdriver::ScopedDriver* driver_;
  TestDevice device_;
  Events events_;
  HANDLE control_ = INVALID_HANDLE_VALUE;
};

testdriver::ScopedDriver* TestDriver::driver_ = nullptr;

// The first open holds the control device until it is closed; another open
// can neither remove the holder's table nor switch its layer.
TEST_F(TestDriver, ControlDeviceIsHeldByItsFirstOpenAndEveryOpenAndCloseIsLogged) {
  control_ = OpenControl();
  ASSERT_NE(control_, INVALID_HANDLE_VALUE) << GetLastError();
  const std::vector<uint8_t> table = BuildTable(events_.Values());
  ASSERT_TRUE(SendControl(control_, KBDFILTR_IOCTL_SET_KEY_TABLE, table.data(), KBDFILTR_TABLE_SIZE));

  std::vector<std::string> expected = {
      "create -> 0x00000000", "ioctl 0x0022210c in 2208 " + Hex(table) + " -> 0x00000000",
      "create -> 0xc0000043 other-open",  // STATUS_SHARING_VIOLATION
  };
  HANDLE second = OpenControl();
  if (second == INVALID_HANDLE_VALUE) {
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  } else {
    // Wine does not hand the driver's refusal of an open back to the opener;
    // the refused open gets nowhere.
    EXPECT_FALSE(SendControl(second, KBDFILTR_IOCTL_SET_KEY_TABLE, nullptr, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(SendMode(second, 1));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    CloseHandle(second);
    expected.push_back("ioctl 0x0022210c in 0 -> 0xc0000043 other-open");
    expected.push_back("ioctl 0x00222138 in 1 01 -> 0xc0000043 other-open");
    expected.push_back("close -> 0x00000000 other-open");
  }
  KbdTestState state{};
  ASSERT_EQ(device_.QueryState(&state), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(state.ControlOpen, 1u);
  EXPECT_EQ(state.TableInstalled, 1u);
  EXPECT_EQ(state.LayerMode, 0u);
  EXPECT_EQ(Press({Make(kScanCodes[0]), Make(kLayerKey)}), std::vector<int>{kLayerPress});

  CloseHandle(control_);
  control_ = OpenControl();  // free again once the holder closed it
  ASSERT_NE(control_, INVALID_HANDLE_VALUE) << GetLastError();
  expected.push_back("close -> 0x00000000");
  expected.push_back("create -> 0x00000000");

  Log log = ReadLog();
  EXPECT_EQ(Lines(log), expected);
  for (const LogEntry& e : log.entries) {
    if (e.holder) {
      EXPECT_EQ(e.process_id, GetCurrentProcessId()) << testdriver::Describe(e);
    }
  }
}

// The whole road: table, layer off and on, the layer key in both modes,
// removal, and the log of it all with exact bytes.
TEST_F(TestDriver, SignalsTheTablesEventsByLayerModeUntilTheTableIsRemoved) {
  control_ = OpenControl();
  ASSERT_NE(control_, INVALID_HANDLE_VALUE) << GetLastError();
  const std::vector<uint8_t> table = BuildTable(events_.Values());
  ASSERT_TRUE(SendControl(control_, KBDFILTR_IOCTL_SET_KEY_TABLE, table.data(), KBDFILTR_TABLE_SIZE)) << GetLastError();

  KbdTestState state{};
  ASSERT_EQ(device_.QueryState(&state), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(state.TableInstalled, 1u);
  EXPECT_EQ(state.EventsHeld, 47u);  // 45 character-key presses and both layer-key records
  EXPECT_EQ(state.EventsFailed, 0u) << std::hex << state.LastDuplicateStatus;
  EXPECT_EQ(state.OwnerProcessId, GetCurrentProcessId());
  EXPECT_EQ(state.LayerMode, 0u);

  // The layer is off from the start: no character key signals, press or release.
  for (int i = 0; i < kCharacterKeys; ++i) {
    EXPECT_EQ(Press({Make(kScanCodes[i])}), std::vector<int>()) << "slot " << i;
    EXPECT_EQ(Press({Break(kScanCodes[i])}), std::vector<int>()) << "slot " << i;
  }
  EXPECT_EQ(Press({Make(kLayerKey)}), std::vector<int>{kLayerPress});
  EXPECT_EQ(Press({Break(kLayerKey)}), std::vector<int>{kLayerRelease});

  ASSERT_TRUE(SendMode(control_, 1)) << GetLastError();
  ASSERT_TRUE(SendMode(control_, 1)) << GetLastError();  // the same value again is fine
  for (int i = 0; i < kCharacterKeys; ++i) {
    EXPECT_EQ(Press({Make(kScanCodes[i])}), std::vector<int>{i}) << "slot " << i;
    EXPECT_EQ(Press({Break(kScanCodes[i])}), std::vector<int>()) << "slot " << i;
  }
  // A transition is matched by its flags too: the same code after an E0 prefix
  // is another key.
  EXPECT_EQ(Press({Make(kScanCodes[0], true), Break(kScanCodes[0], true)}), std::vector<int>());
  EXPECT_EQ(Press({Make(kLayerKey, true), Break(kLayerKey, true)}), std::vector<int>());
  // The layer key signals whatever the mode; transitions are taken in order.
  EXPECT_EQ(Press({Make(kLayerKey), Make(kScanCodes[6]), Break(kScanCodes[6]), Break(kLayerKey)}),
            (std::vector<int>{kLayerPress, 6, kLayerRelease}));

  ASSERT_TRUE(SendMode(control_, 0)) << GetLastError();
  EXPECT_EQ(Press({Make(kScanCodes[6])}), std::vector<int>());

  ASSERT_TRUE(SendMode(control_, 1)) << GetLastError();
  ASSERT_TRUE(SendControl(control_, KBDFILTR_IOCTL_SET_KEY_TABLE, nullptr, 0)) << GetLastError();
  EXPECT_EQ(Press({Make(kScanCodes[6]), Break(kScanCodes[6]), Make(kLayerKey), Break(kLayerKey)}), std::vector<int>());
  ASSERT_EQ(device_.QueryState(&state), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(state.TableInstalled, 0u);

  CloseHandle(control_);
  control_ = INVALID_HANDLE_VALUE;

  Log log = ReadLog();
  EXPECT_EQ(Lines(log), (std::vector<std::string>{
                            "create -> 0x00000000",
                            "ioctl 0x0022210c in 2208 " + Hex(table) + " -> 0x00000000",
                            "ioctl 0x00222138 in 1 01 -> 0x00000000",
                            "ioctl 0x00222138 in 1 01 -> 0x00000000",
                            "ioctl 0x00222138 in 1 00 -> 0x00000000",
                            "ioctl 0x00222138 in 1 01 -> 0x00000000",
                            "ioctl 0x0022210c in 0 -> 0x00000000",
                            "close -> 0x00000000",
                        }));
  ASSERT_GE(log.entries.size(), 2u);
  // The handle values as sent: each character key's event in its two
  // records, then the layer key's press and release events.
  std::vector<uint64_t> sent;
  for (int i = 0; i < kCharacterKeys; ++i) sent.insert(sent.end(), 2, events_.Values()[i]);
  sent.push_back(events_.Values()[kLayerPress]);
  sent.push_back(events_.Values()[kLayerRelease]);
  EXPECT_EQ(log.entries[1].TableEvents(), sent);
}

TEST_F(TestDriver, WaitsForAStateAndGivesUpAfterItsTimeout) {
  auto table_installed = [](const KbdTestState& s) { return s.TableInstalled == 1; };
  EXPECT_EQ(device_.WaitUntil(table_installed, 50), static_cast<DWORD>(ERROR_TIMEOUT));
  control_ = OpenControl();
  ASSERT_NE(control_, INVALID_HANDLE_VALUE) << GetLastError();
  const std::vector<uint8_t> table = BuildTable(events_.Values());
  ASSERT_TRUE(SendControl(control_, KBDFILTR_IOCTL_SET_KEY_TABLE, table.data(), KBDFILTR_TABLE_SIZE));
  EXPECT_EQ(device_.WaitUntil(table_installed, 5000), static_cast<DWORD>(ERROR_SUCCESS));
}

// Closing the control device without removing the table leaves nothing
// behind: the next opener starts with no table and the layer off.
TEST_F(TestDriver, ClosingTheControlDeviceDropsTheTableAndTheMode) {
  control_ = OpenControl();
  ASSERT_NE(control_, INVALID_HANDLE_VALUE) << GetLastError();
  const std::vector<uint8_t> table = BuildTable(events_.Values());
  ASSERT_TRUE(SendControl(control_, KBDFILTR_IOCTL_SET_KEY_TABLE, table.data(), KBDFILTR_TABLE_SIZE));
  ASSERT_TRUE(SendMode(control_, 1));
  CloseHandle(control_);
  control_ = INVALID_HANDLE_VALUE;

  EXPECT_EQ(Press({Make(kScanCodes[0]), Make(kLayerKey), Break(kLayerKey)}), std::vector<int>());
  KbdTestState state{};
  ASSERT_EQ(device_.QueryState(&state), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(state.ControlOpen, 0u);
  EXPECT_EQ(state.TableInstalled, 0u);
  EXPECT_EQ(state.LayerMode, 0u);
}

// Control calls outside the protocol fail, are logged as sent, and leave the
// installed table and the mode as they were.
TEST_F(TestDriver, RejectsMalformedControlCallsAndKeepsTheTable) {
  control_ = OpenControl();
  ASSERT_NE(control_, INVALID_HANDLE_VALUE) << GetLastError();
  const std::vector<uint8_t> table = BuildTable(events_.Values());
  ASSERT_TRUE(SendControl(control_, KBDFILTR_IOCTL_SET_KEY_TABLE, table.data(), KBDFILTR_TABLE_SIZE));
  ASSERT_TRUE(SendMode(control_, 1));
  ASSERT_EQ(device_.ClearLog(), static_cast<DWORD>(ERROR_SUCCESS));

  struct Case {
    const char* what;
    DWORD code;
    DWORD length;
  };
  const std::vector<uint8_t> zeros(KBDFILTR_TABLE_SIZE + 1, 0);
  const Case cases[] = {
      {"one record short", KBDFILTR_IOCTL_SET_KEY_TABLE, KBDFILTR_TABLE_SIZE - KBDFILTR_RECORD_SIZE},
      {"one byte long", KBDFILTR_IOCTL_SET_KEY_TABLE, KBDFILTR_TABLE_SIZE + 1},
      {"mode of two bytes", KBDFILTR_IOCTL_SET_LAYER_MODE, 2},
      {"mode without its byte", KBDFILTR_IOCTL_SET_LAYER_MODE, 0},
      {"unknown code", KBDTEST_CTL_CODE(0x844u), 1},
  };
  std::vector<std::string> expected;
  for (const Case& c : cases) {
    EXPECT_FALSE(SendControl(control_, c.code, c.length ? zeros.data() : nullptr, c.length)) << c.what;
    std::vector<uint8_t> sent(zeros.begin(), zeros.begin() + c.length);
    char head[64];
    std::snprintf(head, sizeof head, "ioctl 0x%08x in %u", static_cast<unsigned>(c.code),
                  static_cast<unsigned>(c.length));
    expected.push_back(std::string(head) + (c.length ? " " + Hex(sent) : "") +
                       (c.code == KBDTEST_CTL_CODE(0x844u) ? " -> 0xc0000010" : " -> 0xc000000d"));
  }
  EXPECT_EQ(Lines(ReadLog()), expected);

  EXPECT_EQ(Press({Make(kScanCodes[3])}), std::vector<int>{3});
  EXPECT_EQ(Press({Make(kLayerKey)}), std::vector<int>{kLayerPress});
}

// Event values that are no handles of the sender: the table is installed,
// the driver counts what it could not use, and signals nothing for them.
TEST_F(TestDriver, EventValuesThatAreNoHandlesAreNeverSignalled) {
  control_ = OpenControl();
  ASSERT_NE(control_, INVALID_HANDLE_VALUE) << GetLastError();
  std::vector<uint64_t> values = events_.Values();
  values[kLayerPress] = 0x7FFFFFF0;   // no handle of this process
  values[5] = 0;                      // no event at all
  values[7] = 0xFFFFFFFFFFFFFFFFull;  // the current-process pseudo handle
  const std::vector<uint8_t> table = BuildTable(values);
  ASSERT_TRUE(SendControl(control_, KBDFILTR_IOCTL_SET_KEY_TABLE, table.data(), KBDFILTR_TABLE_SIZE));
  ASSERT_TRUE(SendMode(control_, 1));

  KbdTestState state{};
  ASSERT_EQ(device_.QueryState(&state), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(state.TableInstalled, 1u);
  EXPECT_EQ(state.EventsHeld + state.EventsFailed, 46u);  // slot 5's record names no event
  EXPECT_GE(state.EventsFailed, 1u);

  EXPECT_EQ(Press({Make(kLayerKey), Break(kLayerKey)}), std::vector<int>{kLayerRelease});
  EXPECT_EQ(Press({Make(kScanCodes[5])}), std::vector<int>());
  EXPECT_EQ(Press({Make(kScanCodes[7])}), std::vector<int>());
  EXPECT_EQ(Press({Make(kScanCodes[8])}), std::vector<int>{8});
}

// A full log keeps what came first, counts the rest, and keeps nothing after
// the first entry that did not fit.
TEST_F(TestDriver, AFullLogKeepsItsBeginningAndCountsWhatItDropped) {
  control_ = OpenControl();
  ASSERT_NE(control_, INVALID_HANDLE_VALUE) << GetLastError();
  const std::vector<uint8_t> table = BuildTable(events_.Values());
  const size_t table_entry = sizeof(KbdTestLogEntry) + KBDFILTR_TABLE_SIZE;
  const size_t room = KBDTEST_LOG_CAPACITY - sizeof(KbdTestLogHeader) - sizeof(KbdTestLogEntry);
  const size_t tables_kept = room / table_entry;
  for (size_t i = 0; i < tables_kept + 3; ++i)
    ASSERT_TRUE(SendControl(control_, KBDFILTR_IOCTL_SET_KEY_TABLE, table.data(), KBDFILTR_TABLE_SIZE));
  ASSERT_TRUE(SendMode(control_, 1));  // small enough to fit, but after a dropped entry

  Log log;
  ASSERT_EQ(device_.ReadLog(&log), static_cast<DWORD>(ERROR_SUCCESS));
  ASSERT_EQ(log.entries.size(), 1 + tables_kept);
  EXPECT_EQ(log.dropped, 4u);
  EXPECT_EQ(log.entries[0].kind, static_cast<uint32_t>(KBDTEST_LOG_CREATE));
  for (size_t i = 1; i < log.entries.size(); ++i) EXPECT_EQ(log.entries[i].input, table) << i;

  ASSERT_EQ(device_.ClearLog(), static_cast<DWORD>(ERROR_SUCCESS));
  ASSERT_TRUE(SendMode(control_, 0));
  EXPECT_EQ(Lines(ReadLog()), std::vector<std::string>{"ioctl 0x00222138 in 1 00 -> 0x00000000"});
}

// Every entry carries the time its request reached the driver, and the state
// the time of the last signal, on the clock user mode reads as DriverClock:
// each lies between the clock read just before and just after the call.
TEST_F(TestDriver, StampsEachEntryAndTheLastSignalWithTheTimeOnTheUserModeClock) {
  ASSERT_GT(testdriver::DriverClockFrequency(), 0);
  KbdTestState state{};
  ASSERT_EQ(device_.QueryState(&state), static_cast<DWORD>(ERROR_SUCCESS));
  const int64_t earlier_signal = state.LastSignalTime;

  std::vector<std::pair<int64_t, int64_t>> calls;  // clock before and after each logged call
  auto timed = [&calls](auto&& call) {
    const int64_t before = testdriver::DriverClock();
    call();
    calls.emplace_back(before, testdriver::DriverClock());
  };
  timed([this] { control_ = OpenControl(); });
  ASSERT_NE(control_, INVALID_HANDLE_VALUE) << GetLastError();
  const std::vector<uint8_t> table = BuildTable(events_.Values());
  timed([&] { SendControl(control_, KBDFILTR_IOCTL_SET_KEY_TABLE, table.data(), KBDFILTR_TABLE_SIZE); });
  timed([this] { SendMode(control_, 1); });
  timed([this] { SendMode(control_, 0); });

  // A transition that signals nothing leaves the last signal's time alone.
  EXPECT_EQ(Press({Make(kScanCodes[2])}), std::vector<int>());
  ASSERT_EQ(device_.QueryState(&state), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(state.LastSignalTime, earlier_signal);
  const int64_t before = testdriver::DriverClock();
  EXPECT_EQ(Press({Make(kLayerKey)}), std::vector<int>{kLayerPress});
  const int64_t after = testdriver::DriverClock();
  ASSERT_EQ(device_.QueryState(&state), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_GE(state.LastSignalTime, before);
  EXPECT_LE(state.LastSignalTime, after);

  const Log log = ReadLog();
  ASSERT_EQ(log.entries.size(), calls.size());
  for (size_t i = 0; i < calls.size(); ++i) {
    EXPECT_GE(log.entries[i].time, calls[i].first) << testdriver::Describe(log.entries[i]);
    // Wine's CreateFileW returns before the driver has seen the open.
    if (log.entries[i].kind == KBDTEST_LOG_CREATE) continue;
    EXPECT_LE(log.entries[i].time, calls[i].second) << testdriver::Describe(log.entries[i]);
  }
}

// The notify event is set for each entry the log gains, and for nothing else.
TEST_F(TestDriver, SetsTheNotifyEventWheneverTheLogGrows) {
  HANDLE notify = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  ASSERT_NE(notify, nullptr);
  ASSERT_EQ(device_.SetNotify(notify), static_cast<DWORD>(ERROR_SUCCESS));
  auto notified = [notify] { return WaitForSingleObject(notify, 0) == WAIT_OBJECT_0; };

  control_ = OpenControl();
  ASSERT_NE(control_, INVALID_HANDLE_VALUE) << GetLastError();
  // Wine's CreateFileW returns before the driver has seen the open.
  EXPECT_EQ(WaitForSingleObject(notify, 5000), static_cast<DWORD>(WAIT_OBJECT_0)) << "the open";
  const std::vector<uint8_t> table = BuildTable(events_.Values());
  ASSERT_TRUE(SendControl(control_, KBDFILTR_IOCTL_SET_KEY_TABLE, table.data(), KBDFILTR_TABLE_SIZE));
  EXPECT_TRUE(notified()) << "the table";
  // The test device's own calls and the signals of the table add no entry.
  EXPECT_EQ(Press({Make(kLayerKey)}), std::vector<int>{kLayerPress});
  KbdTestState state{};
  ASSERT_EQ(device_.QueryState(&state), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_FALSE(notified());
  ASSERT_TRUE(SendMode(control_, 1));
  EXPECT_TRUE(notified()) << "the mode";

  // A value that is no handle of this process is refused and keeps the event.
  EXPECT_EQ(device_.SetNotify(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x7FFFFFF0))),
            static_cast<DWORD>(ERROR_INVALID_HANDLE));
  ASSERT_TRUE(SendMode(control_, 1));
  EXPECT_TRUE(notified()) << "after the refused replacement";

  ASSERT_EQ(device_.SetNotify(nullptr), static_cast<DWORD>(ERROR_SUCCESS));
  ASSERT_TRUE(SendMode(control_, 0));
  EXPECT_FALSE(notified()) << "after the hold was dropped";
  CloseHandle(notify);
}

TEST(TestDriverLog, RejectsBytesThatAreNoWholeLog) {
  auto entry = [](uint32_t size, uint32_t input_length) {
    std::vector<uint8_t> bytes(sizeof(KbdTestLogEntry) + 8, 0xAB);
    KbdTestLogEntry e{size, KBDTEST_LOG_DEVICE_CONTROL, KBDFILTR_IOCTL_SET_LAYER_MODE, input_length, 0, 1, 1, 0, 0};
    std::memcpy(bytes.data(), &e, sizeof e);
    return bytes;
  };
  auto log = [](uint32_t magic, uint32_t count, uint32_t used_extra, const std::vector<uint8_t>& body) {
    std::vector<uint8_t> bytes(sizeof(KbdTestLogHeader) + body.size());
    KbdTestLogHeader h{magic, count, 0, static_cast<uint32_t>(bytes.size() + used_extra)};
    std::memcpy(bytes.data(), &h, sizeof h);
    std::memcpy(bytes.data() + sizeof h, body.data(), body.size());
    return bytes;
  };
  const uint32_t good_size = sizeof(KbdTestLogEntry) + 8;
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    bool ok;
  };
  const Case cases[] = {
      {"one entry", log(KBDTEST_LOG_MAGIC, 1, 0, entry(good_size, 1)), true},
      {"wrong magic", log(0x12345678, 1, 0, entry(good_size, 1)), false},
      {"header cut short", std::vector<uint8_t>(sizeof(KbdTestLogHeader) - 1, 0), false},
      {"used bytes past the end", log(KBDTEST_LOG_MAGIC, 1, 8, entry(good_size, 1)), false},
      {"more entries than bytes", log(KBDTEST_LOG_MAGIC, 2, 0, entry(good_size, 1)), false},
      {"entry past the end", log(KBDTEST_LOG_MAGIC, 1, 0, entry(good_size + 8, 1)), false},
      {"input longer than the entry", log(KBDTEST_LOG_MAGIC, 1, 0, entry(good_size, 9)), false},
      {"entry size not a multiple of 8", log(KBDTEST_LOG_MAGIC, 1, 0, entry(good_size - 4, 1)), false},
      {"entry size zero", log(KBDTEST_LOG_MAGIC, 1, 0, entry(0, 0)), false},
  };
  for (const Case& c : cases) {
    Log parsed;
    EXPECT_EQ(testdriver::ParseLog(c.bytes.data(), c.bytes.size(), &parsed), c.ok) << c.what;
    if (c.ok) {
      ASSERT_EQ(parsed.entries.size(), 1u);
      EXPECT_EQ(parsed.entries[0].input, std::vector<uint8_t>{0xAB});
    }
  }
}

}  // namespace
