// HID interface enumeration over the simulated SetupAPI: growth of the list,
// failing indices, failures in the middle and the walk with NextPath.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hid/enumeration.h"
#include "hid/hid_device.h"
#include "platform/sim/sim.h"
#include "platform/sim/sim_hid.h"
#include "tests/hid/hid_fixture.h"

using namespace tavlo;
namespace sim = platform::sim;

namespace {

class Enumeration : public HidTest {
 protected:
  // Plugs in n interfaces of another vendor; returns their paths in order.
  static std::vector<std::u16string> Plug(int n) {
    std::vector<std::u16string> paths;
    for (int i = 0; i < n; ++i) {
      const std::u16string path = sim::HidInterfacePath(0x046D, static_cast<uint16_t>(0xC000 + i), -1, -1);
      sim::AddHidInterface(sim::GenericHidInterface(path, 0x046D, static_cast<uint16_t>(0xC000 + i), 1, 2));
      paths.push_back(path);
    }
    return paths;
  }
  static std::vector<std::u16string> Walk(HidDevice& d) {
    std::vector<std::u16string> seen;
    while (const char16_t* path = NextPath(d)) seen.push_back(path);
    return seen;
  }
};

TEST_F(Enumeration, NoInterfacePresent) {
  HidDevice d;
  ASSERT_EQ(EnumerateInterfaces(d), 1);
  EXPECT_EQ(d.PathCount, 0);
  ASSERT_NE(d.PathList, nullptr);  // the first array of 8, all empty
  for (int i = 0; i < 8; ++i) EXPECT_EQ(d.PathList[i], nullptr);
  EXPECT_EQ(NextPath(d), nullptr);
  FreePathList(d);
  EXPECT_EQ(d.PathList, nullptr);
  Destroy(d);
}

TEST_F(Enumeration, EveryPresentPathInOrderAcrossGrowth) {
  for (int n : {1, 7, 8, 9, 16, 17, 40}) {
    const auto paths = Plug(n);
    HidDevice d;
    ASSERT_EQ(EnumerateInterfaces(d), 1) << n;
    EXPECT_EQ(d.PathCount, n);
    EXPECT_EQ(d.PathCursor, 0u);
    EXPECT_EQ(Walk(d), paths) << n;
    EXPECT_EQ(NextPath(d), nullptr);  // and again after the end
    EXPECT_EQ(NextPath(d), nullptr);
    // The array has room up to the next power of two past the count; the
    // entries beyond the count are empty.
    int capacity = 8;
    while (capacity <= n) capacity *= 2;
    for (int i = n; i < capacity; ++i) EXPECT_EQ(d.PathList[i], nullptr) << n << " " << i;
    Destroy(d);
    for (const auto& path : paths) sim::RemoveHidInterface(path);
  }
}

TEST_F(Enumeration, EightInterfacesFillTheFirstArrayAndTheEndComesInTheSecond) {
  Plug(8);
  // Allocation 1 is the array of 8, then a detail and a path per interface;
  // the enlargement to 16 is the first reallocation.
  sim::FailCall("ReallocZeroed");
  HidDevice d;
  EXPECT_EQ(EnumerateInterfaces(d), 0);
  EXPECT_TRUE(sim::PlannedFailureHit());
  EXPECT_EQ(d.PathList, nullptr);
  EXPECT_EQ(d.PathCount, 0);
  sim::ClearFailures();
  ASSERT_EQ(EnumerateInterfaces(d), 1);
  EXPECT_EQ(d.PathCount, 8);
  Destroy(d);
}

TEST_F(Enumeration, AnIndexFailingWithAnotherErrorLeavesAnEmptyEntry) {
  const auto paths = Plug(6);
  sim::FailEnumIndex(3, platform::kErrorInvalidParameter);
  HidDevice d;
  ASSERT_EQ(EnumerateInterfaces(d), 1);
  EXPECT_EQ(d.PathCount, 6);
  EXPECT_EQ(d.PathList[3], nullptr);
  EXPECT_EQ(std::u16string(d.PathList[4]), paths[4]);
  // The empty entry reads as the end of the list.
  EXPECT_EQ(Walk(d), std::vector<std::u16string>(paths.begin(), paths.begin() + 3));
  Destroy(d);
}

TEST_F(Enumeration, AFailureInTheMiddleReleasesEverythingOnce) {
  struct Case {
    const char* name;
    void (*arrange)();
  };
  const Case cases[] = {
      {"detail read fails", [] { sim::FailDetailAt(4, sim::DetailFault::ReadFails); }},
      {"detail size too small", [] { sim::FailDetailAt(4, sim::DetailFault::SizeTooSmall); }},
      {"detail buffer allocation", [] { sim::FailCall("AllocZeroed", 1 + 2 * 4 + 1); }},
      {"path copy allocation", [] { sim::FailCall("AllocZeroed", 1 + 2 * 4 + 2); }},
      {"array allocation", [] { sim::FailCall("AllocZeroed", 1); }},
      {"enlargement", [] { sim::FailCall("ReallocZeroed"); }},
      {"class devices", [] { sim::FailCall("SetupDiGetClassDevs"); }},
  };
  const auto paths = Plug(10);
  for (const Case& c : cases) {
    sim::ResetMachine();
    for (const auto& path : paths) sim::AddHidInterface(sim::GenericHidInterface(path, 0x046D, 1, 1, 2));
    const long blocks = sim::LiveBlockCount();
    HidDevice* d = CreateHidDevice();
    ASSERT_NE(d, nullptr);
    c.arrange();
    EXPECT_EQ(EnumerateInterfaces(*d), 0) << c.name;
    // The planned call failure was reached (detail faults are no calls).
    if (std::string(c.name).rfind("detail read", 0) != 0 && std::string(c.name).rfind("detail size", 0) != 0) {
      EXPECT_TRUE(sim::PlannedFailureHit()) << c.name;
    }
    EXPECT_EQ(d->PathList, nullptr) << c.name;
    EXPECT_EQ(d->PathCount, 0) << c.name;
    EXPECT_EQ(NextPath(*d), nullptr) << c.name;
    EXPECT_EQ(sim::LiveDeviceInfoSetCount(), 0) << c.name;
    FreePathList(*d);
    Destroy(*d);
    FreeHidDevice(d);
    EXPECT_EQ(sim::LiveBlockCount(), blocks) << c.name;
  }
}

TEST_F(Enumeration, APathWithoutItsTerminatorIsTakenWithinTheDetailRecord) {
  const auto paths = Plug(3);
  sim::FailDetailAt(1, sim::DetailFault::Unterminated);
  HidDevice d;
  ASSERT_EQ(EnumerateInterfaces(d), 1);
  ASSERT_EQ(d.PathCount, 3);
  EXPECT_EQ(std::u16string(d.PathList[1]), paths[1]);
  Destroy(d);
}

TEST_F(Enumeration, AListIsASnapshotAndASecondEnumerationReplacesIt) {
  auto paths = Plug(2);
  HidDevice d;
  ASSERT_EQ(EnumerateInterfaces(d), 1);
  sim::RemoveHidInterface(paths[0]);
  EXPECT_EQ(Walk(d), paths);
  ASSERT_EQ(EnumerateInterfaces(d), 1);
  EXPECT_EQ(d.PathCursor, 0u);
  EXPECT_EQ(Walk(d), std::vector<std::u16string>{paths[1]});
  Destroy(d);
}

TEST_F(Enumeration, FillsAnyListAndCount) {
  const auto paths = Plug(3);
  char16_t** list = nullptr;
  int32_t count = -1;
  ASSERT_EQ(EnumerateHidInterfaces(&list, &count), 1);
  ASSERT_EQ(count, 3);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(std::u16string(list[i]), paths[static_cast<size_t>(i)]);
    platform::FreeBlock(list[i]);
  }
  platform::FreeBlock(list);
}

}  // namespace
