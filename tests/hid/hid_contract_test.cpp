// What the HID code relies on of the HID class library and SetupAPI, run
// natively against the simulated stack (with two interfaces shaped like
// Wine's own) and under Wine against the real libraries and Wine's virtual
// mouse and keyboard (vendor 0x845E).
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "hid/enumeration.h"
#include "hid/hid_device.h"
#include "hid/reader.h"
#include "hid/report_tables.h"
#include "platform/hid.h"
#include "platform/kernel.h"

#ifdef _WIN32
#include <windows.h>
#else
#include "platform/sim/sim.h"
#include "platform/sim/sim_hid.h"
#endif

using namespace tavlo;

namespace {

constexpr uint16_t kWineVendor = 0x845E;

// Resource counts of the process, to show that nothing is left behind.
struct Resources {
  long handles = 0;
  long blocks = 0;
  static Resources Now() {
    Resources r;
#ifdef _WIN32
    DWORD count = 0;
    ::GetProcessHandleCount(::GetCurrentProcess(), &count);
    r.handles = static_cast<long>(count);
#else
    r.handles = platform::sim::OpenHandleCount();
    r.blocks = platform::sim::LiveBlockCount();
#endif
    return r;
  }
};

class HidContract : public ::testing::Test {
 protected:
  void SetUp() override {
#ifndef _WIN32
    platform::sim::ResetMachine();
    using namespace platform::sim;
    HidInterface mouse = GenericHidInterface(HidInterfacePath(kWineVendor, 0x0001, -1, -1, u"0&0000&0"), kWineVendor,
                                             0x0001, 0x0001, 0x0002, 5);
    mouse.buttonCaps[0].push_back(ButtonCaps(0x0009, 0, 1, 3));
    mouse.valueCaps[0].push_back(ValueCaps(0x0001, 0, false, 0x30, 0x30, 8));
    mouse.valueCaps[0].push_back(ValueCaps(0x0001, 0, false, 0x31, 0x31, 8));
    mouse.valueCaps[0].push_back(ValueCaps(0x0001, 0, false, 0x38, 0x38, 8));
    AddHidInterface(mouse);
    HidInterface keyboard = GenericHidInterface(HidInterfacePath(kWineVendor, 0x0002, -1, -1, u"0&0000&1"), kWineVendor,
                                                0x0002, 0x0001, 0x0006, 9);
    keyboard.caps.OutputReportByteLength = 2;
    keyboard.buttonCaps[0].push_back(ButtonCaps(0x0007, 0, 0xE0, 0xE7));
    keyboard.buttonCaps[0].push_back(ButtonCaps(0x0007, 0, 0x00, 0x65));
    keyboard.buttonCaps[1].push_back(ButtonCaps(0x0008, 0, 1, 5));
    AddHidInterface(keyboard);
#endif
  }
  void TearDown() override {
#ifndef _WIN32
    platform::sim::ResetMachine();
#endif
  }

  static std::vector<std::u16string> Paths() {
    std::vector<std::u16string> paths;
    HidDevice enumerator;
    if (EnumerateInterfaces(enumerator) == 1) {
      while (const char16_t* path = NextPath(enumerator)) paths.push_back(path);
    }
    Destroy(enumerator);
    return paths;
  }

  // Opens every listed interface of Wine's own vendor.
  static std::vector<std::u16string> WineInterfaces() {
    std::vector<std::u16string> found;
    for (const auto& path : Paths()) {
      HidDevice d;
      if (OpenForReading(d, path.c_str()) && d.Attributes.VendorID == kWineVendor) found.push_back(path);
      Destroy(d);
    }
    return found;
  }
};

// The item table of one report type, checked against the capability arrays
// the library returns for it.
void ExpectTableMatchesCaps(const HidDevice& d, platform::HidpReportType type, const char* name) {
  const int t = static_cast<int>(type);
  const uint16_t buttons[] = {d.Caps.NumberInputButtonCaps, d.Caps.NumberOutputButtonCaps,
                              d.Caps.NumberFeatureButtonCaps};
  const uint16_t values[] = {d.Caps.NumberInputValueCaps, d.Caps.NumberOutputValueCaps, d.Caps.NumberFeatureValueCaps};
  const platform::HidpButtonCaps* buttonCaps[] = {d.InputButtonCaps, d.OutputButtonCaps, d.FeatureButtonCaps};
  const platform::HidpValueCaps* valueCaps[] = {d.InputValueCaps, d.OutputValueCaps, d.FeatureValueCaps};
  const HidDataItem* items[] = {d.InputItems, d.OutputItems, d.FeatureItems};
  const uint32_t counts[] = {d.InputItemCount, d.OutputItemCount, d.FeatureItemCount};

  // The library's own answer, asked again.
  std::vector<platform::HidpButtonCaps> again(buttons[t] ? buttons[t] : 1);
  uint16_t length = buttons[t];
  if (buttons[t]) {
    ASSERT_EQ(platform::HidGetSpecificButtonCaps(type, 0, 0, 0, again.data(), &length, d.PreparsedData),
              platform::kHidpStatusSuccess)
        << name;
    ASSERT_EQ(length, buttons[t]) << name;
  }
  uint32_t expected = buttons[t];
  for (uint16_t i = 0; i < values[t]; ++i) {
    const auto& v = valueCaps[t][i];
    expected += v.IsRange ? static_cast<uint32_t>(v.Range.UsageMax - v.Range.UsageMin + 1) : 1u;
  }
  ASSERT_EQ(counts[t], expected) << name;
  uint32_t index = 0;
  for (uint16_t i = 0; i < buttons[t]; ++i, ++index) {
    const auto& b = buttonCaps[t][i];
    EXPECT_EQ(b.UsagePage, again[i].UsagePage) << name;
    const HidDataItem& item = items[t][index];
    EXPECT_EQ(item.IsButton, 1) << name;
    EXPECT_EQ(item.UsagePage, b.UsagePage) << name;
    EXPECT_EQ(item.ReportId, b.ReportID) << name;
    EXPECT_EQ(item.UsageMin, b.IsRange ? b.Range.UsageMin : b.NotRange.Usage) << name;
    EXPECT_EQ(item.UsageMax, b.IsRange ? b.Range.UsageMax : b.NotRange.Usage) << name;
    EXPECT_EQ(item.MaxUsageListLength, platform::HidMaxUsageListLength(type, b.UsagePage, d.PreparsedData)) << name;
  }
  for (uint16_t i = 0; i < values[t]; ++i) {
    const auto& v = valueCaps[t][i];
    const uint32_t first = v.IsRange ? v.Range.UsageMin : v.NotRange.Usage;
    const uint32_t last = v.IsRange ? v.Range.UsageMax : v.NotRange.Usage;
    for (uint32_t usage = first; usage <= last; ++usage, ++index) {
      const HidDataItem& item = items[t][index];
      EXPECT_EQ(item.IsButton, 0) << name;
      EXPECT_EQ(item.Usage, usage) << name;
      EXPECT_EQ(item.UsagePage, v.UsagePage) << name;
      EXPECT_EQ(item.Status, platform::kHidpStatusSuccess) << name;
    }
  }
}

TEST_F(HidContract, EnumeratesOpensAndLaysOutWinesInterfaces) {
  const Resources before = Resources::Now();
  const auto paths = Paths();
  ASSERT_GE(paths.size(), 2u);
  int wine = 0;
  bool sawMouse = false, sawKeyboard = false;
  for (const auto& path : paths) {
    HidDevice d;
    if (!OpenForReading(d, path.c_str())) {
      Destroy(d);
      continue;
    }
    EXPECT_EQ(d.Attributes.Size, sizeof(platform::HiddAttributes));
    if (d.Attributes.VendorID != kWineVendor) {
      Destroy(d);
      continue;
    }
    ++wine;
    sawMouse |= d.Caps.UsagePage == 1 && d.Caps.Usage == 2;
    sawKeyboard |= d.Caps.UsagePage == 1 && d.Caps.Usage == 6;
    EXPECT_GT(d.Caps.InputReportByteLength, 0);
    ASSERT_EQ(BuildReportTables(d), 1);
    EXPECT_NE(d.InputReportBuffer, nullptr);
    ExpectTableMatchesCaps(d, platform::HidpReportType::Input, "input");
    ExpectTableMatchesCaps(d, platform::HidpReportType::Output, "output");
    ExpectTableMatchesCaps(d, platform::HidpReportType::Feature, "feature");
    std::printf(
        "interface %04x:%04x page %04x usage %04x: input %u bytes, %u button + %u value caps, %u items; "
        "output %u bytes, %u items; feature %u bytes, %u items\n",
        d.Attributes.VendorID, d.Attributes.ProductID, d.Caps.UsagePage, d.Caps.Usage, d.Caps.InputReportByteLength,
        d.Caps.NumberInputButtonCaps, d.Caps.NumberInputValueCaps, d.InputItemCount, d.Caps.OutputReportByteLength,
        d.OutputItemCount, d.Caps.FeatureReportByteLength, d.FeatureItemCount);
    const platform::HidpCaps caps = d.Caps;
    Close(d);
    EXPECT_EQ(d.Handle, nullptr);
    EXPECT_EQ(d.Caps.InputReportByteLength, caps.InputReportByteLength);
    Destroy(d);
  }
  EXPECT_GE(wine, 2);
  EXPECT_TRUE(sawMouse);
  EXPECT_TRUE(sawKeyboard);
  const Resources after = Resources::Now();
  EXPECT_EQ(after.handles, before.handles);
  EXPECT_EQ(after.blocks, before.blocks);
}

TEST_F(HidContract, AnAbsentPathDoesNotOpen) {
  HidDevice d;
  EXPECT_EQ(OpenForReading(d,
                           u"\\\\?\\hid#vid_1c4f&pid_0002&mi_01&col02#7&2f3a1b4c&0&0001#"
                           u"{4d1e55b2-f16f-11cf-88cb-001111000030}"),
            0);
  EXPECT_EQ(d.Handle, nullptr);
  Destroy(d);
}

std::atomic<int> g_reports{0};
std::atomic<int> g_ends{0};
int32_t CountCalls(void*, int32_t hasReport, const uint8_t*, uint32_t) {
  (hasReport ? g_reports : g_ends)++;
  return 0;
}

TEST_F(HidContract, CloseStopsAReaderThatWaitsForAReport) {
  const auto interfaces = WineInterfaces();
  ASSERT_FALSE(interfaces.empty());
  const Resources before = Resources::Now();
  g_reports = 0;
  g_ends = 0;
  HidDevice* d = CreateHidDevice();
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(OpenForReading(*d, interfaces.back().c_str()), 1);
  ASSERT_EQ(StartReading(*d, CountCalls, nullptr), 1);
  // Let the reader get its read under way and wait on it.
  for (int i = 0; i < 5000 && d->ReadPending.load() == 0; ++i) platform::Sleep(1);
  ASSERT_EQ(d->ReadPending.load(), 1u);
  platform::Sleep(20);
  Close(*d);
  EXPECT_EQ(g_ends.load(), 1);
  EXPECT_EQ(d->ReaderThread.load(), nullptr);
  EXPECT_EQ(d->ReadPending.load(), 0u);
  Destroy(*d);
  FreeHidDevice(d);
  EXPECT_EQ(g_ends.load(), 1);
  const Resources after = Resources::Now();
  EXPECT_EQ(after.handles, before.handles);
  EXPECT_EQ(after.blocks, before.blocks);
}

}  // namespace
