// The Consumer-Control report handler: which reports send which layer mode
// to the filter driver, and what it returns, with the driver open, never
// opened and failed to open.
#include <gtest/gtest.h>

#include <vector>

#include "devices/consumer_report.h"
#include "layer/driver_link.h"
#include "tests/devices/devices_fixture.h"

using namespace tavlo;
using namespace tavlo::testing;
namespace sim = platform::sim;

namespace {

constexpr uint8_t kUntouched = 0x5A;  // LayerMode before each case

struct ReportCase {
  const char* name;
  int32_t hasReport;
  Bytes bytes;
  bool nullReport;
  int32_t result;
  std::vector<int> modes;  // sent, in order, when the driver is open
  int layerMode;           // LayerMode afterwards
};

const ReportCase kCases[] = {
    {"held, report ID 1", 1, {0x01, 0xFE, 0x00}, false, 0, {1}, 1},
    {"held, report ID 0", 1, {0x00, 0xFE, 0x00}, false, 0, {1}, 1},
    {"held, report ID 0xFF", 1, {0xFF, 0xFE, 0x00}, false, 0, {1}, 1},
    {"released", 1, {0x01, 0x00, 0x00}, false, 0, {0}, 0},
    {"released, report ID 7", 1, {0x07, 0x00, 0x00}, false, 0, {0}, 0},
    {"value 0x00FD", 1, {0x01, 0xFD, 0x00}, false, 0, {}, kUntouched},
    {"value 0x00FF", 1, {0x01, 0xFF, 0x00}, false, 0, {}, kUntouched},
    {"value 0x0100", 1, {0x01, 0x00, 0x01}, false, 0, {}, kUntouched},
    {"value 0xFE00: the bytes of 0x00FE swapped", 1, {0x01, 0x00, 0xFE}, false, 0, {}, kUntouched},
    {"value 0xFEFE", 1, {0x01, 0xFE, 0xFE}, false, 0, {}, kUntouched},
    {"two bytes", 1, {0x01, 0xFE}, false, 13, {}, kUntouched},
    {"four bytes", 1, {0x01, 0xFE, 0x00, 0x00}, false, 13, {}, kUntouched},
    {"four bytes of release", 1, {0x01, 0x00, 0x00, 0x00}, false, 13, {}, kUntouched},
    {"one byte", 1, {0x01}, false, 13, {}, kUntouched},
    {"no bytes", 1, {}, false, 13, {}, kUntouched},
    {"three bytes claimed, no buffer", 1, {0x01, 0xFE, 0x00}, true, 13, {}, kUntouched},
    {"end notice", 0, {}, true, 0, {}, kUntouched},
    {"end notice with stray arguments", 0, {0x01, 0x00, 0x00}, false, 0, {}, kUntouched},
};

enum class Driver { Open, Null, Invalid };

class ConsumerReport : public DevicesTest, public ::testing::WithParamInterface<Driver> {
 protected:
  void SetUp() override {
    openDriver_ = GetParam() == Driver::Open;
    DevicesTest::SetUp();
    if (GetParam() == Driver::Invalid) DriverHandle = platform::InvalidHandle();
    sim::ClearControlCalls();
  }
};

TEST_P(ConsumerReport, SendsOnlyForTheTwoValuesOfAThreeByteReport) {
  int context = 0;
  for (const ReportCase& c : kCases) {
    SCOPED_TRACE(c.name);
    LayerMode.store(kUntouched);
    sim::ClearControlCalls();
    const uint8_t* report = c.nullReport ? nullptr : c.bytes.data();
    EXPECT_EQ(OnConsumerReport(&context, c.hasReport, report, static_cast<uint32_t>(c.bytes.size())), c.result);
    EXPECT_EQ(ModeCalls(), GetParam() == Driver::Open ? c.modes : std::vector<int>{});
    EXPECT_EQ(sim::ControlCallCount(), GetParam() == Driver::Open ? c.modes.size() : 0u);
    EXPECT_EQ(LayerMode.load(), c.layerMode);
  }
  EXPECT_EQ(context, 0) << "the context is not used";
}

TEST_P(ConsumerReport, EveryQualifyingReportSendsAgain) {
  const uint8_t held[] = {0x01, 0xFE, 0x00};
  const uint8_t released[] = {0x01, 0x00, 0x00};
  for (int i = 0; i < 3; ++i) EXPECT_EQ(OnConsumerReport(nullptr, 1, held, 3), 0);
  for (int i = 0; i < 2; ++i) EXPECT_EQ(OnConsumerReport(nullptr, 1, released, 3), 0);
  EXPECT_EQ(LayerMode.load(), 0);
  EXPECT_EQ(ModeCalls(), GetParam() == Driver::Open ? (std::vector<int>{1, 1, 1, 0, 0}) : std::vector<int>{});
}

INSTANTIATE_TEST_SUITE_P(Driver, ConsumerReport, ::testing::Values(Driver::Open, Driver::Null, Driver::Invalid),
                         [](const ::testing::TestParamInfo<Driver>& info) {
                           return info.param == Driver::Open ? "Open" : info.param == Driver::Null ? "Null" : "Invalid";
                         });

// A failing control call is not retried; the next report sends again.
TEST_F(DevicesTest, AFailedControlCallIsNotRetried) {
  const uint8_t held[] = {0x01, 0xFE, 0x00};
  sim::ClearControlCalls();
  sim::FailCall("DeviceIoControl");
  EXPECT_EQ(OnConsumerReport(nullptr, 1, held, 3), 0);
  EXPECT_TRUE(sim::PlannedFailureHit());
  EXPECT_EQ(OnConsumerReport(nullptr, 1, held, 3), 0);
  const auto calls = sim::ControlCalls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_FALSE(calls[0].succeeded);
  EXPECT_TRUE(calls[1].succeeded);
  EXPECT_EQ(sim::FilterLayerMode(), 1);
}

// After shutdown's CloseKeyFilter a reader still being stopped forwards
// nothing: the handle is null by then.
TEST_F(DevicesTest, AfterTheLinkIsClosedNothingIsSent) {
  const uint8_t released[] = {0x01, 0x00, 0x00};
  CloseKeyFilter();
  sim::ClearControlCalls();
  EXPECT_EQ(OnConsumerReport(nullptr, 1, released, 3), 0);
  EXPECT_EQ(sim::ControlCallCount(), 0u);
  EXPECT_EQ(LayerMode.load(), 0);
}

}  // namespace
