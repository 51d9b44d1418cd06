// Tavlo.exe end to end under Wine with the test keyboard: the keyboard's own
// layer key, sent as HID input reports through the test keyboard
// (tests/keyboard), switches the layer of the test filter driver
// (tests/driver), and the keys pressed at the driver type their layer texts
// into a focused edit control. The whole road runs in the real processes:
// report -> Tavlo's reader -> its Consumer-Control handler -> the driver's
// layer-mode call -> the driver signals the key's event -> the dispatcher
// types. Hot-plug goes through Windows' own device notices to Tavlo's hidden
// window.
//
// What is seen from outside Tavlo: the driver's log (every call Tavlo made
// to the control device, in order), the driver's state, the edit's text,
// and Tavlo's threads and handles (one reader thread per listed keyboard;
// a dropped entry closes its keyboard and the reader's events).
//
// Every test starts its own Tavlo and ends it; the driver and the keyboard's
// driver are installed once for the suite and removed at its end. If this
// process dies, ctest's cleanup step removes the filter driver and the next
// testkbd::Session clears the keyboards left behind.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "layer/key_map.h"
#include "tests/e2e/e2e_support.h"
#include "tests/e2e/keyboard_support.h"
#include "tests/keyboard/keyboard_control.h"
#include "tests/support/win32_probe.h"

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
using Modes = std::vector<int>;

constexpr DWORD kHeardMs = 3000;   // a report's way to the driver's log
constexpr DWORD kNoticeMs = 5000;  // a device notice's way to Tavlo
constexpr DWORD kQuietMs = 250;    // how long "nothing more happens" is watched

// The texts of the keys without Shift, in order.
std::u16string Texts(const std::vector<int>& slots) {
  std::u16string text;
  for (int slot : slots) text += tavlo::LayerKeyMap[slot].Text;
  return text;
}

Modes Append(Modes modes, const Modes& more) {
  modes.insert(modes.end(), more.begin(), more.end());
  return modes;
}

class TavloWithTestKeyboard : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    driver_ = new testdriver::ScopedDriver(e2e::WindowsPath(KBDFILTR_TEST_SYS));
    keyboards_ = new testkbd::Session;
  }
  static void TearDownTestSuite() {
    delete keyboards_;  // removes every keyboard, its driver and service
    keyboards_ = nullptr;
    delete driver_;
    driver_ = nullptr;
  }

  void SetUp() override {
    ASSERT_EQ(driver_->error(), static_cast<DWORD>(ERROR_SUCCESS))
        << "installing the test filter driver failed at " << driver_->failed_step();
    ASSERT_TRUE(keyboards_->ok()) << "installing the test keyboard failed: " << testkbd::Narrow(keyboards_->error());
    // -1: the keyboard's driver is not loaded, as no keyboard was ever plugged.
    ASSERT_LE(testkbd::CountKeyboards(), 0) << "a keyboard of an earlier test is still plugged";
    if (e2e::InstanceRunning()) e2e::RunKill(TavloExe(), 10000);
    ASSERT_FALSE(e2e::InstanceRunning()) << "a Tavlo instance from elsewhere keeps running";
    ASSERT_EQ(device_.Open(), static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_EQ(device_.ClearLog(), static_cast<DWORD>(ERROR_SUCCESS));
  }

  void TearDown() override {
    if (tavlo_.Running()) {
      e2e::RunKill(exe_, 10000);
      tavlo_.WaitEnded(5000);
    }
    tavlo_.Terminate();
    std::wstring error;
    for (const testkbd::Keyboard& kb : plugged_) testkbd::Unplug(kb, &error);
    plugged_.clear();
  }

  void Plug(testkbd::Keyboard* kb) {
    std::wstring error;
    ASSERT_TRUE(testkbd::Plug(kb, &error)) << testkbd::Narrow(error);
    plugged_.push_back(*kb);
  }

  void Unplug(const testkbd::Keyboard& kb) {
    std::wstring error;
    ASSERT_TRUE(testkbd::Unplug(kb, &error)) << testkbd::Narrow(error);
    for (size_t i = 0; i < plugged_.size(); ++i) {
      if (plugged_[i].instance_id == kb.instance_id) {
        plugged_.erase(plugged_.begin() + static_cast<std::ptrdiff_t>(i));
        break;
      }
    }
  }

  // Starts Tavlo (the one under test, or a copy of it at `exe`) and waits
  // until its initialisation, the start-up scan included, is over.
  void StartTavlo(const std::wstring& exe = TavloExe()) {
    exe_ = exe;
    std::string error;
    ASSERT_TRUE(tavlo_.Launch(exe_, L"", &error)) << error;
    ASSERT_EQ(device_.WaitUntil([](const KbdTestState& s) { return s.TableInstalled != 0; }, 10000),
              static_cast<DWORD>(ERROR_SUCCESS))
        << "Tavlo never installed its key table";
    ASSERT_NE(tavlo_.WaitForMainWindow(10000), nullptr) << "Tavlo's main window never finished its initialisation";
  }

  // Pushes one report to the keyboard (which must take it) and waits until
  // the driver's log holds the mode calls `expected`, or kHeardMs passed.
  void PushAndExpect(const testkbd::Keyboard& kb, const std::vector<unsigned char>& report, const Modes& expected) {
    ASSERT_EQ(testkbd::PushReportTo(kb, report.data(), report.size()), 1) << "the keyboard refused the report";
    EXPECT_EQ(e2e::WaitForModeCalls(device_, expected.size(), kHeardMs), expected);
  }

  void LayerKey(const testkbd::Keyboard& kb, bool held, const Modes& expected) {
    ASSERT_EQ(testkbd::PushLayerKeyTo(kb, held), 1) << "the keyboard refused the report";
    ASSERT_EQ(e2e::WaitForModeCalls(device_, expected.size(), kHeardMs), expected)
        << "after the layer key's " << (held ? "hold" : "release");
  }

  // Taps the keys at the driver and checks what the edit then holds.
  void TypeAndExpect(e2e::EditBox& box, const std::vector<int>& slots, const std::u16string& expected) {
    box.Clear();
    std::vector<uint32_t> records;
    ASSERT_EQ(device_.Inject(Taps(slots), &records), static_cast<DWORD>(ERROR_SUCCESS));
    const std::u16string typed =
        box.PumpUntilLength(expected.empty() ? 1 : expected.size(), expected.empty() ? kQuietMs : 5000);
    EXPECT_EQ(typed, expected) << e2e::Utf8(typed);
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

  // /Kill, and Tavlo's end.
  void Kill() {
    ASSERT_EQ(e2e::RunKill(exe_, 10000), 0);
    ASSERT_EQ(tavlo_.WaitEnded(10000), 0) << "Tavlo did not end cleanly";
  }

  static testdriver::ScopedDriver* driver_;
  static testkbd::Session* keyboards_;
  testdriver::TestDevice device_;
  e2e::TavloProcess tavlo_;
  std::wstring exe_ = TavloExe();  // the Tavlo.exe started last
  std::vector<testkbd::Keyboard> plugged_;
};

testdriver::ScopedDriver* TavloWithTestKeyboard::driver_ = nullptr;
testkbd::Session* TavloWithTestKeyboard::keyboards_ = nullptr;

// A keyboard plugged before Tavlo starts is found by the start-up scan: its
// first report after the start is heard (no arrival notice comes for it).
// Holding its layer key makes the keys at the driver type their layer texts;
// releasing it stops them.
TEST_F(TavloWithTestKeyboard, KeyboardFoundAtStartTypesTheLayerOnlyWhileItsLayerKeyIsHeld) {
  testkbd::Keyboard kb;
  ASSERT_NO_FATAL_FAILURE(Plug(&kb));
  ASSERT_NO_FATAL_FAILURE(StartTavlo());
  e2e::EditBox box;
  std::string error;
  ASSERT_TRUE(box.Create(&error)) << error;
  const std::vector<int> keys = {3, 4, 6, 13, 35};  // d e g n 0, in slot order
  const std::u16string texts = Texts(keys);
  ASSERT_EQ(texts.size(), keys.size());

  ASSERT_NO_FATAL_FAILURE(TypeAndExpect(box, keys, u""));
  ASSERT_NO_FATAL_FAILURE(LayerKey(kb, true, {1}));
  EXPECT_EQ(State().LayerMode, 1u);
  ASSERT_NO_FATAL_FAILURE(TypeAndExpect(box, keys, texts));
  // The same report again sends the mode again; the layer stays on.
  ASSERT_NO_FATAL_FAILURE(LayerKey(kb, true, {1, 1}));
  ASSERT_NO_FATAL_FAILURE(TypeAndExpect(box, {0}, tavlo::LayerKeyMap[0].Text));
  ASSERT_NO_FATAL_FAILURE(LayerKey(kb, false, {1, 1, 0}));
  EXPECT_EQ(State().LayerMode, 0u);
  ASSERT_NO_FATAL_FAILURE(TypeAndExpect(box, keys, u""));

  // Every call came from Tavlo's own open of the control device.
  const std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 5u);
  for (size_t i = 2; i < 4; ++i) EXPECT_EQ(lines[i], kLayerOn);
  EXPECT_EQ(lines[4], "ioctl 0x00222138 in 1 00 -> 0x00000000");
}

// ---- a hid.dll planted beside Tavlo.exe ----

// The folder of the planted hid.dll (tests/e2e/planted_hid) of the bitness
// of the Tavlo.exe under test: a DLL loads only into a process of its own.
std::wstring PlantedHidFolder() {
  DWORD kind = 0;
  const bool is32 = ::GetBinaryTypeW(TavloExe().c_str(), &kind) && kind == SCS_32BIT_BINARY;
  return e2e::WindowsPath(is32 ? TAVLO_PLANTED_HID_X86_DIR : TAVLO_PLANTED_HID_DIR);
}

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// What the planted DLL wrote: the executable it was loaded into.
std::string MarkerText(const std::wstring& path) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "";
  wchar_t text[MAX_PATH] = {};
  DWORD read = 0;
  ::ReadFile(file, text, sizeof text - sizeof text[0], &read, nullptr);
  ::CloseHandle(file);
  return testkbd::Narrow(text);
}

// A folder of its own under the test's temporary folder, removed with what
// it holds at the end.
class ScratchFolder {
 public:
  ScratchFolder() {
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    path_ = std::wstring(temp) + L"tavlo-planted-" + std::to_wstring(::GetCurrentProcessId());
    ::CreateDirectoryW(path_.c_str(), nullptr);
  }
  ~ScratchFolder() {
    for (const wchar_t* name : {L"Tavlo.exe", L"hid.dll", L"tavlo_imports_hid.exe", L"planted-hid-loaded.txt"})
      ::DeleteFileW((path_ + L"\\" + name).c_str());
    ::RemoveDirectoryW(path_.c_str());
  }
  const std::wstring& path() const { return path_; }

 private:
  std::wstring path_;
};

// Users run the bare Tavlo.exe from Downloads, where a download can put a
// hid.dll beside it. Windows takes a DLL that a program imports from the
// program's own folder first, and so does Wine for hid.dll: a program of
// that folder that imports hid.dll gets the planted one (the control below).
// Tavlo loads hid.dll by its full path in the system directory: the planted
// DLL, whose DllMain would leave its marker, never runs in Tavlo, and Tavlo
// still reads the keyboard through the system's.
TEST_F(TavloWithTestKeyboard, AHidDllPlantedBesideTavloIsNeverLoaded) {
  ScratchFolder folder;
  const std::wstring planted = PlantedHidFolder();
  const std::wstring exe = folder.path() + L"\\Tavlo.exe";
  const std::wstring marker = folder.path() + L"\\planted-hid-loaded.txt";
  ASSERT_TRUE(::CopyFileW(TavloExe().c_str(), exe.c_str(), FALSE)) << ::GetLastError();
  for (const wchar_t* name : {L"hid.dll", L"tavlo_imports_hid.exe"}) {
    ASSERT_TRUE(::CopyFileW((planted + L"\\" + name).c_str(), (folder.path() + L"\\" + name).c_str(), FALSE))
        << testkbd::Narrow(name) << ": error " << ::GetLastError();
  }

  // The control: a program that imports hid.dll, in the same folder, loads
  // the planted DLL, whose calls still reach the system's hid.dll.
  {
    e2e::TavloProcess importer;
    std::string error;
    ASSERT_TRUE(importer.Launch(folder.path() + L"\\tavlo_imports_hid.exe", L"", &error)) << error;
    EXPECT_EQ(importer.WaitEnded(10000), 0) << "the planted DLL did not pass the call on";
    ASSERT_TRUE(Exists(marker)) << "the planted hid.dll was not loaded by a program that imports hid.dll";
    ASSERT_TRUE(::DeleteFileW(marker.c_str()));
  }

  testkbd::Keyboard kb;
  ASSERT_NO_FATAL_FAILURE(Plug(&kb));
  ASSERT_NO_FATAL_FAILURE(StartTavlo(exe));
  ASSERT_NO_FATAL_FAILURE(LayerKey(kb, true, {1}));
  ASSERT_NO_FATAL_FAILURE(LayerKey(kb, false, {1, 0}));
  ASSERT_NO_FATAL_FAILURE(Kill());
  EXPECT_FALSE(Exists(marker)) << "the planted hid.dll ran in " << MarkerText(marker);
}

// Reports with another value change nothing: with the layer on they do not
// switch it off, with it off they do not switch it on. Each is followed by
// the layer key's report, whose call shows that the odd one was read first
// and made none (one reader reads the keyboard's reports in order).
TEST_F(TavloWithTestKeyboard, ReportsOfOtherValuesOrLengthsSendNoLayerMode) {
  testkbd::Keyboard kb;
  ASSERT_NO_FATAL_FAILURE(Plug(&kb));
  ASSERT_NO_FATAL_FAILURE(StartTavlo());

  struct Case {
    const char* what;
    std::vector<unsigned char> report;
  };
  // Reports of 2 and 4 bytes never reach a reader under Wine: its HID class
  // reads the keyboard with a buffer of the report's declared length (3
  // bytes), so the keyboard cannot hand over 4 bytes, and it drops a report
  // shorter than that. They stay in the table as what the keyboard may
  // send; the handler's own length test runs in consumer_report_test.
  const Case cases[] = {
      {"value 0x00FD", {0x01, 0xFD, 0x00}},
      {"value 0xFE00 (the bytes of 0x00FE swapped)", {0x01, 0x00, 0xFE}},
      {"value 0x00FF", {0x01, 0xFF, 0x00}},
      {"value 0x0100", {0x01, 0x00, 0x01}},
      {"value 0xFFFE", {0x01, 0xFE, 0xFF}},
      {"2 bytes 01 FE", {0x01, 0xFE}},
      {"2 bytes 01 00", {0x01, 0x00}},
      {"4 bytes 01 FE 00 00", {0x01, 0xFE, 0x00, 0x00}},
      {"4 bytes 01 00 00 00", {0x01, 0x00, 0x00, 0x00}},
  };
  Modes modes;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    modes = Append(modes, {1});
    ASSERT_NO_FATAL_FAILURE(LayerKey(kb, true, modes));
    ASSERT_EQ(testkbd::PushReportTo(kb, c.report.data(), c.report.size()), 1);
    modes = Append(modes, {0});
    ASSERT_NO_FATAL_FAILURE(LayerKey(kb, false, modes)) << "with the layer on";
    ASSERT_EQ(testkbd::PushReportTo(kb, c.report.data(), c.report.size()), 1);
    modes = Append(modes, {1});
    ASSERT_NO_FATAL_FAILURE(LayerKey(kb, true, modes)) << "with the layer off";
    modes = Append(modes, {0});
    ASSERT_NO_FATAL_FAILURE(LayerKey(kb, false, modes));
  }
  // After all of them the keyboard's layer key still works.
  e2e::EditBox box;
  std::string error;
  ASSERT_TRUE(box.Create(&error)) << error;
  ASSERT_NO_FATAL_FAILURE(LayerKey(kb, true, Append(modes, {1})));
  ASSERT_NO_FATAL_FAILURE(TypeAndExpect(box, {1}, tavlo::LayerKeyMap[1].Text));
  ::Sleep(kQuietMs);
  EXPECT_EQ(e2e::ModeCalls(device_), Append(modes, {1}));
}

// Hot-plug while Tavlo runs, through the device notices Windows sends its
// hidden window: a keyboard plugged after the start gets a reader; unplugged
// while its layer key is held, its reader ends and its entry goes (threads
// and handles back to what they were), Tavlo keeps running and no mode 0 is
// sent on the unplug's account (the driver's layer stays on: the last
// command from this keyboard was mode 1); plugged again (same interface
// path), its layer key works again.
TEST_F(TavloWithTestKeyboard, UnplugEndsTheReaderWithoutAReleaseAndPluggingAgainRestoresTheLayerKey) {
  ASSERT_NO_FATAL_FAILURE(StartTavlo());
  const DWORD pid = tavlo_.pid();
  const int threads = e2e::ThreadCount(pid);
  const int handles = e2e::HandleCount(pid);
  ASSERT_GT(threads, 0);
  ASSERT_GT(handles, 0);
  e2e::EditBox box;
  std::string error;
  ASSERT_TRUE(box.Create(&error)) << error;

  testkbd::Keyboard kb;
  ASSERT_NO_FATAL_FAILURE(Plug(&kb));
  // The reader starts after the queue of the new interface was flushed: from
  // then on every report reaches Tavlo.
  ASSERT_EQ(e2e::WaitForCount(e2e::ThreadCount, pid, threads + 1, kNoticeMs), threads + 1)
      << "no reader for the plugged keyboard: the arrival notice did not reach Tavlo";
  EXPECT_GT(e2e::HandleCount(pid), handles);
  ASSERT_NO_FATAL_FAILURE(LayerKey(kb, true, {1}));
  ASSERT_NO_FATAL_FAILURE(TypeAndExpect(box, {1, 2}, Texts({1, 2})));

  ASSERT_NO_FATAL_FAILURE(Unplug(kb));
  EXPECT_EQ(e2e::WaitForCount(e2e::ThreadCount, pid, threads, kNoticeMs), threads) << "the reader did not end";
  ::Sleep(kQuietMs);
  // The entry held the keyboard's handle, its reader's two events and the
  // reader's thread handle. Wine keeps one handle of its own (of none of
  // those types) from the first device notice a process handles on, and the
  // debug output keeps one (its mutex) from the first line written, here the
  // reader's report of the read the unplug cut off: two more than before is
  // all that may stay, and the next round adds none.
  const int settled = e2e::HandleCount(pid);
  EXPECT_GE(settled, handles);
  EXPECT_LE(settled, handles + 2) << "the keyboard's entry kept handles open";
  ASSERT_TRUE(tavlo_.Running()) << "Tavlo ended on the unplug";
  EXPECT_EQ(e2e::ModeCalls(device_), Modes{1}) << "a layer-mode call on the unplug's account";
  EXPECT_EQ(State().LayerMode, 1u);
  EXPECT_TRUE(e2e::MessageBoxesOf(pid).empty());

  testkbd::Keyboard again;
  ASSERT_NO_FATAL_FAILURE(Plug(&again));
  EXPECT_EQ(testkbd::Narrow(again.interface_path), testkbd::Narrow(kb.interface_path));
  ASSERT_EQ(e2e::WaitForCount(e2e::ThreadCount, pid, threads + 1, kNoticeMs), threads + 1)
      << "no reader for the keyboard plugged again";
  ASSERT_NO_FATAL_FAILURE(LayerKey(again, false, {1, 0}));
  ASSERT_NO_FATAL_FAILURE(TypeAndExpect(box, {1, 2}, u""));
  ASSERT_NO_FATAL_FAILURE(LayerKey(again, true, {1, 0, 1}));
  ASSERT_NO_FATAL_FAILURE(TypeAndExpect(box, {1, 2}, Texts({1, 2})));
  ASSERT_NO_FATAL_FAILURE(LayerKey(again, false, {1, 0, 1, 0}));

  // A second round leaves Tavlo as the first did: nothing piles up.
  ASSERT_NO_FATAL_FAILURE(Unplug(again));
  EXPECT_EQ(e2e::WaitForCount(e2e::ThreadCount, pid, threads, kNoticeMs), threads);
  EXPECT_EQ(e2e::WaitForCount(e2e::HandleCount, pid, settled, kNoticeMs), settled);
  ASSERT_NO_FATAL_FAILURE(Kill());
  EXPECT_EQ(e2e::ModeCalls(device_), (Modes{1, 0, 1, 0}));
}

// /Kill with the keyboard attached and its layer key held: Tavlo removes its
// table and closes the driver, in that order and as its last calls, sends
// no mode on the reader's account while it stops it, and ends with 0.
TEST_F(TavloWithTestKeyboard, KillWithTheKeyboardAttachedEndsCleanly) {
  testkbd::Keyboard kb;
  ASSERT_NO_FATAL_FAILURE(Plug(&kb));
  ASSERT_NO_FATAL_FAILURE(StartTavlo());
  ASSERT_NO_FATAL_FAILURE(LayerKey(kb, true, {1}));
  ASSERT_NO_FATAL_FAILURE(Kill());
  const std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0], "create -> 0x00000000");
  EXPECT_EQ(lines[1].rfind("ioctl 0x0022210c in 2208 ", 0), 0u);
  EXPECT_EQ(lines[2], kLayerOn);
  EXPECT_EQ(lines[3], kTableRemoval);
  EXPECT_EQ(lines[4], kClose);
  const KbdTestState s = State();
  EXPECT_EQ(s.ControlOpen, 0u);
  EXPECT_EQ(s.TableInstalled, 0u);
  // The keyboard itself is untouched: it is still plugged and takes reports.
  EXPECT_EQ(testkbd::CountKeyboards(), 1);
  EXPECT_EQ(testkbd::PushLayerKeyTo(kb, false), 1);
}

// /Kill while the keyboard's layer-key reports and the 0x76 key's
// transitions stream in: the driver's log shows the table's removal and then
// the close, with nothing between them, in every round. A traffic thread
// alternates the keyboard's hold and release reports with makes and breaks of
// the 0x76 key at the driver from before the /Kill until Tavlo has ended.
// TAVLO_KILL_ROUNDS sets the number of rounds (5 unless told).
TEST_F(TavloWithTestKeyboard, KillUnderTrafficSendsNothingBetweenTheRemovalAndTheClose) {
  const char* wanted = std::getenv("TAVLO_KILL_ROUNDS");
  const int rounds = wanted && std::atoi(wanted) > 0 ? std::atoi(wanted) : 5;
  testkbd::Keyboard kb;
  ASSERT_NO_FATAL_FAILURE(Plug(&kb));
  int late = 0;
  for (int round = 0; round < rounds; ++round) {
    SCOPED_TRACE(::testing::Message() << "round " << round);
    ASSERT_EQ(device_.ClearLog(), static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_NO_FATAL_FAILURE(StartTavlo());
    std::atomic<bool> stop{false};
    std::thread traffic([&] {
      testdriver::TestDevice injector;
      if (injector.Open() != ERROR_SUCCESS) return;
      for (unsigned i = 0; !stop.load(); ++i) {
        testkbd::PushLayerKeyTo(kb, i % 2 == 0);
        injector.Inject({i % 2 == 0 ? Make(tavlo::kLayerKeyScanCode) : Break(tavlo::kLayerKeyScanCode)});
        ::Sleep(2);
      }
    });
    ASSERT_TRUE(e2e::WaitForModeCalls(device_, 4, kHeardMs).size() >= 4) << "the traffic does not reach the driver";
    const long killed = e2e::RunKill(TavloExe(), 10000);
    const long ended = tavlo_.WaitEnded(10000);
    stop = true;
    traffic.join();
    ASSERT_EQ(killed, 0);
    ASSERT_EQ(ended, 0) << "Tavlo did not end cleanly";

    const std::vector<std::string> lines = LogLines();
    size_t removal = lines.size();
    for (size_t i = 0; i < lines.size(); ++i)
      if (lines[i] == kTableRemoval) removal = i;
    ASSERT_LT(removal, lines.size()) << "no removal of the table";
    ASSERT_EQ(lines.back(), kClose);
    const size_t between = lines.size() - 2 - removal;
    if (between != 0) {
      ++late;
      std::printf("[ kill     ] round %d: %zu call(s) between the removal and the close, first: %s\n", round, between,
                  lines[removal + 1].c_str());
    }
  }
  std::printf("[ kill     ] %d of %d /Kills under traffic sent a call after the table's removal\n", late, rounds);
  EXPECT_EQ(late, 0);
}

int EnvCount(const char* name, int fallback) {
  const char* value = std::getenv(name);
  return value && std::atoi(value) > 0 ? std::atoi(value) : fallback;
}

bool HasMarkedWindow(DWORD pid) {
  for (HWND w : TopWindowsOf(pid))
    if (::GetWindowLongPtrW(w, GWLP_USERDATA) == 0x4D41494E) return true;
  return false;
}

// Launches that start at the same moment, as an autostart from the Run key
// and one from the Startup folder do at logon: however their mutex opens and
// creates interleave, exactly one stays as the instance and opens the
// driver; the others end. TAVLO_RACE_ROUNDS rounds (3) of TAVLO_RACE_LAUNCHES
// launches (24).
TEST_F(TavloWithTestKeyboard, SimultaneousLaunchesLeaveOneInstanceThatOpensTheDriverOnce) {
  const int rounds = EnvCount("TAVLO_RACE_ROUNDS", 3);
  const int launches = EnvCount("TAVLO_RACE_LAUNCHES", 24);
  int doubled = 0;
  for (int round = 0; round < rounds; ++round) {
    SCOPED_TRACE(::testing::Message() << "round " << round);
    ASSERT_EQ(device_.ClearLog(), static_cast<DWORD>(ERROR_SUCCESS));
    std::vector<std::unique_ptr<e2e::TavloProcess>> started;
    for (int i = 0; i < launches; ++i) {
      started.push_back(std::make_unique<e2e::TavloProcess>());
      std::string error;
      ASSERT_TRUE(started.back()->Launch(TavloExe(), L"/Start", &error)) << error;
    }
    // Settled: every launch has ended or runs with its initialised window.
    const DWORD start = ::GetTickCount();
    for (;;) {
      bool settled = true;
      for (const auto& p : started) settled = settled && (!p->Running() || HasMarkedWindow(p->pid()));
      if (settled || ::GetTickCount() - start > 30000) break;
      ::Sleep(50);
    }
    ::Sleep(kQuietMs);
    int running = 0;
    for (const auto& p : started) running += p->Running() ? 1 : 0;
    int opens = 0;
    for (const std::string& line : LogLines()) opens += line.rfind("create ", 0) == 0 ? 1 : 0;
    if (running != 1 || opens != 1) {
      ++doubled;
      std::printf("[ race     ] round %d: %d instances running, %d opens of the driver\n", round, running, opens);
    }
    EXPECT_EQ(running, 1);
    EXPECT_EQ(opens, 1);
    EXPECT_EQ(e2e::RunKill(TavloExe(), 10000), 0);
    for (const auto& p : started) EXPECT_GE(p->WaitEnded(10000), 0) << "an instance outlived the /Kill";
  }
  std::printf("[ race     ] %d of %d rounds of %d launches left more than one instance\n", doubled, rounds, launches);
}

}  // namespace
