// Reading device notices: only a device-interface arrival or removal of the
// watched class yields a path, and nothing outside the broadcast is read.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/device_notice.h"

namespace {

const uint8_t kHidGuid[16] = {0xB2, 0x55, 0x1E, 0x4D, 0x6F, 0xF1, 0xCF, 0x11,
                              0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30};
const uint8_t kOtherGuid[16] = {0xB2, 0x55, 0x1E, 0x4D, 0x6F, 0xF1, 0xCF, 0x11,
                                0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x31};
const char16_t kPath[] =
    u"\\\\?\\HID#VID_1C4F&PID_0002&MI_01&Col01#8&1234&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";

void PutU32(std::vector<uint8_t>& b, size_t at, uint32_t v) { std::memcpy(b.data() + at, &v, 4); }

// A device-interface broadcast laid out as Windows sends it: the fixed part,
// then the name with its NUL; dbcc_size counts all of it.
std::vector<uint8_t> InterfaceBroadcast(const uint8_t* guid, const std::u16string& name,
                                        uint32_t type = kDeviceTypeInterface) {
  std::vector<uint8_t> b(kInterfaceBroadcastNameOffset + (name.size() + 1) * 2, 0);
  PutU32(b, 0, static_cast<uint32_t>(b.size()));
  PutU32(b, 4, type);
  std::memcpy(b.data() + 12, guid, 16);
  std::memcpy(b.data() + kInterfaceBroadcastNameOffset, name.c_str(), (name.size() + 1) * 2);
  return b;
}

// The bytes in a heap block of exactly their size, so AddressSanitizer sees
// any read past them.
std::unique_ptr<uint8_t[]> Exact(const std::vector<uint8_t>& b) {
  std::unique_ptr<uint8_t[]> copy(new uint8_t[b.size() ? b.size() : 1]);
  if (!b.empty()) std::memcpy(copy.get(), b.data(), b.size());
  return copy;
}

DeviceNotice Read(uint32_t event, const std::vector<uint8_t>& b, char16_t* path) {
  auto copy = Exact(b);
  return ReadDeviceNotice(event, copy.get(), b.size(), kHidGuid, path);
}

TEST(DeviceNotice, ArrivalAndRemovalOfTheWatchedClassGiveThePath) {
  const auto b = InterfaceBroadcast(kHidGuid, kPath);
  char16_t path[260] = {};
  EXPECT_EQ(Read(kDeviceArrival, b, path), DeviceNotice::Arrival);
  EXPECT_EQ(std::u16string(path), kPath);
  char16_t again[260] = {};
  EXPECT_EQ(Read(kDeviceRemoveComplete, b, again), DeviceNotice::Removal);
  EXPECT_EQ(std::u16string(again), kPath);
}

TEST(DeviceNotice, AnyOtherBroadcastOrEventIsIgnoredAndLeavesThePathAlone) {
  struct Case {
    const char* name;
    uint32_t event;
    std::vector<uint8_t> bytes;
  };
  std::vector<uint8_t> volume(18, 0);  // DEV_BROADCAST_VOLUME: header, unit mask, flags
  PutU32(volume, 0, 18);
  PutU32(volume, 4, 2);
  auto zeroSize = InterfaceBroadcast(kHidGuid, kPath);
  PutU32(zeroSize, 0, 0);
  auto headerOnly = InterfaceBroadcast(kHidGuid, kPath);
  PutU32(headerOnly, 0, 12);
  auto guidCut = InterfaceBroadcast(kHidGuid, kPath);
  PutU32(guidCut, 0, 27);
  auto noNameRoom = InterfaceBroadcast(kHidGuid, kPath);
  PutU32(noNameRoom, 0, 28);
  auto nameCut = InterfaceBroadcast(kHidGuid, kPath);
  PutU32(nameCut, 0, 28 + 10);  // five code units, no NUL among them
  auto oddSize = InterfaceBroadcast(kHidGuid, u"ab");
  PutU32(oddSize, 0, 28 + 5);  // the NUL's second byte is outside
  std::vector<uint8_t> unterminated = InterfaceBroadcast(kHidGuid, u"abcd");
  unterminated.resize(unterminated.size() - 2);  // drop the NUL
  PutU32(unterminated, 0, static_cast<uint32_t>(unterminated.size()));
  const std::u16string longName(260, u'x');  // a path is at most 259

  const Case cases[] = {
      {"other class", kDeviceArrival, InterfaceBroadcast(kOtherGuid, kPath)},
      {"other class removed", kDeviceRemoveComplete, InterfaceBroadcast(kOtherGuid, kPath)},
      {"nodes changed", 0x0007, InterfaceBroadcast(kHidGuid, kPath)},
      {"query remove", 0x8001, InterfaceBroadcast(kHidGuid, kPath)},
      {"remove pending", 0x8003, InterfaceBroadcast(kHidGuid, kPath)},
      {"volume arrival", kDeviceArrival, volume},
      {"handle type with the class", kDeviceArrival, InterfaceBroadcast(kHidGuid, kPath, 6)},
      {"port type", kDeviceArrival, InterfaceBroadcast(kHidGuid, kPath, 3)},
      {"declared size zero", kDeviceArrival, zeroSize},
      {"header only", kDeviceArrival, headerOnly},
      {"guid cut", kDeviceArrival, guidCut},
      {"no room for a name", kDeviceArrival, noNameRoom},
      {"name cut by the size", kDeviceArrival, nameCut},
      {"odd size", kDeviceArrival, oddSize},
      {"unterminated name", kDeviceArrival, unterminated},
      {"empty name", kDeviceArrival, InterfaceBroadcast(kHidGuid, u"")},
      {"name too long", kDeviceArrival, InterfaceBroadcast(kHidGuid, longName)},
      {"fewer bytes than a header", kDeviceArrival, std::vector<uint8_t>(8, 0)},
      {"no bytes", kDeviceRemoveComplete, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    char16_t path[260];
    std::fill(std::begin(path), std::end(path), u'#');
    EXPECT_EQ(Read(c.event, c.bytes, path), DeviceNotice::None);
    EXPECT_EQ(path[0], u'#');
  }
}

TEST(DeviceNotice, LongestPathIsAccepted) {
  const std::u16string name(259, u'p');
  char16_t path[260] = {};
  EXPECT_EQ(Read(kDeviceArrival, InterfaceBroadcast(kHidGuid, name), path), DeviceNotice::Arrival);
  EXPECT_EQ(std::u16string(path), name);
}

TEST(DeviceNotice, NullBroadcastsAndOtherEventsAreNotTouched) {
  char16_t path[260] = {};
  EXPECT_EQ(ReadDeviceNotice(kDeviceArrival, nullptr, 100, kHidGuid, path), DeviceNotice::None);
  EXPECT_EQ(ReadDeviceNotice(kDeviceRemoveComplete, nullptr, 100, kHidGuid, path), DeviceNotice::None);
  // For other events lParam need not be a pointer at all.
  const void* notAPointer = reinterpret_cast<const void*>(uintptr_t{0x1});
  EXPECT_EQ(ReadDeviceNotice(0x0007, notAPointer, 100, kHidGuid, path), DeviceNotice::None);
  EXPECT_EQ(ReadDeviceNotice(0x0018, notAPointer, 100, kHidGuid, path), DeviceNotice::None);
}

// Every prefix of a real broadcast, in a block of exactly that size, with its
// own size still claiming the whole: no read past the block (ASan) and a
// result only once the NUL is inside.
TEST(DeviceNotice, NoReadPastTheBytesGiven) {
  const auto full = InterfaceBroadcast(kHidGuid, kPath);
  for (size_t n = 0; n <= full.size(); ++n) {
    std::vector<uint8_t> part(full.begin(), full.begin() + static_cast<long>(n));
    char16_t path[260] = {};
    const DeviceNotice got = Read(kDeviceArrival, part, path);
    EXPECT_EQ(got, n == full.size() ? DeviceNotice::Arrival : DeviceNotice::None) << "bytes " << n;
  }
}

// The broadcast's own size limits the read even when more bytes are there:
// the name after dbcc_size is not the device's.
TEST(DeviceNotice, NameBeyondTheDeclaredSizeIsNotRead) {
  auto b = InterfaceBroadcast(kHidGuid, u"abc");
  PutU32(b, 0, 28 + 6);  // "abc" without its NUL
  char16_t path[260] = {};
  EXPECT_EQ(Read(kDeviceArrival, b, path), DeviceNotice::None);
  PutU32(b, 0, 28 + 8);
  EXPECT_EQ(Read(kDeviceArrival, b, path), DeviceNotice::Arrival);
  EXPECT_EQ(std::u16string(path), u"abc");
}

}  // namespace
