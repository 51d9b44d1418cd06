// The driver's key table, the transition flags and the choice of text: pure
// logic, run natively and under Wine. The expected table is encoded here byte
// by byte from the driver's record format, not through the system's record.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "layer/driver_link.h"

using namespace tavlo;

namespace {

// Make codes of the 45 character keys in slot order (A-Z, 1-9, 0, minus,
// equals, left bracket, right bracket, slash, semicolon, comma, period, grave).
const uint8_t kMakeCodes[45] = {0x1E, 0x30, 0x2E, 0x20, 0x12, 0x21, 0x22, 0x23, 0x17, 0x24, 0x25, 0x26,
                                0x32, 0x31, 0x18, 0x19, 0x10, 0x13, 0x1F, 0x14, 0x16, 0x2F, 0x11, 0x2D,
                                0x15, 0x2C, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B,
                                0x0C, 0x0D, 0x1A, 0x1B, 0x35, 0x27, 0x33, 0x34, 0x29};

void PutLe(std::vector<uint8_t>& out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void PutRecord(std::vector<uint8_t>& out, uint32_t action, uint16_t makeCode, uint16_t flags, uint64_t event) {
  PutLe(out, action, 4);
  PutLe(out, makeCode, 2);
  PutLe(out, flags, 2);
  PutLe(out, 0, 4);
  PutLe(out, 0, 4);
  PutLe(out, event, 8);
}

std::vector<uint8_t> EncodeTable(const platform::Handle* events, unsigned widthBits) {
  auto widen = [widthBits](platform::Handle h) {
    return platform::SignExtendHandleValue(reinterpret_cast<uintptr_t>(h), widthBits);
  };
  std::vector<uint8_t> out;
  for (int i = 0; i < 45; ++i) {
    PutRecord(out, 0x00010201, kMakeCodes[i], 0, widen(events[i]));
    PutRecord(out, 0x00010200, kMakeCodes[i], 1, widen(events[i]));
  }
  PutRecord(out, 0x00000001, 0x76, 0, widen(events[45]));
  PutRecord(out, 0x00000001, 0x76, 1, widen(events[46]));
  return out;
}

std::vector<uint8_t> BytesOf(const KeyFilterTable& table) {
  std::vector<uint8_t> bytes(sizeof table);
  std::memcpy(bytes.data(), &table, sizeof table);
  return bytes;
}

platform::Handle FakeHandle(uint64_t value) {
  return reinterpret_cast<platform::Handle>(static_cast<uintptr_t>(value));
}

}  // namespace

TEST(ScanCodeFlags, Rows) {
  struct Row {
    uint8_t scanCode;
    uint16_t press;
    uint16_t release;
  };
  const Row rows[] = {
      {0x1E, 0, 1}, {0x76, 0, 1}, {0x00, 0, 1}, {0x7F, 0, 1},                // plain keys
      {0x45, 4, 5},                                                          // E1 (Pause)
      {0x71, 1, 1}, {0x72, 1, 1},                                            // always a break
      {0xB6, 0, 1}, {0xC5, 0, 1},                                            // bit 7 set but no E0
      {0xC8, 2, 3}, {0x80, 2, 3}, {0xFF, 2, 3}, {0xB5, 2, 3}, {0xC6, 2, 3},  // E0 keys
  };
  for (const Row& row : rows) {
    EXPECT_EQ(ScanCodeFlags(row.scanCode, true), row.press) << "press of 0x" << std::hex << int{row.scanCode};
    EXPECT_EQ(ScanCodeFlags(row.scanCode, false), row.release) << "release of 0x" << std::hex << int{row.scanCode};
  }
}

TEST(KeyFilterTable, MatchesTheDriverFormatByteForByte) {
  platform::Handle events[kLayerSlotCount];
  for (int i = 0; i < kLayerSlotCount; ++i) events[i] = FakeHandle(0x1000 + 4 * static_cast<uint64_t>(i) * 0x11);
  KeyFilterTable table;
  std::memset(&table, 0xCD, sizeof table);  // nothing may be left over
  FillKeyFilterTable(table, events);
  const std::vector<uint8_t> expected = EncodeTable(events, sizeof(platform::Handle) * 8);
  ASSERT_EQ(expected.size(), 2208u);
  EXPECT_EQ(BytesOf(table), expected);
}

TEST(KeyFilterTable, RecordsOneAndNinetyOneAndTheLayerKey) {
  platform::Handle events[kLayerSlotCount];
  for (int i = 0; i < kLayerSlotCount; ++i) events[i] = FakeHandle(0x200 + 4 * static_cast<uint64_t>(i));
  KeyFilterTable table;
  FillKeyFilterTable(table, events);
  const std::vector<uint8_t> bytes = BytesOf(table);
  // Record 1: the release of A, not reported by the driver.
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 24, bytes.begin() + 32),
            (std::vector<uint8_t>{0x00, 0x02, 0x01, 0x00, 0x1E, 0x00, 0x01, 0x00}));
  // Record 90 and 91: the layer key's press and release, Action 1 both.
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 90 * 24, bytes.begin() + 90 * 24 + 8),
            (std::vector<uint8_t>{0x01, 0x00, 0x00, 0x00, 0x76, 0x00, 0x00, 0x00}));
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 91 * 24, bytes.begin() + 91 * 24 + 8),
            (std::vector<uint8_t>{0x01, 0x00, 0x00, 0x00, 0x76, 0x00, 0x01, 0x00}));
  EXPECT_EQ(table.Records[90].Event, 0x200u + 4 * 45);
  EXPECT_EQ(table.Records[91].Event, 0x200u + 4 * 46);
  // Both records of a character key carry its event.
  EXPECT_EQ(table.Records[12].Event, table.Records[13].Event);
  EXPECT_EQ(table.Records[12].Event, 0x200u + 4 * 6);
}

TEST(KeyFilterTable, ThirtyTwoBitHandlesAreSignExtended) {
  platform::Handle events[kLayerSlotCount];
  for (int i = 0; i < kLayerSlotCount; ++i) {
    // Alternate handles with bit 31 set and plain small ones.
    const uint64_t value =
        (i % 2) ? 0x80000000u + 8 * static_cast<uint64_t>(i) : 0x7FFFFF00u + 4 * static_cast<uint64_t>(i);
    events[i] = FakeHandle(value);
  }
  KeyFilterTable table;
  FillKeyFilterTable(table, events, 32);
  EXPECT_EQ(BytesOf(table), EncodeTable(events, 32));
  EXPECT_EQ(table.Records[2].Event, 0xFFFFFFFF80000008ull) << "slot 1's handle fills the upper half with ones";
  EXPECT_EQ(table.Records[0].Event, 0x7FFFFF00ull) << "slot 0's handle stays as it is";
  EXPECT_EQ(table.Records[91].Event, 0x7FFFFF00ull + 4 * 46);
}

TEST(ChooseLayerText, ShiftAndCapsLockOverEverySlot) {
  // Shift down, Caps Lock on -> whether a letter and whether another key use
  // the text with Shift.
  struct Rule {
    bool shift;
    bool caps;
    bool letterShifted;
    bool otherShifted;
  };
  const Rule rules[] = {
      {false, false, false, false},
      {true, false, true, true},
      {false, true, true, false},
      {true, true, false, true},
  };
  for (const Rule& rule : rules) {
    for (int slot = 0; slot < kCharacterKeyCount; ++slot) {
      const bool letter = slot <= 25;
      const bool shifted = letter ? rule.letterShifted : rule.otherShifted;
      const char16_t* expected = shifted ? LayerKeyMap[slot].ShiftText : LayerKeyMap[slot].Text;
      EXPECT_EQ(ChooseLayerText(slot, rule.shift, rule.caps), expected)
          << "slot " << slot << " shift " << rule.shift << " caps " << rule.caps;
    }
  }
  EXPECT_EQ(ChooseLayerText(0, false, true)[0], u'\u0245');
  EXPECT_EQ(ChooseLayerText(0, true, true)[0], u'\u028C');
  EXPECT_EQ(ChooseLayerText(26, false, true)[0], u'\u00AC');
  EXPECT_EQ(ChooseLayerText(38, false, false)[0], u'\0');
  EXPECT_EQ(ChooseLayerText(38, true, false)[0], u'\u00B6');
  for (int slot : {-1, 45, 46, 47, 1000}) EXPECT_EQ(ChooseLayerText(slot, true, false)[0], u'\0') << slot;
}
