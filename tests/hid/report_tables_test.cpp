// Report item tables: layout, item contents, the reversed-range rules and the
// release of what a failed build left behind.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "hid/hid_device.h"
#include "hid/report_tables.h"
#include "platform/sim/sim.h"
#include "platform/sim/sim_hid.h"
#include "tests/hid/hid_fixture.h"

using namespace tavlo;
namespace sim = platform::sim;
using platform::HidpReportType;

namespace {

constexpr int kIn = 0, kOut = 1, kFeat = 2;

class ReportTables : public HidTest {
 protected:
  // Plugs in `description` under a path of its own and opens it.
  void OpenWith(sim::HidInterface description) { OpenWith(*device, std::move(description)); }
  static void OpenWith(HidDevice& d, sim::HidInterface description) {
    description.path = sim::HidInterfacePath(0x1234, 0x5678, 0, -1);
    sim::AddHidInterface(description);  // replaces the one before
    ASSERT_EQ(OpenForReading(d, description.path.c_str()), 1);
  }
  static sim::HidInterface Plain() { return sim::GenericHidInterface(u"", 0x1234, 0x5678, 1, 6, 8); }
  void SetUp() override {
    HidTest::SetUp();
    device = CreateHidDevice();
    ASSERT_NE(device, nullptr);
  }
  void TearDown() override {
    FreeHidDevice(device);
    HidTest::TearDown();
  }
  HidDevice* device = nullptr;
};

TEST_F(ReportTables, InputOnlyCollectionGetsEmptyOutputAndFeatureTables) {
  sim::HidInterface d = Plain();
  d.buttonCaps[kIn].push_back(sim::ButtonCaps(7, 0, 0xE0, 0xE7));
  d.valueCaps[kIn].push_back(sim::ValueCaps(1, 0, false, 0x30, 0x30));
  OpenWith(d);
  ASSERT_EQ(BuildReportTables(*device), 1);
  EXPECT_EQ(device->TablesBuilt, 1u);
  EXPECT_EQ(device->InputItemCount, 2u);
  ASSERT_NE(device->InputReportBuffer, nullptr);
  EXPECT_EQ(device->OutputItemCount, 0u);
  EXPECT_EQ(device->FeatureItemCount, 0u);
  EXPECT_NE(device->OutputButtonCaps, nullptr);  // empty arrays, not failures
  EXPECT_NE(device->FeatureValueCaps, nullptr);
  EXPECT_EQ(device->InputButtonCaps[0].Range.UsageMin, 0xE0);
  EXPECT_EQ(device->InputValueCaps[0].NotRange.Usage, 0x30);
}

TEST_F(ReportTables, ASecondBuildAllocatesNothing) {
  OpenWith(sim::ModelKeyboardCollection());
  ASSERT_EQ(BuildReportTables(*device), 1);
  const long blocks = sim::LiveBlockCount();
  HidDataItem* items = device->InputItems;
  sim::FailAlways("AllocZeroed");
  EXPECT_EQ(BuildReportTables(*device), 1);
  sim::ClearFailures();
  EXPECT_EQ(sim::LiveBlockCount(), blocks);
  EXPECT_EQ(device->InputItems, items);
}

TEST_F(ReportTables, AClosedRecordIsRefusedWithoutAllocating) {
  OpenWith(sim::ModelKeyboardCollection());
  Close(*device);
  const long blocks = sim::LiveBlockCount();
  EXPECT_EQ(BuildReportTables(*device), 0);
  EXPECT_EQ(sim::LiveBlockCount(), blocks);
}

TEST_F(ReportTables, ValueRangeGivesOneItemPerUsageAfterTheButtons) {
  sim::HidInterface d = Plain();
  d.buttonCaps[kIn].push_back(sim::ButtonCaps(9, 2, 1, 1));
  d.valueCaps[kIn].push_back(sim::ValueCaps(1, 3, true, 1, 3));
  d.valueCaps[kIn].push_back(sim::ValueCaps(1, 4, false, 0x38, 0x38));
  OpenWith(d);
  ASSERT_EQ(BuildReportTables(*device), 1);
  ASSERT_EQ(device->InputItemCount, 5u);
  const HidDataItem& button = device->InputItems[0];
  EXPECT_EQ(button.IsButton, 1);
  EXPECT_EQ(button.UsagePage, 9);
  EXPECT_EQ(button.ReportId, 2u);
  EXPECT_EQ(button.UsageMin, 1u);
  EXPECT_EQ(button.UsageMax, 1u);
  const uint16_t expected[] = {1, 2, 3, 0x38};
  for (int i = 0; i < 4; ++i) {
    const HidDataItem& item = device->InputItems[1 + i];
    EXPECT_EQ(item.IsButton, 0) << i;
    EXPECT_EQ(item.Status, platform::kHidpStatusSuccess) << i;
    EXPECT_EQ(item.UsagePage, 1) << i;
    EXPECT_EQ(item.ReportId, i < 3 ? 3u : 4u) << i;
    EXPECT_EQ(item.Usage, expected[i]) << i;
  }
}

TEST_F(ReportTables, ARangeUpToFFFFEndsThereAndTheLayoutGoesOn) {
  sim::HidInterface d = Plain();
  d.valueCaps[kIn].push_back(sim::ValueCaps(0xFF00, 1, true, 0xFFFD, 0xFFFF));
  d.valueCaps[kIn].push_back(sim::ValueCaps(0xFF00, 1, false, 7, 7));
  OpenWith(d);
  ASSERT_EQ(BuildReportTables(*device), 1);
  ASSERT_EQ(device->InputItemCount, 4u);
  EXPECT_EQ(device->InputItems[0].Usage, 0xFFFD);
  EXPECT_EQ(device->InputItems[2].Usage, 0xFFFF);
  EXPECT_EQ(device->InputItems[3].Usage, 7);
}

TEST_F(ReportTables, ButtonRangeKeepsItsBoundsAndAUsageListOfTheLibrarysLength) {
  OpenWith(sim::ModelKeyboardCollection());  // modifiers 0xE0-0xE7, keys 0x00-0xFF, LEDs 1-5
  ASSERT_EQ(BuildReportTables(*device), 1);
  ASSERT_EQ(device->InputItemCount, 2u);
  const HidDataItem& modifiers = device->InputItems[0];
  EXPECT_EQ(modifiers.IsButton, 1);
  EXPECT_EQ(modifiers.UsagePage, 7);
  EXPECT_EQ(modifiers.UsageMin, 0xE0u);
  EXPECT_EQ(modifiers.UsageMax, 0xE7u);
  const uint32_t length = platform::HidMaxUsageListLength(HidpReportType::Input, 7, device->PreparsedData);
  EXPECT_EQ(length, 8u + 256u);
  EXPECT_EQ(modifiers.MaxUsageListLength, length);
  ASSERT_NE(modifiers.Usages, nullptr);
  for (uint32_t i = 0; i < length; ++i) ASSERT_EQ(modifiers.Usages[i], 0) << i;  // and all of it readable
  ASSERT_EQ(device->OutputItemCount, 1u);
  EXPECT_EQ(device->OutputItems[0].MaxUsageListLength, 5u);
}

TEST_F(ReportTables, AUsageListThatCannotBeAllocatedOnlyStaysNull) {
  sim::HidInterface d = Plain();
  d.buttonCaps[kIn].push_back(sim::ButtonCaps(7, 0, 0xE0, 0xE7));
  OpenWith(d);
  // Allocations of a build: input buffer, button caps, value caps, items,
  // then the usage list.
  sim::FailCall("AllocZeroed", 5);
  ASSERT_EQ(BuildReportTables(*device), 1);
  ASSERT_TRUE(sim::PlannedFailureHit());
  EXPECT_EQ(device->InputItems[0].Usages, nullptr);
  EXPECT_EQ(device->InputItems[0].MaxUsageListLength, 8u);
}

TEST_F(ReportTables, ReversedRanges) {
  struct Case {
    const char* name;
    int type;
    uint16_t min, max;
    int result;
    uint32_t items;  // of that type's table, when built
  };
  const Case cases[] = {
      {"input reversed by one", kIn, 5, 4, 0, 0},
      {"input reversed", kIn, 9, 2, 0, 0},
      {"output min = max + 1 adds nothing", kOut, 5, 4, 1, 2},
      {"feature min = max + 1 adds nothing", kFeat, 0x100, 0xFF, 1, 2},
      {"output reversed by more", kOut, 6, 4, 0, 0},
      {"feature reversed far below zero", kFeat, 0xFFFF, 0, 0, 0},
  };
  for (const Case& c : cases) {
    sim::HidInterface d = Plain();
    d.caps.OutputReportByteLength = 2;
    d.caps.FeatureReportByteLength = 2;
    // One button and one single value beside the reversed range (the single
    // value first, so that the output buttons' check does not meet the range).
    d.buttonCaps[c.type].push_back(sim::ButtonCaps(8, 0, 1, 3));
    d.valueCaps[c.type].push_back(sim::ValueCaps(1, 0, false, 0x40, 0x40));
    d.valueCaps[c.type].push_back(sim::ValueCaps(1, 0, true, c.min, c.max));
    HidDevice r;
    OpenWith(r, d);
    EXPECT_EQ(BuildReportTables(r), c.result) << c.name;
    EXPECT_EQ(r.TablesBuilt, static_cast<uint32_t>(c.result)) << c.name;
    if (c.result) {
      const uint32_t count[] = {r.InputItemCount, r.OutputItemCount, r.FeatureItemCount};
      EXPECT_EQ(count[c.type], c.items) << c.name;
    }
    Destroy(r);
  }
}

TEST_F(ReportTables, AReversedInputRangeStopsBeforeOutputAndFeature) {
  sim::HidInterface d = Plain();
  d.valueCaps[kIn].push_back(sim::ValueCaps(1, 0, true, 3, 1));
  d.valueCaps[kOut].push_back(sim::ValueCaps(1, 0, false, 1, 1));
  OpenWith(d);
  EXPECT_EQ(BuildReportTables(*device), 0);
  EXPECT_EQ(device->InputItems, nullptr);
  EXPECT_EQ(device->OutputButtonCaps, nullptr);
  EXPECT_EQ(device->OutputItems, nullptr);
}

TEST_F(ReportTables, OutputButtonsAgainstTheFirstOutputValue) {
  // Output buttons without any output value capability: nothing to compare,
  // and nothing is read beyond the empty array.
  {
    sim::HidInterface d = Plain();
    d.buttonCaps[kOut].push_back(sim::ButtonCaps(8, 0, 1, 5));
    d.buttonCaps[kOut].push_back(sim::ButtonCaps(8, 0, 6, 6));
    OpenWith(d);
    EXPECT_EQ(BuildReportTables(*device), 1);
    EXPECT_EQ(device->OutputItemCount, 2u);
    Close(*device);
  }
  // A first output value whose UsageMin is its UsageMax plus the number of
  // output buttons refuses the layout; one more or less passes.
  for (int offset : {-1, 0, 1}) {
    sim::HidInterface d = Plain();
    d.buttonCaps[kOut].push_back(sim::ButtonCaps(8, 0, 1, 5));
    d.buttonCaps[kOut].push_back(sim::ButtonCaps(8, 0, 6, 6));
    // A single usage: the check reads its storage as a range, the usage as
    // UsageMin and the word after it as UsageMax.
    platform::HidpValueCaps v = sim::ValueCaps(1, 0, false, 0, 0);
    v.Range.UsageMin = static_cast<uint16_t>(12 + offset);
    v.Range.UsageMax = 10;  // the word after NotRange.Usage
    d.valueCaps[kOut].push_back(v);
    OpenWith(d);
    EXPECT_EQ(BuildReportTables(*device), offset == 0 ? 0 : 1) << offset;
    Close(*device);
  }
}

TEST_F(ReportTables, ACapabilityQueryThatFailsFailsTheBuild) {
  for (const char* call : {"HidP_GetSpecificButtonCaps", "HidP_GetSpecificValueCaps"}) {
    sim::HidInterface d = Plain();
    d.buttonCaps[kFeat].push_back(sim::ButtonCaps(8, 0, 1, 5));
    d.valueCaps[kFeat].push_back(sim::ValueCaps(1, 0, false, 1, 1));
    OpenWith(d);
    sim::FailCall(call);
    EXPECT_EQ(BuildReportTables(*device), 0) << call;
    EXPECT_EQ(device->TablesBuilt, 0u) << call;
    EXPECT_NE(device->InputItems, nullptr) << call;  // what was laid out stays until Close
    Close(*device);
    EXPECT_EQ(device->InputItems, nullptr) << call;
  }
}

TEST_F(ReportTables, CapsCountsLargerThanTheLibrarysArraysReadOnlyZeroedEntries) {
  sim::HidInterface d = Plain();
  d.capsCountsFromArrays = false;
  d.buttonCaps[kIn].push_back(sim::ButtonCaps(7, 0, 0xE0, 0xE7));
  d.caps.NumberInputButtonCaps = 3;
  OpenWith(d);
  ASSERT_EQ(BuildReportTables(*device), 1);
  ASSERT_EQ(device->InputItemCount, 3u);
  EXPECT_EQ(device->InputItems[0].UsageMin, 0xE0u);
  EXPECT_EQ(device->InputItems[2].UsagePage, 0);
}

// Every allocation of a build failing in turn: the build fails or degrades,
// and what it left is released exactly once, by a second build or by Close.
TEST_F(ReportTables, AFailedBuildIsReleasedExactlyOnce) {
  sim::HidInterface d = sim::ModelKeyboardCollection();
  d.valueCaps[kFeat].push_back(sim::ValueCaps(1, 0, true, 1, 3));
  d.caps.FeatureReportByteLength = 4;
  OpenWith(d);
  const long base = sim::LiveBlockCount();
  for (long k = 1;; ++k) {
    sim::FailNthFallibleCall(k);
    const int built = BuildReportTables(*device);
    const bool hit = sim::PlannedFailureHit();
    sim::FailNthFallibleCall(0);
    if (!built) {
      EXPECT_EQ(device->TablesBuilt, 0u) << k;
      // A second build releases the partial results first and succeeds.
      ASSERT_EQ(BuildReportTables(*device), 1) << k;
    }
    Close(*device);  // releases the tables exactly once
    EXPECT_EQ(sim::LiveBlockCount(), base) << "fallible call " << k;
    ASSERT_EQ(Open(*device), 1);
    if (!hit) break;
  }
}

}  // namespace
