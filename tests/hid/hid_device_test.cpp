// The HID device record against the simulated HID stack: open, identity,
// path numbers, close and destruction, and what each leaves behind.
#include <gtest/gtest.h>

#include <string>

#include "hid/enumeration.h"
#include "hid/hid_device.h"
#include "hid/report_tables.h"
#include "platform/sim/sim.h"
#include "platform/sim/sim_hid.h"
#include "platform/text.h"
#include "tests/hid/hid_fixture.h"

using namespace tavlo;
namespace sim = platform::sim;

namespace {

using HidDeviceRecord = HidTest;

TEST_F(HidDeviceRecord, CreationGivesAClosedRecordWithTwoEvents) {
  HidDevice* d = CreateHidDevice();
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->Handle, nullptr);
  EXPECT_EQ(d->DevicePath, d->PathBuffer);
  EXPECT_EQ(d->PathBuffer[0], u'\0');
  EXPECT_NE(d->ReadEvent, nullptr);
  EXPECT_NE(d->StopEvent, nullptr);
  EXPECT_NE(d->ReadEvent, d->StopEvent);
  EXPECT_EQ(d->ReaderThread.load(), nullptr);
  EXPECT_EQ(d->Callback, nullptr);
  Destroy(*d);
  FreeHidDevice(d);
  EXPECT_EQ(d, nullptr);
}

TEST_F(HidDeviceRecord, CreationWithoutMemoryGivesNull) {
  sim::FailCall("AllocZeroed");
  EXPECT_EQ(CreateHidDevice(), nullptr);
}

TEST_F(HidDeviceRecord, FailedEventsStayNullAndCloseAndDestroyStillRun) {
  sim::FailAlways("CreateEvent");
  HidDevice d;
  sim::ClearFailures();
  EXPECT_EQ(d.ReadEvent, nullptr);
  EXPECT_EQ(d.StopEvent, nullptr);
  const auto path = sim::AttachModelKeyboard();
  ASSERT_EQ(OpenForReading(d, path.consumerControl.c_str()), 1);
  Close(d);
  Destroy(d);
}

TEST_F(HidDeviceRecord, OpeningAnAbsentPathFailsAndLeavesTheRecordClosed) {
  HidDevice d;
  const std::u16string absent = sim::HidInterfacePath(0x1C4F, 0x0002, 1, 2);
  EXPECT_EQ(OpenForReading(d, absent.c_str()), 0);
  EXPECT_EQ(d.Handle, nullptr);
  EXPECT_EQ(d.PreparsedData, nullptr);
  Close(d);
  EXPECT_EQ(d.Handle, nullptr);
  Destroy(d);
}

TEST_F(HidDeviceRecord, OpenForReadingReadsIdentityAndNumbers) {
  const auto paths = sim::AttachModelKeyboard();
  HidDevice d;
  ASSERT_EQ(OpenForReading(d, paths.consumerControl.c_str()), 1);
  EXPECT_NE(d.Handle, nullptr);
  EXPECT_NE(d.Handle, platform::InvalidHandle());
  EXPECT_EQ(std::u16string(d.DevicePath), paths.consumerControl);
  EXPECT_EQ(d.ReadAccess, 1u);
  EXPECT_EQ(d.WriteAccess, 0u);
  EXPECT_EQ(d.OverlappedIo, 1u);
  EXPECT_EQ(d.ShareReadOnly, 0u);
  EXPECT_EQ(d.Attributes.VendorID, 0x1C4F);
  EXPECT_EQ(d.Attributes.ProductID, 0x0002);
  EXPECT_EQ(d.Attributes.Size, sizeof(platform::HiddAttributes));
  EXPECT_EQ(d.Caps.UsagePage, 0x000C);
  EXPECT_EQ(d.Caps.Usage, 0x0001);
  EXPECT_EQ(d.Caps.InputReportByteLength, 3);
  EXPECT_EQ(d.InterfaceNumber, 1u);
  EXPECT_EQ(d.CollectionNumber, 2u);
  EXPECT_EQ(d.TablesBuilt, 0u);
  EXPECT_EQ(sim::HidOpenFileCount(paths.consumerControl), 1);
  Destroy(d);
  EXPECT_EQ(sim::HidOpenFileCount(paths.consumerControl), 0);
}

TEST_F(HidDeviceRecord, AttributesAndCapsOutliveClose) {
  const auto paths = sim::AttachModelKeyboard();
  HidDevice d;
  ASSERT_EQ(OpenForReading(d, paths.keyboard.c_str()), 1);
  const platform::HidpCaps caps = d.Caps;
  Close(d);
  EXPECT_EQ(d.Handle, nullptr);
  EXPECT_EQ(d.PreparsedData, nullptr);
  EXPECT_EQ(sim::HidOpenFileCount(paths.keyboard), 0);
  EXPECT_EQ(d.Attributes.VendorID, 0x1C4F);
  EXPECT_EQ(d.Caps.UsagePage, 0x0001);
  EXPECT_EQ(d.Caps.Usage, 0x0006);
  EXPECT_EQ(d.Caps.NumberInputButtonCaps, caps.NumberInputButtonCaps);
  EXPECT_EQ(std::u16string(d.PathBuffer), paths.keyboard);
  Destroy(d);
}

TEST_F(HidDeviceRecord, OpeningASecondPathClosesTheFirstInterface) {
  const auto paths = sim::AttachModelKeyboard();
  HidDevice d;
  ASSERT_EQ(OpenForReading(d, paths.keyboard.c_str()), 1);
  ASSERT_EQ(sim::HidOpenFileCount(paths.keyboard), 1);
  ASSERT_EQ(OpenForReading(d, paths.consumerControl.c_str()), 1);
  EXPECT_EQ(sim::HidOpenFileCount(paths.keyboard), 0);
  EXPECT_EQ(sim::HidOpenFileCount(paths.consumerControl), 1);
  EXPECT_EQ(sim::LivePreparsedDataCount(), 1);
  EXPECT_EQ(d.Caps.UsagePage, 0x000C);
  // A failed open of a third path leaves nothing of the second open.
  EXPECT_EQ(OpenForReading(d, u"\\\\?\\hid#absent"), 0);
  EXPECT_EQ(sim::HidOpenFileCount(paths.consumerControl), 0);
  EXPECT_EQ(sim::LivePreparsedDataCount(), 0);
  Destroy(d);
}

TEST_F(HidDeviceRecord, InterfaceAndCollectionNumbersFromThePath) {
  struct Case {
    const char16_t* tags;  // between the product and the instance
    uint32_t interfaceNumber;
    uint32_t collectionNumber;
  };
  const Case cases[] = {
      {u"&mi_01&col02", 1, 2},
      {u"&MI_02&COL03", 2, 3},    // capitals
      {u"", 0, 0},                // neither tag
      {u"&mi_00", 0, 0},          // no collection tag
      {u"&col05", 0, 5},          // no interface tag
      {u"&mi_0a&col1F", 10, 31},  // hexadecimal, either case
      {u"&mi_&colzz", 0, 0},      // tags without digits
  };
  for (const Case& c : cases) {
    const std::u16string path = std::u16string(u"\\\\?\\hid#vid_045e&pid_0750") + c.tags +
                                u"#7&1&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
    sim::AddHidInterface(sim::GenericHidInterface(path, 0x045E, 0x0750, 1, 6));
    HidDevice d;
    ASSERT_EQ(OpenForReading(d, path.c_str()), 1);
    EXPECT_EQ(d.InterfaceNumber, c.interfaceNumber) << std::string(path.begin(), path.end());
    EXPECT_EQ(d.CollectionNumber, c.collectionNumber) << std::string(path.begin(), path.end());
    Destroy(d);
    sim::RemoveHidInterface(path);
  }
}

TEST_F(HidDeviceRecord, ALongPathIsCutAfter259CharactersAndOpenedSo) {
  std::u16string full = sim::HidInterfacePath(0x1C4F, 0x0002, 1, 2);
  while (full.size() < 300) full += u'x';
  const std::u16string cut = full.substr(0, 259);
  sim::AddHidInterface(sim::GenericHidInterface(cut, 0x1C4F, 0x0002, 0x0C, 0x01, 3));
  HidDevice d;
  EXPECT_EQ(OpenForReading(d, full.c_str()), 1);
  EXPECT_EQ(platform::TextLength(d.PathBuffer), 259u);
  EXPECT_EQ(std::u16string(d.PathBuffer), cut);
  Destroy(d);

  // The same long path when only the full one would exist: the cut names
  // nothing and the open fails.
  sim::RemoveHidInterface(cut);
  HidDevice e;
  EXPECT_EQ(OpenForReading(e, full.c_str()), 0);
  EXPECT_EQ(platform::TextLength(e.PathBuffer), 259u);
  Destroy(e);
}

TEST_F(HidDeviceRecord, AFailedDeviceQueryClosesTheRecordAgain) {
  const auto paths = sim::AttachModelKeyboard();
  for (const char* call : {"CreateFile", "HidD_GetPreparsedData", "HidD_GetAttributes", "HidP_GetCaps"}) {
    HidDevice d;
    sim::FailCall(call);
    EXPECT_EQ(OpenForReading(d, paths.consumerControl.c_str()), 0) << call;
    EXPECT_EQ(d.Handle, nullptr) << call;
    EXPECT_EQ(d.PreparsedData, nullptr) << call;
    EXPECT_EQ(sim::HidOpenFileCount(paths.consumerControl), 0) << call;
    EXPECT_EQ(sim::LivePreparsedDataCount(), 0) << call;
    Destroy(d);
  }
}

TEST_F(HidDeviceRecord, AnUnpluggedInterfaceCannotBeReadAgain) {
  const auto paths = sim::AttachModelKeyboard();
  HidDevice d;
  ASSERT_EQ(OpenForReading(d, paths.consumerControl.c_str()), 1);
  sim::DetachModelKeyboard(paths);
  EXPECT_EQ(ReadDeviceInfo(d), 0);
  EXPECT_EQ(Open(d), 0);
  EXPECT_EQ(d.Handle, nullptr);
  Destroy(d);
}

TEST_F(HidDeviceRecord, ReadDeviceInfoNeedsAnOpenRecordAndDoesNotLeakWhenRepeated) {
  const auto paths = sim::AttachModelKeyboard();
  HidDevice d;
  EXPECT_EQ(ReadDeviceInfo(d), 0);
  ASSERT_EQ(OpenForReading(d, paths.keyboard.c_str()), 1);
  ASSERT_EQ(BuildReportTables(d), 1);
  EXPECT_EQ(ReadDeviceInfo(d), 1);
  EXPECT_EQ(d.TablesBuilt, 0u);
  EXPECT_EQ(d.InputItems, nullptr);
  EXPECT_EQ(sim::LivePreparsedDataCount(), 1);
  Destroy(d);
}

TEST_F(HidDeviceRecord, CloseWithoutAReaderNeitherSignalsNorWaits) {
  const auto paths = sim::AttachModelKeyboard();
  HidDevice d;
  ASSERT_EQ(OpenForReading(d, paths.consumerControl.c_str()), 1);
  const long waits = sim::WaitCallCount();
  Close(d);
  EXPECT_EQ(sim::WaitCallCount(), waits);
  EXPECT_EQ(platform::WaitForOne(d.StopEvent, 0), platform::kWaitTimeout);
  Destroy(d);
}

TEST_F(HidDeviceRecord, ARecordCanBeOpenedClosedAndOpenedAgain) {
  const auto paths = sim::AttachModelKeyboard();
  HidDevice d;
  for (int round = 0; round < 3; ++round) {
    ASSERT_EQ(OpenForReading(d, paths.consumerControl.c_str()), 1);
    ASSERT_EQ(BuildReportTables(d), 1);
    Close(d);
  }
  EXPECT_EQ(Open(d), 1);  // the same path and flags again
  Destroy(d);
  Destroy(d);  // a second Destroy finds nothing left to release
}

TEST_F(HidDeviceRecord, DestroyReleasesAPathListThatWasNotFreed) {
  sim::AttachModelKeyboard();
  HidDevice* d = CreateHidDevice();
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(EnumerateInterfaces(*d), 1);
  EXPECT_EQ(d->PathCount, 2);
  Destroy(*d);
  EXPECT_EQ(d->PathList, nullptr);
  FreeHidDevice(d);
}

}  // namespace
