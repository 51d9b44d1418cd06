// Running-instance discovery over the simulated windows, processes and
// drives: which windows are signalled, with what, and that every process
// handle is closed.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "app/instance.h"
#include "platform/kernel.h"
#include "platform/process.h"
#include "platform/sim/sim.h"
#include "platform/sim/sim_process.h"

using namespace platform;

namespace {

const char16_t kModule[] = u"C:\\Tools\\Tavlo.exe";
const char16_t kImage[] = u"\\Device\\HarddiskVolume1\\Tools\\Tavlo.exe";

class Discovery : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::ResetMachine();
    StartedByStartSwitch = 0;
    AddDrives();
    handlesBefore_ = sim::OpenHandleCount();
  }
  void TearDown() override {
    sim::ClearFailures();
    StartedByStartSwitch = 0;
    EXPECT_EQ(sim::OpenProcessHandleCount(), 0);
    EXPECT_EQ(sim::OpenHandleCount(), handlesBefore_);
    EXPECT_EQ(sim::UseOfClosedHandleCount(), 0);
  }
  // C: is volume 1 and D: volume 10, listed in that order, so a search for
  // volume 1 anywhere in a volume-10 path would find it.
  static void AddDrives() {
    sim::AddDrive(u"A:\\", u"");  // a drive whose device cannot be queried
    sim::AddDrive(u"C:\\", u"\\Device\\HarddiskVolume1");
    sim::AddDrive(u"D:\\", u"\\Device\\HarddiskVolume10");
    sim::AddDrive(u"Z:\\", u"\\Device\\HarddiskVolume2");
  }
  static WindowHandle Instance(uint32_t pid, const std::u16string& image, bool atBottom = true) {
    sim::ProcessSetup setup;
    setup.imagePath = image;
    sim::AddProcess(pid, setup);
    return sim::AddWindow(InstanceMarker, pid, atBottom);
  }
  int handlesBefore_ = 0;
};

std::u16string Convert(const char16_t* image) {
  char16_t out[kPathBufferLength];
  std::fill(std::begin(out), std::end(out), u'#');
  if (!ImagePathToDosPath(image, out)) return u"(fails)";
  return out;
}

TEST_F(Discovery, DevicePathsBecomeDrivePaths) {
  struct Case {
    const char16_t* image;
    const char16_t* expected;
  };
  const Case cases[] = {
      {u"\\Device\\HarddiskVolume1\\Tools\\Tavlo.exe", u"C:\\Tools\\Tavlo.exe"},
      {u"\\DEVICE\\harddiskvolume1\\x.exe", u"C:\\x.exe"},
      // Volume 10 is not volume 1 followed by a 0.
      {u"\\Device\\HarddiskVolume10\\Tools\\Tavlo.exe", u"D:\\Tools\\Tavlo.exe"},
      {u"\\Device\\HarddiskVolume2\\work\\Tavlo.exe", u"Z:\\work\\Tavlo.exe"},
      // Only a prefix that ends at a separator names the drive.
      {u"\\Device\\HarddiskVolume100\\x.exe", u"(fails)"},
      {u"\\Device\\HarddiskVolume1", u"(fails)"},
      {u"\\Device\\Mup\\server\\Device\\HarddiskVolume1\\x.exe", u"(fails)"},
      {u"\\Device\\Floppy0\\x.exe", u"(fails)"},
      {u"", u"(fails)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.image, c.image + std::char_traits<char16_t>::length(c.image)));
    EXPECT_EQ(Convert(c.image), c.expected);
  }
  EXPECT_FALSE(ImagePathToDosPath(nullptr, nullptr));
}

TEST_F(Discovery, DeviceNameWithATrailingSeparatorKeepsTheSeparator) {
  sim::ResetMachine();
  sim::AddDrive(u"E:\\", u"\\Device\\Cdrom0\\");
  EXPECT_EQ(Convert(u"\\Device\\Cdrom0\\setup.exe"), u"E:\\setup.exe");
}

TEST_F(Discovery, LongResultIsCutToAPathBuffer) {
  std::u16string image = u"\\Device\\HarddiskVolume10\\";
  image += std::u16string(258 - image.size(), u'a');  // 258 characters
  const std::u16string out = Convert(image.c_str());
  // "D:" replaces 24 characters: the result is shorter and fits.
  EXPECT_EQ(out, u"D:" + image.substr(24));
  // A drive path that would be longer than 259 is cut to 259.
  sim::ResetMachine();
  sim::AddDrive(u"C:\\", u"\\D");
  std::u16string longImage = u"\\D\\" + std::u16string(256, u'b');  // 259 characters
  const std::u16string cut = Convert(longImage.c_str());
  ASSERT_EQ(cut.size(), 259u);
  EXPECT_EQ(cut, (u"C:" + longImage.substr(2)).substr(0, 259));
}

TEST_F(Discovery, ConversionFailsWithoutADriveList) {
  sim::FailCall("GetLogicalDriveStrings");
  EXPECT_EQ(Convert(kImage), u"(fails)");
  sim::ResetMachine();
  EXPECT_EQ(Convert(kImage), u"(fails)");  // no drives at all
}

TEST_F(Discovery, DriveWhoseDeviceCannotBeQueriedIsSkipped) {
  sim::FailCall("QueryDosDevice", 2);  // A: fails by itself; then C:
  EXPECT_EQ(Convert(u"\\Device\\HarddiskVolume10\\t.exe"), u"D:\\t.exe");
  sim::FailCall("QueryDosDevice", 2);
  EXPECT_EQ(Convert(kImage), u"(fails)");
}

TEST_F(Discovery, NoMarkedWindowPostsNothing) {
  sim::AddProcess(7, {kImage});
  sim::AddWindow(0, 7);
  sim::AddWindow(InstanceMarker + 1, 7);
  SignalRunningInstance(kModule, SignalOpen);
  SignalRunningInstance(kModule, SignalKill);
  EXPECT_TRUE(sim::PostedMessages().empty());
}

TEST_F(Discovery, OpenGoesToTheFirstInstanceInZOrderOnly) {
  sim::AddWindow(0, 0);
  WindowHandle other = Instance(5, u"\\Device\\HarddiskVolume1\\Other\\Tavlo.exe");
  WindowHandle first = Instance(10, kImage);
  WindowHandle second = Instance(11, kImage);
  (void)other;
  (void)second;
  SignalRunningInstance(kModule, SignalOpen);
  const auto posted = sim::PostedMessages();
  ASSERT_EQ(posted.size(), 1u);
  EXPECT_EQ(posted[0].window, first);
  EXPECT_EQ(posted[0].message, 0x5370u);
  EXPECT_EQ(posted[0].wParam, 0x4F70656Eu);
  EXPECT_EQ(posted[0].lParam, 0);
}

TEST_F(Discovery, StartSwitchSilencesOpen) {
  Instance(10, kImage);
  Instance(11, kImage);
  StartedByStartSwitch = 1;
  SignalRunningInstance(kModule, SignalOpen);
  EXPECT_TRUE(sim::PostedMessages().empty());
}

TEST_F(Discovery, KillGoesToEveryInstanceOfThePathInZOrder) {
  WindowHandle a = Instance(10, kImage);
  Instance(5, u"\\Device\\HarddiskVolume1\\Other\\Tavlo.exe");
  sim::AddWindow(0, 10, true);  // the instance's unmarked window
  WindowHandle b = Instance(11, u"\\DEVICE\\HARDDISKVOLUME1\\TOOLS\\TAVLO.EXE");
  Instance(12, u"\\Device\\HarddiskVolume10\\Tools\\Tavlo.exe");  // D:, not C:
  StartedByStartSwitch = 1;                                       // has no effect on a kill
  const auto start = std::chrono::steady_clock::now();
  SignalRunningInstance(kModule, SignalKill);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  const auto posted = sim::PostedMessages();
  ASSERT_EQ(posted.size(), 2u);
  EXPECT_EQ(posted[0].window, a);
  EXPECT_EQ(posted[1].window, b);
  for (const auto& p : posted) {
    EXPECT_EQ(p.message, 0x4F69u);
    EXPECT_EQ(p.wParam, 0x4B696C6Cu);
    EXPECT_EQ(p.lParam, 0);
  }
  // A pause after each post gives the instance time to close.
  EXPECT_GE(elapsed, std::chrono::milliseconds(200));
}

TEST_F(Discovery, PathsCompareWithoutCase) {
  WindowHandle w = Instance(10, kImage);
  SignalRunningInstance(u"c:\\tools\\tavlo.exe", SignalOpen);
  ASSERT_EQ(sim::PostedMessages().size(), 1u);
  EXPECT_EQ(sim::PostedMessages()[0].window, w);
}

TEST_F(Discovery, InstanceOnAVolumeNumberedTenOrMoreIsFound) {
  WindowHandle w = Instance(10, u"\\Device\\HarddiskVolume10\\Tools\\Tavlo.exe");
  SignalRunningInstance(u"D:\\Tools\\Tavlo.exe", SignalKill);
  ASSERT_EQ(sim::PostedMessages().size(), 1u);
  EXPECT_EQ(sim::PostedMessages()[0].window, w);
}

// A signalled instance closes at once, with every window of its process;
// the instances below them must still be reached.
TEST_F(Discovery, KillReachesInstancesBelowOneThatClosedAtOnce) {
  WindowHandle a = Instance(10, kImage);
  WindowHandle aHelper = sim::AddWindow(0, 10, true);  // another window of the same process
  WindowHandle b = Instance(11, kImage);
  WindowHandle c = Instance(12, kImage);
  sim::OnPost([aHelper](const sim::PostedMessage& m) {
    sim::RemoveWindow(m.window);
    sim::RemoveWindow(aHelper);
  });
  SignalRunningInstance(kModule, SignalKill);
  const auto posted = sim::PostedMessages();
  ASSERT_EQ(posted.size(), 3u);
  EXPECT_EQ(posted[0].window, a);
  EXPECT_EQ(posted[1].window, b);
  EXPECT_EQ(posted[2].window, c);
}

TEST_F(Discovery, ProcessesThatCannotBeQueriedAreSkipped) {
  struct Case {
    const char* name;
    sim::ProcessSetup setup;
    bool signalled;
  };
  const Case cases[] = {
      {"full query", {kImage, true, true, true}, true},
      {"limited query only", {kImage, false, true, true}, true},
      {"no query right", {kImage, false, false, true}, false},
      {"no image path", {kImage, true, true, false}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::ResetMachine();
    sim::AddDrive(u"C:\\", u"\\Device\\HarddiskVolume1");
    sim::AddProcess(10, c.setup);
    sim::AddWindow(InstanceMarker, 10);
    sim::AddWindow(InstanceMarker, 0);  // no owning process
    SignalRunningInstance(kModule, SignalKill);
    EXPECT_EQ(sim::PostedMessages().size(), c.signalled ? 1u : 0u);
    EXPECT_EQ(sim::OpenProcessHandleCount(), 0);
  }
}

// A window that lost its marker (its instance is closing) between finding
// and signalling is left alone.
TEST_F(Discovery, KillSkipsAWindowThatLostItsMarker) {
  WindowHandle a = Instance(10, kImage);
  WindowHandle b = Instance(11, kImage);
  sim::OnPost([b](const sim::PostedMessage&) { sim::SetWindowUserData(b, 0); });
  SignalRunningInstance(kModule, SignalKill);
  const auto posted = sim::PostedMessages();
  ASSERT_EQ(posted.size(), 1u);
  EXPECT_EQ(posted[0].window, a);
}

TEST_F(Discovery, UnknownSignalOrNoPathDoesNothing) {
  Instance(10, kImage);
  SignalRunningInstance(kModule, static_cast<InstanceSignal>(2));
  SignalRunningInstance(nullptr, SignalKill);
  EXPECT_TRUE(sim::PostedMessages().empty());
}

// Every fallible call of a kill walk, failed in turn: the walk goes on or
// stops, never signals a window it could not confirm, and closes every
// process handle it opened.
TEST_F(Discovery, EveryFailureOnTheWayIsSurvived) {
  Instance(10, kImage);
  Instance(5, u"\\Device\\HarddiskVolume1\\Other\\Tavlo.exe");
  Instance(11, kImage);
  sim::FailNthFallibleCall(0);
  SignalRunningInstance(kModule, SignalOpen);
  const long calls = sim::FallibleCallCount();
  ASSERT_GT(calls, 3);
  for (long k = 1; k <= calls; ++k) {
    SCOPED_TRACE(k);
    sim::ResetMachine();
    AddDrives();
    WindowHandle a = Instance(10, kImage);
    Instance(5, u"\\Device\\HarddiskVolume1\\Other\\Tavlo.exe");
    WindowHandle b = Instance(11, kImage);
    sim::FailNthFallibleCall(k);
    SignalRunningInstance(kModule, SignalOpen);
    EXPECT_TRUE(sim::PlannedFailureHit());
    for (const auto& p : sim::PostedMessages()) EXPECT_TRUE(p.window == a || p.window == b);
    EXPECT_LE(sim::PostedMessages().size(), 1u);
    EXPECT_EQ(sim::OpenProcessHandleCount(), 0);
  }
}

}  // namespace
