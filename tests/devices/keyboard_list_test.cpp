// The attached-keyboard list on the simulated machine: which interfaces are
// opened and kept, arrival and removal notices, the start-up scan, failures
// of every platform call on the way, and the readers' layer signal through
// the list.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "devices/keyboard_list.h"
#include "hid/hid_device.h"
#include "platform/sim/sim_trace.h"
#include "platform/text.h"
#include "tests/devices/devices_fixture.h"

using namespace tavlo;
using namespace tavlo::testing;
namespace sim = platform::sim;

namespace {

class KeyboardList : public DevicesTest {};

// ---- which interfaces are opened and which are kept ----

struct ArrivalCase {
  const char* name;
  sim::HidInterface description;
  int result;   // of AddKeyboardInterface
  bool opened;  // whether any platform call was made for it at all
};

std::vector<ArrivalCase> ArrivalCases() {
  const std::u16string otherPath = sim::HidInterfacePath(0x046D, 0xC52B, 1, 2);
  const std::u16string modelCcPath = sim::HidInterfacePath(0x1C4F, 0x0002, 1, 2, u"8&aa&0&0001");
  sim::HidInterface upperCase = sim::ModelConsumerControl(1);
  upperCase.path = Upper(upperCase.path);
  return {
      {"consumer control of the model", sim::ModelConsumerControl(1), 1, true},
      {"the same, path in upper case", upperCase, 1, true},
      {"keyboard collection of the model", sim::ModelKeyboardCollection(1), 0, true},
      {"consumer page, other usage, of the model",
       sim::GenericHidInterface(modelCcPath, 0x1C4F, 0x0002, 0x000C, 0x0002, 3), 0, true},
      {"other page, usage 1, of the model", sim::GenericHidInterface(modelCcPath, 0x1C4F, 0x0002, 0x0001, 0x0001, 3), 0,
       true},
      {"path of the model, attributes of another vendor",
       sim::GenericHidInterface(modelCcPath, 0x1C4E, 0x0002, 0x000C, 0x0001, 3), 0, true},
      {"path of the model, attributes of another product",
       sim::GenericHidInterface(modelCcPath, 0x1C4F, 0x0003, 0x000C, 0x0001, 3), 0, true},
      {"consumer control of another vendor", sim::GenericHidInterface(otherPath, 0x046D, 0xC52B, 0x000C, 0x0001, 3), 0,
       false},
      {"consumer control of another product of the vendor",
       sim::GenericHidInterface(sim::HidInterfacePath(0x1C4F, 0x0003, 1, 2), 0x1C4F, 0x0002, 0x000C, 0x0001, 3), 0,
       false},
      {"path without a vendor tag",
       sim::GenericHidInterface(u"\\\\?\\hid#pid_0002&mi_01#1#{4d1e55b2-f16f-11cf-88cb-001111000030}", 0x1C4F, 0x0002,
                                0x000C, 0x0001, 3),
       0, false},
  };
}

TEST_F(KeyboardList, ArrivalOpensOnlyTheModelAndKeepsOnlyItsConsumerControl) {
  for (const ArrivalCase& c : ArrivalCases()) {
    SCOPED_TRACE(c.name);
    sim::AddHidInterface(c.description);
    const long blocks = sim::LiveBlockCount();
    sim::FailNthFallibleCall(0);  // count every fallible call from here on
    EXPECT_EQ(AddKeyboardInterface(c.description.path.c_str(), nullptr), c.result);
    EXPECT_EQ(sim::FallibleCallCount() > 0, c.opened);
    Settle();
    if (c.result) {
      ASSERT_EQ(DeviceList.Count, 1u);
      EXPECT_EQ(std::u16string(DeviceList.Entries[0].Path), Upper(c.description.path));
      EXPECT_EQ(sim::HidOpenFileCount(c.description.path), 1);
      EXPECT_EQ(sim::HidPendingReadCount(c.description.path), 1) << "its reader waits for a report";
      Hold(c.description.path);
      EXPECT_EQ(ModeCalls(), std::vector<int>{1});
      RemoveKeyboardInterface(c.description.path.c_str());
    }
    EXPECT_EQ(DeviceList.Count, 0u);
    EXPECT_EQ(sim::HidOpenFileCount(c.description.path), 0) << "opened and closed again, or never opened";
    EXPECT_EQ(sim::LiveBlockCount(), blocks);
    sim::RemoveHidInterface(c.description.path);
    sim::ClearControlCalls();
  }
}

TEST_F(KeyboardList, NullOrEmptyPathsChangeNothing) {
  EXPECT_EQ(AddKeyboardInterface(nullptr, nullptr), 0);
  EXPECT_EQ(AddKeyboardInterface(u"", nullptr), 0);
  RemoveKeyboardInterface(nullptr);
  RemoveKeyboardInterface(u"");
  EXPECT_EQ(DeviceList.Count, 0u);
}

// A model path of the model that is not present: the open fails, nothing is kept.
TEST_F(KeyboardList, AbsentInterfaceIsNotListed) {
  const std::u16string path = sim::ModelConsumerControl(7).path;
  EXPECT_EQ(AddKeyboardInterface(path.c_str(), nullptr), 0);
  EXPECT_EQ(DeviceList.Count, 0u);
}

// ---- failures on the way ----

struct FailureCase {
  const char* call;
  int nth;
  int result;
  bool readerRuns;
};

TEST_F(KeyboardList, FailuresOfOpenAndReaderStart) {
  const FailureCase cases[] = {
      // The record itself cannot be had.
      {"AllocZeroed", 1, 0, false},
      {"CreateFile", 1, 0, false},
      {"HidD_GetPreparsedData", 1, 0, false},
      {"HidD_GetAttributes", 1, 0, false},
      {"HidP_GetCaps", 1, 0, false},
      // The flush's result is not acted on.
      {"HidD_FlushQueue", 1, 1, true},
      // StartReading fails: the entry stays, open and without a reader.
      {"HidP_GetSpecificValueCaps", 1, 1, false},
      {"CreateThread", 1, 1, false},
  };
  const sim::ModelKeyboardPaths kb = sim::AttachModelKeyboard();
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.call);
    const long blocks = sim::LiveBlockCount();
    const int handles = sim::OpenHandleCount();
    sim::FailCall(c.call, c.nth);
    EXPECT_EQ(AddKeyboardInterface(kb.consumerControl.c_str(), nullptr), c.result);
    EXPECT_TRUE(sim::PlannedFailureHit());
    sim::ClearFailures();
    Settle();
    EXPECT_EQ(DeviceList.Count, static_cast<uint32_t>(c.result));
    EXPECT_EQ(sim::HidOpenFileCount(kb.consumerControl), c.result);
    EXPECT_EQ(sim::HidPendingReadCount(kb.consumerControl), c.readerRuns ? 1 : 0);
    Hold(kb.consumerControl);
    EXPECT_EQ(ModeCalls(), c.readerRuns ? std::vector<int>{1} : std::vector<int>{});
    RemoveKeyboardInterface(kb.consumerControl.c_str());
    EXPECT_EQ(DeviceList.Count, 0u);
    EXPECT_EQ(sim::HidOpenFileCount(kb.consumerControl), 0);
    EXPECT_EQ(sim::LiveBlockCount(), blocks);
    EXPECT_EQ(sim::OpenHandleCount(), handles);
    sim::ClearControlCalls();
  }
}

// Every fallible call of an arrival made to fail in turn, then of a second
// arrival that must grow the list: each outcome is a listed, working entry or
// nothing at all, and nothing leaks.
TEST_F(KeyboardList, EveryFailureOfAnArrivalLeavesAWorkingEntryOrNothing) {
  const sim::ModelKeyboardPaths kb = sim::AttachModelKeyboard();
  for (uint32_t before : {0u, 4u}) {
    for (uint32_t i = 0; i < before; ++i) ASSERT_EQ(AddKeyboardInterface(kb.consumerControl.c_str(), nullptr), 1);
    Settle();
    const long blocks = sim::LiveBlockCount();
    const int handles = sim::OpenHandleCount();
    long k = 1;
    for (;; ++k) {
      SCOPED_TRACE(::testing::Message() << before << " listed before, failing fallible call " << k);
      sim::FailNthFallibleCall(k);
      const int result = AddKeyboardInterface(kb.consumerControl.c_str(), nullptr);
      const bool hit = sim::PlannedFailureHit();
      sim::ClearFailures();
      Settle();
      EXPECT_EQ(DeviceList.Count, before + static_cast<uint32_t>(result));
      EXPECT_EQ(sim::HidOpenFileCount(kb.consumerControl), static_cast<int>(before) + result);
      if (result) {
        const std::u16string added = DeviceList.Entries[DeviceList.Count - 1].Path;
        EXPECT_EQ(added, Upper(kb.consumerControl));
        // The notice removes every entry of the path: list the earlier ones again.
        RemoveKeyboardInterface(kb.consumerControl.c_str());
        for (uint32_t i = 0; i < before; ++i) ASSERT_EQ(AddKeyboardInterface(kb.consumerControl.c_str(), nullptr), 1);
        Settle();
      }
      EXPECT_EQ(sim::LiveBlockCount(), blocks);
      EXPECT_EQ(sim::OpenHandleCount(), handles);
      if (!hit) break;
    }
    EXPECT_GT(k, 5) << "the walk reached the arrival's calls";
    RemoveKeyboardInterface(kb.consumerControl.c_str());
  }
}

// ---- a collection that declares millions of items ----

// 300 value capabilities of the model's Consumer-Control collection, each
// ranging over every 16-bit usage: about 2 KB of report descriptor that would
// make 19.7 million item records (786 MB). The interface is refused as
// malformed: its tables are not built, one debug line names it, and it costs
// a few kilobytes at the height of its arrival. The keyboard plugged beside
// it, found by the same scan, works.
TEST_F(KeyboardList, ACollectionDeclaringMillionsOfItemsIsRefusedCheaplyAndTheOtherKeyboardWorks) {
  sim::HidInterface hostile = sim::ModelConsumerControl(2);
  for (int i = 0; i < 300; ++i) hostile.valueCaps[0].push_back(sim::ValueCaps(0x000C, 1, true, 0x0000, 0xFFFF));
  sim::AddHidInterface(hostile);
  const sim::ModelKeyboardPaths good = sim::AttachModelKeyboard(1);

  sim::ClearTrace();
  sim::ResetPeakBlockBytes();
  const long before = sim::LiveBlockBytes();
  ScanKeyboardInterfaces(nullptr);
  Settle();
  const long scanPeak = sim::PeakBlockBytes() - before;
  std::printf("[ memory   ] scan with the hostile collection: %ld bytes at its height\n", scanPeak);

  // The arrival of the hostile collection alone, again.
  sim::ResetPeakBlockBytes();
  const long listed = sim::LiveBlockBytes();
  AddKeyboardInterface(hostile.path.c_str(), nullptr);
  Settle();
  const long arrivalPeak = sim::PeakBlockBytes() - listed;
  std::printf("[ memory   ] arrival of the hostile collection: %ld bytes at its height\n", arrivalPeak);
  EXPECT_LT(arrivalPeak, 64 * 1024);
  EXPECT_LT(scanPeak, 256 * 1024);

  const std::string line = "Tavlo: BuildReportTables " + platform::ToUtf8(hostile.path.c_str()) + " failed, error 13";
  const std::vector<std::string> lines = sim::DebugLines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), line), 2) << "once per arrival";
  EXPECT_EQ(sim::HidPendingReadCount(hostile.path), 0) << "the hostile collection is not read";
  Hold(hostile.path);
  EXPECT_EQ(ModeCalls(), std::vector<int>{});
  EXPECT_EQ(sim::HidPendingReadCount(good.consumerControl), 1);
  Hold(good.consumerControl);
  Release(good.consumerControl);
  EXPECT_EQ(ModeCalls(), (std::vector<int>{1, 0}));
  ReleaseKeyboardInterfaces();
}

// ---- several keyboards, duplicates, removal ----

TEST_F(KeyboardList, TwoKeyboardsRemovingOneLeavesTheOtherWorking) {
  const sim::ModelKeyboardPaths one = sim::AttachModelKeyboard(1);
  const sim::ModelKeyboardPaths two = sim::AttachModelKeyboard(2);
  ScanKeyboardInterfaces(nullptr);
  Settle();
  EXPECT_EQ(ListedPaths(), (std::vector<std::u16string>{Upper(one.consumerControl), Upper(two.consumerControl)}));
  Hold(one.consumerControl);
  Release(two.consumerControl);
  sim::DetachModelKeyboard(one);
  Settle();
  NoticeRemoval(one);
  EXPECT_EQ(ListedPaths(), std::vector<std::u16string>{Upper(two.consumerControl)});
  Hold(two.consumerControl);
  Release(two.consumerControl);
  EXPECT_EQ(ModeCalls(), (std::vector<int>{1, 0, 1, 0}));
  EXPECT_EQ(sim::HidPendingReadCount(two.consumerControl), 1);
}

TEST_F(KeyboardList, SameInterfaceTwiceHasTwoReadersAndOneRemovalTakesBoth) {
  const sim::ModelKeyboardPaths kb = sim::AttachModelKeyboard();
  const sim::ModelKeyboardPaths other = sim::AttachModelKeyboard(2);
  ScanKeyboardInterfaces(nullptr);  // finds both keyboards
  NoticeArrival(kb);                // a notice that was already pending
  Settle();
  EXPECT_EQ(ListedPaths(), (std::vector<std::u16string>{Upper(kb.consumerControl), Upper(other.consumerControl),
                                                        Upper(kb.consumerControl)}));
  EXPECT_EQ(sim::HidOpenFileCount(kb.consumerControl), 2);
  EXPECT_EQ(sim::HidPendingReadCount(kb.consumerControl), 2);
  Hold(kb.consumerControl);
  EXPECT_EQ(ModeCalls(), (std::vector<int>{1, 1})) << "each reader sends";
  NoticeRemoval(kb);
  EXPECT_EQ(ListedPaths(), std::vector<std::u16string>{Upper(other.consumerControl)});
  EXPECT_EQ(sim::HidOpenFileCount(kb.consumerControl), 0);
}

TEST_F(KeyboardList, RemovalMatchesWithoutRegardToCase) {
  const sim::ModelKeyboardPaths kb = sim::AttachModelKeyboard();
  ASSERT_EQ(AddKeyboardInterface(kb.consumerControl.c_str(), nullptr), 1);
  std::u16string mixed = kb.consumerControl;
  for (size_t i = 0; i < mixed.size(); i += 2)
    if (mixed[i] >= u'a' && mixed[i] <= u'z') mixed[i] = static_cast<char16_t>(mixed[i] - u'a' + u'A');
  ASSERT_NE(mixed, kb.consumerControl);
  ASSERT_NE(mixed, Upper(kb.consumerControl));
  RemoveKeyboardInterface(mixed.c_str());
  EXPECT_EQ(DeviceList.Count, 0u);
  EXPECT_EQ(sim::HidOpenFileCount(kb.consumerControl), 0);
}

TEST_F(KeyboardList, RemovalOfAPathNeverListedChangesNothing) {
  const sim::ModelKeyboardPaths one = sim::AttachModelKeyboard(1);
  const sim::ModelKeyboardPaths two = sim::AttachModelKeyboard(2);
  ScanKeyboardInterfaces(nullptr);
  const std::vector<std::u16string> before = ListedPaths();
  ASSERT_EQ(before.size(), 2u);
  const std::u16string notices[] = {
      one.keyboard,                       // rejected on arrival
      sim::ModelConsumerControl(3).path,  // never seen
      one.consumerControl.substr(0, 40),  // a prefix of a listed path
      one.consumerControl + u"x",         // a listed path with more after it
      sim::HidInterfacePath(0x046D, 0xC52B, 1, 2),
  };
  for (const std::u16string& notice : notices) RemoveKeyboardInterface(notice.c_str());
  EXPECT_EQ(ListedPaths(), before);
  Hold(one.consumerControl);
  Hold(two.consumerControl);
  EXPECT_EQ(ModeCalls(), (std::vector<int>{1, 1}));
}

// An entry whose path names another vendor cannot arrive; one planted by hand
// shows that a removal notice for such a path does not walk the list.
TEST_F(KeyboardList, RemovalOfAnotherVendorsPathDoesNotWalkTheList) {
  const sim::ModelKeyboardPaths kb = sim::AttachModelKeyboard();
  ASSERT_EQ(AddKeyboardInterface(kb.consumerControl.c_str(), nullptr), 1);
  const std::u16string foreign = Upper(sim::HidInterfacePath(0x046D, 0xC52B, 1, 2));
  ASSERT_LT(foreign.size(), platform::kPathBufferLength);
  std::copy(foreign.begin(), foreign.end(), DeviceList.Entries[0].Path);
  DeviceList.Entries[0].Path[foreign.size()] = 0;
  RemoveKeyboardInterface(foreign.c_str());
  EXPECT_EQ(DeviceList.Count, 1u);
  EXPECT_EQ(sim::HidOpenFileCount(kb.consumerControl), 1);
  // The same path with the model's tags is a keyboard path: that walks.
  std::u16string model = foreign;
  model.replace(model.find(u"VID_046D&PID_C52B"), 17, u"VID_1C4F&PID_0002");
  std::copy(model.begin(), model.end(), DeviceList.Entries[0].Path);
  RemoveKeyboardInterface(model.c_str());
  EXPECT_EQ(DeviceList.Count, 0u);
}

// A Consumer-Control collection of the model whose path is 259 characters
// long, plugged in; its path.
std::u16string PlugConsumerControlOf259Characters() {
  std::u16string path = sim::HidInterfacePath(0x1C4F, 0x0002, 1, 2, u"");
  path.insert(path.find(u"##") + 1, 259 - path.size(), u'a');
  sim::AddHidInterface(sim::GenericHidInterface(path, 0x1C4F, 0x0002, 0x000C, 0x0001, 3));
  return path;
}

TEST_F(KeyboardList, PathOf259CharactersIsStoredWholeAndFoundAgain) {
  const std::u16string path = PlugConsumerControlOf259Characters();
  ASSERT_EQ(path.size(), 259u);
  ASSERT_EQ(AddKeyboardInterface(path.c_str(), nullptr), 1);
  EXPECT_EQ(std::u16string(DeviceList.Entries[0].Path), Upper(path));
  Hold(path);
  EXPECT_EQ(ModeCalls(), std::vector<int>{1});
  RemoveKeyboardInterface(path.c_str());
  EXPECT_EQ(DeviceList.Count, 0u);
  EXPECT_EQ(sim::HidOpenFileCount(path), 0);
}

// A removal notice is read as far as an arrival stores a path: 259
// characters. A notice that runs on past them still finds the entry; one that
// differs within them does not.
TEST_F(KeyboardList, RemovalNoticeIsCutAt259Characters) {
  const std::u16string path = PlugConsumerControlOf259Characters();
  ASSERT_EQ(path.size(), 259u);
  ASSERT_EQ(AddKeyboardInterface(path.c_str(), nullptr), 1);

  std::u16string lastDiffers = path;
  lastDiffers[258] = u'b';
  RemoveKeyboardInterface((lastDiffers + u"-and-more").c_str());
  RemoveKeyboardInterface(path.substr(0, 258).c_str());
  EXPECT_EQ(DeviceList.Count, 1u) << "a notice that differs within the first 259 characters";

  RemoveKeyboardInterface((path + u"-and-more-than-259").c_str());
  EXPECT_EQ(DeviceList.Count, 0u) << "a notice that runs on past the 259 characters of the entry";
  EXPECT_EQ(sim::HidOpenFileCount(path), 0);
}

// A report the keyboard sent between the open and the flush is stale (the
// layer key was released long ago, or held briefly before the arrival): the
// flush drops it before the reader starts, and the reports after it arrive.
TEST_F(KeyboardList, ReportQueuedBeforeTheFlushNeverSwitchesTheLayer) {
  const sim::ModelKeyboardPaths kb = sim::AttachModelKeyboard();
  sim::QueueReportOnNextOpen(kb.consumerControl, {0x01, 0xFE, 0x00});
  ASSERT_EQ(AddKeyboardInterface(kb.consumerControl.c_str(), nullptr), 1);
  Settle();
  EXPECT_EQ(ModeCalls(), std::vector<int>{}) << "a report from before the flush switched the layer";
  EXPECT_EQ(sim::HidQueuedReportCount(kb.consumerControl), 0);
  Release(kb.consumerControl);
  EXPECT_EQ(ModeCalls(), std::vector<int>{0});
  sim::DetachModelKeyboard(kb);
}

// ---- unplugging ----

TEST_F(KeyboardList, UnplugWhileHeldSendsNoModeZeroAndTheEntryWaitsForItsNotice) {
  const sim::ModelKeyboardPaths kb = sim::AttachModelKeyboard();
  ScanKeyboardInterfaces(nullptr);
  Hold(kb.consumerControl);
  sim::DetachModelKeyboard(kb);
  Settle();
  EXPECT_EQ(DeviceList.Count, 1u) << "listed until the removal notice";
  EXPECT_EQ(sim::HidPendingReadCount(kb.consumerControl), 0) << "the reader ended by itself";
  NoticeRemoval(kb);
  EXPECT_EQ(DeviceList.Count, 0u);
  EXPECT_EQ(ModeCalls(), std::vector<int>{1});
  EXPECT_EQ(LayerMode.load(), 1);
  // Plugged in again, it works as before.
  const sim::ModelKeyboardPaths again = sim::AttachModelKeyboard();
  NoticeArrival(again);
  Release(again.consumerControl);
  EXPECT_EQ(ModeCalls(), (std::vector<int>{1, 0}));
}

// ---- the start-up scan and the release ----

TEST_F(KeyboardList, ScanOffersEveryInterfaceInEnumerationOrder) {
  sim::AddHidInterface(
      sim::GenericHidInterface(sim::HidInterfacePath(0x046D, 0xC52B, 1, 2), 0x046D, 0xC52B, 0x000C, 0x0001, 3));
  const sim::ModelKeyboardPaths one = sim::AttachModelKeyboard(1);
  sim::AddHidInterface(sim::GenericHidInterface(sim::HidInterfacePath(0x045E, 0x0750, 0, -1), 0x045E, 0x0750, 1, 6, 9));
  const sim::ModelKeyboardPaths two = sim::AttachModelKeyboard(2);
  ScanKeyboardInterfaces(nullptr);
  EXPECT_EQ(ListedPaths(), (std::vector<std::u16string>{Upper(one.consumerControl), Upper(two.consumerControl)}));
  EXPECT_EQ(sim::HidOpenFileCount(one.keyboard), 0);
}

// An interface whose enumeration entry failed is stepped over; the keyboard
// after it is still found.
TEST_F(KeyboardList, ScanGoesOnPastAnEmptyEntryOfThePathList) {
  sim::AddHidInterface(
      sim::GenericHidInterface(sim::HidInterfacePath(0x046D, 0xC52B, 1, 2), 0x046D, 0xC52B, 0x000C, 0x0001, 3));
  const sim::ModelKeyboardPaths kb = sim::AttachModelKeyboard();  // indices 1 and 2
  sim::FailEnumIndex(0, platform::kErrorInvalidParameter);
  ScanKeyboardInterfaces(nullptr);
  EXPECT_EQ(ListedPaths(), std::vector<std::u16string>{Upper(kb.consumerControl)});
  Hold(kb.consumerControl);
  EXPECT_EQ(ModeCalls(), std::vector<int>{1});
}

TEST_F(KeyboardList, ScanThatCannotEnumerateListsNothing) {
  sim::AttachModelKeyboard();
  for (const char* call : {"SetupDiGetClassDevs", "SetupDiGetDeviceInterfaceDetail"}) {
    SCOPED_TRACE(call);
    sim::FailCall(call);
    ScanKeyboardInterfaces(nullptr);
    EXPECT_TRUE(sim::PlannedFailureHit());
    EXPECT_EQ(DeviceList.Count, 0u);
  }
}

// A second scan does not lose what the first listed (their readers would run
// on unreachable records for ever): it starts from an empty list.
TEST_F(KeyboardList, ScanOnAFilledListReleasesItFirst) {
  const sim::ModelKeyboardPaths kb = sim::AttachModelKeyboard();
  ScanKeyboardInterfaces(nullptr);
  ScanKeyboardInterfaces(nullptr);
  EXPECT_EQ(DeviceList.Count, 1u);
  EXPECT_EQ(sim::HidOpenFileCount(kb.consumerControl), 1);
  Hold(kb.consumerControl);
  EXPECT_EQ(ModeCalls(), std::vector<int>{1});
}

TEST_F(KeyboardList, ReleaseEmptiesAnyListAndEndsEveryReader) {
  ReleaseKeyboardInterfaces();  // empty: nothing happens
  EXPECT_EQ(DeviceList.Count, 0u);
  std::vector<sim::ModelKeyboardPaths> keyboards;
  for (int i = 1; i <= 6; ++i) keyboards.push_back(sim::AttachModelKeyboard(i));
  ScanKeyboardInterfaces(nullptr);
  NoticeArrival(keyboards[2]);
  EXPECT_EQ(DeviceList.Count, 7u);
  ReleaseKeyboardInterfaces();
  EXPECT_EQ(DeviceList.Count, 0u);
  for (const auto& kb : keyboards) EXPECT_EQ(sim::HidOpenFileCount(kb.consumerControl), 0);
  EXPECT_EQ(sim::LiveThreadCount(), 1) << "only the dispatcher is left";
  ReleaseKeyboardInterfaces();
  EXPECT_EQ(DeviceList.Count, 0u);
}

}  // namespace
