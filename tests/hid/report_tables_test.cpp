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
#include "platform/sim/sim_trace.h"
#include "platform/text.h"
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

// ---- what a collection may declare ----

// The bounds of a report type's tables (report_tables.h), at and just past
// each, for each report type, with real keyboards' declarations beside them.
// Past a bound the build fails with one debug line naming the interface, and
// what it cost at its height stays within a few tables' worth.
TEST_F(ReportTables, ACollectionPastTheBoundsIsRefusedAsMalformed) {
  constexpr uint16_t kLast = static_cast<uint16_t>(kMaxReportItems - 1);
  struct Case {
    const char* name;
    int type;
    std::vector<platform::HidpButtonCaps> buttons;
    std::vector<platform::HidpValueCaps> values;
    bool refused;
    uint32_t items;  // of that type's table, when built
  };
  const std::vector<platform::HidpValueCaps> singles(kMaxReportItems, sim::ValueCaps(0xFF00, 0, false, 1, 1));
  std::vector<platform::HidpValueCaps> oneSingleMore = singles;
  oneSingleMore.push_back(sim::ValueCaps(0xFF00, 0, false, 1, 1));
  const std::vector<platform::HidpValueCaps> hostile(300, sim::ValueCaps(0x000C, 1, true, 0x0000, 0xFFFF));
  const std::vector<platform::HidpButtonCaps> halfPages(2, sim::ButtonCaps(0xFF01, 0, 0x0000, 0x7FFF));
  const Case cases[] = {
      {"an N-key-rollover keyboard: modifiers and a bitmap of every key",
       kIn,
       {sim::ButtonCaps(7, 0, 0xE0, 0xE7), sim::ButtonCaps(7, 0, 0x00, 0xE7)},
       {},
       false,
       2},
      {"this keyboard's consumer range, 0x000-0x3FF", kIn, {}, {sim::ValueCaps(0x0C, 1, true, 0, 0x3FF)}, false, 1024},
      {"as many value items as the table may hold",
       kIn,
       {},
       {sim::ValueCaps(0xFF00, 0, true, 0, kLast)},
       false,
       kMaxReportItems},
      {"one item more", kIn, {sim::ButtonCaps(9, 0, 1, 1)}, {sim::ValueCaps(0xFF00, 0, true, 0, kLast)}, true, 0},
      {"one range over every 16-bit usage", kIn, {}, {sim::ValueCaps(0xFF00, 0, true, 0, 0xFFFF)}, true, 0},
      {"300 of them, 2 KB of descriptor", kIn, {}, hostile, true, 0},
      {"as many capabilities as the table may hold", kIn, {}, singles, false, kMaxReportItems},
      {"one capability more", kIn, {}, oneSingleMore, true, 0},
      {"an output range past the bound", kOut, {}, {sim::ValueCaps(8, 0, true, 0, 0xFFFF)}, true, 0},
      {"a feature range past the bound", kFeat, {}, {sim::ValueCaps(0xFF00, 0, true, 0, 0xFFFF)}, true, 0},
      {"one button whose usage list is a whole page",
       kFeat,
       {sim::ButtonCaps(0xFF01, 0, 0x0000, 0xFFFF)},
       {},
       false,
       1},
      {"two buttons, each listing both halves of a page", kFeat, halfPages, {}, true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::HidInterface d = Plain();
    d.caps.OutputReportByteLength = 2;
    d.caps.FeatureReportByteLength = 2;
    d.buttonCaps[c.type] = c.buttons;
    d.valueCaps[c.type] = c.values;
    HidDevice r;
    OpenWith(r, d);
    sim::ClearTrace();
    sim::ResetPeakBlockBytes();
    const long before = sim::LiveBlockBytes();
    EXPECT_EQ(BuildReportTables(r), c.refused ? 0 : 1);
    const long cost = sim::PeakBlockBytes() - before;
    EXPECT_LT(cost, 1024 * 1024) << "bytes at the height of the build";
    std::vector<std::string> expected;
    if (c.refused) {
      expected.push_back("Tavlo: BuildReportTables " + platform::ToUtf8(r.PathBuffer) + " failed, error 13");
    }
    EXPECT_EQ(sim::DebugLines(), expected);
    EXPECT_EQ(r.TablesBuilt, c.refused ? 0u : 1u);
    if (!c.refused) {
      const uint32_t count[] = {r.InputItemCount, r.OutputItemCount, r.FeatureItemCount};
      EXPECT_EQ(count[c.type], c.items);
    }
    Destroy(r);
  }
}

// More capabilities than a table may hold are refused before their arrays
// are had, and the report types after the refused one are not laid out.
TEST_F(ReportTables, TooManyCapabilitiesAreRefusedBeforeTheirArrays) {
  sim::HidInterface d = Plain();
  d.capsCountsFromArrays = false;
  d.caps.NumberInputValueCaps = 0xFFFF;  // 4.7 MB of records, if they were had
  d.caps.NumberInputButtonCaps = 0xFFFF;
  d.caps.NumberOutputValueCaps = 1;
  OpenWith(d);
  sim::ResetPeakBlockBytes();
  const long before = sim::LiveBlockBytes();
  EXPECT_EQ(BuildReportTables(*device), 0);
  EXPECT_LT(sim::PeakBlockBytes() - before, 1024);
  EXPECT_EQ(device->InputButtonCaps, nullptr);
  EXPECT_EQ(device->InputValueCaps, nullptr);
  EXPECT_EQ(device->OutputValueCaps, nullptr);
}

}  // namespace
