// The layer's keys and texts, checked against a listing written out by hand
// from the layout that users learn, not derived from the code.
#include <gtest/gtest.h>

#include "layer/key_map.h"
#include "platform/text.h"

using namespace tavlo;

namespace {

struct Expected {
  const char* key;
  uint8_t usage;
  uint8_t scan;
  char16_t text;  // 0: nothing
  char16_t shift;
};

// Two keys a row.
// clang-format off
const Expected kListing[kLayerSlotCount] = {
    {"A", 0x04, 0x1E, 0x028C, 0x0245}, {"B", 0x05, 0x30, 0x0253, 0x0181},
    {"C", 0x06, 0x2E, 0x0254, 0x0186}, {"D", 0x07, 0x20, 0x0257, 0x018A},
    {"E", 0x08, 0x12, 0x04D9, 0x018E}, {"F", 0x09, 0x21, 0x0192, 0x0191},
    {"G", 0x0A, 0x22, 0x0242, 0x0241}, {"H", 0x0B, 0x23, 0x0127, 0x040B},
    {"I", 0x0C, 0x17, 0x0268, 0x0197}, {"J", 0x0D, 0x24, 0x025F, 0x0248},
    {"K", 0x0E, 0x25, 0x0199, 0x0198}, {"L", 0x0F, 0x26, 0x0269, 0x0196},
    {"M", 0x10, 0x32, 0x0272, 0x019D}, {"N", 0x11, 0x31, 0x014B, 0x014A},
    {"O", 0x12, 0x18, 0x0256, 0x0189}, {"P", 0x13, 0x19, 0x01A5, 0x01A4},
    {"Q", 0x14, 0x10, 0x0275, 0x019F}, {"R", 0x15, 0x13, 0x024D, 0x024C},
    {"S", 0x16, 0x1F, 0x0283, 0x01A9}, {"T", 0x17, 0x14, 0x0288, 0x01AE},
    {"U", 0x18, 0x16, 0x028A, 0x01B1}, {"V", 0x19, 0x2F, 0x028B, 0x01B2},
    {"W", 0x1A, 0x11, 0x025B, 0x0190}, {"X", 0x1B, 0x2D, 0x0263, 0x0194},
    {"Y", 0x1C, 0x15, 0x01B4, 0x01B3}, {"Z", 0x1D, 0x2C, 0x04E1, 0x04E0},
    {"1", 0x1E, 0x02, 0x00AC, 0x0300}, {"2", 0x1F, 0x03, 0x00A4, 0x0301},
    {"3", 0x20, 0x04, 0x20B5, 0x0329}, {"4", 0x21, 0x05, 0x00A3, 0x20AC},
    {"5", 0x22, 0x06, 0x20A6, 0x00B0}, {"6", 0x23, 0x07, 0x0323, 0x0307},
    {"7", 0x24, 0x08, 0x0324, 0x0308}, {"8", 0x25, 0x09, 0x0330, 0x0303},
    {"9", 0x26, 0x0A, 0x032D, 0x0302}, {"0", 0x27, 0x0B, 0x032C, 0x030C},
    {"minus", 0x2D, 0x0C, 0x0331, 0x0304}, {"equals", 0x2E, 0x0D, 0x032A, 0x0346},
    {"left bracket", 0x2F, 0x1A, 0, 0x00B6}, {"right bracket", 0x30, 0x1B, 0, 0x03BC},
    {"slash", 0x38, 0x35, 0x00E6, 0x00C6}, {"semicolon", 0x33, 0x27, 0x0153, 0x0152},
    {"comma", 0x36, 0x33, 0, 0x00AB}, {"period", 0x37, 0x34, 0, 0x00BB},
    {"grave accent", 0x35, 0x29, 0x00A7, 0x0327},
    {"layer key press", 0x73, 0x76, 0, 0}, {"layer key release", 0x73, 0x76, 0, 0},
};
// clang-format on

void ExpectText(const char16_t* actual, char16_t expected, const char* key, const char* which) {
  ASSERT_NE(actual, nullptr) << key << " " << which;
  if (expected == 0) {
    EXPECT_EQ(actual[0], 0) << key << " " << which << " should type nothing";
  } else {
    EXPECT_EQ(actual[0], expected) << key << " " << which;
    EXPECT_EQ(actual[1], 0) << key << " " << which << " should be one code unit";
  }
}

}  // namespace

TEST(LayerKeyMap, EverySlotMatchesTheListing) {
  for (int slot = 0; slot < kLayerSlotCount; ++slot) {
    const Expected& e = kListing[slot];
    const LayerSlot& s = LayerKeyMap[slot];
    EXPECT_EQ(s.Usage, e.usage) << e.key;
    EXPECT_EQ(s.ScanCode, e.scan) << e.key;
    ExpectText(s.Text, e.text, e.key, "text");
    ExpectText(s.ShiftText, e.shift, e.key, "text with Shift");
  }
}

TEST(LayerKeyMap, TextsAreSingleBmpCodeUnitsAndNoSurrogates) {
  for (const LayerSlot& s : LayerKeyMap) {
    for (const char16_t* t : {s.Text, s.ShiftText}) {
      EXPECT_LE(platform::TextLength(t), 1u);
      EXPECT_FALSE(t[0] >= 0xD800 && t[0] <= 0xDFFF);
    }
  }
}

TEST(LayerKeyMap, ExactlyTheFourShiftOnlyKeysTypeNothingUnshifted) {
  std::vector<int> empty;
  for (int slot = 0; slot < kCharacterKeyCount; ++slot)
    if (LayerKeyMap[slot].Text[0] == 0) empty.push_back(slot);
  EXPECT_EQ(empty, (std::vector<int>{38, 39, 42, 43}));
  for (int slot : empty) EXPECT_EQ(platform::TextLength(LayerKeyMap[slot].ShiftText), 1u);
}

TEST(LayerKeyMap, LettersAreExactlySlotsZeroToTwentyFive) {
  for (int slot = 0; slot < kLayerSlotCount; ++slot) {
    const uint8_t expected = slot <= 25 ? 3 : 0;
    EXPECT_EQ(KeyClassOfSlot(slot), expected) << "slot " << slot;
    EXPECT_EQ(IsLetterSlot(slot), slot <= 25) << "slot " << slot;
  }
  EXPECT_EQ(KeyClassOfSlot(-1), 0);
  EXPECT_EQ(KeyClassOfSlot(kLayerSlotCount), 0);
}

TEST(LayerKeyMap, KeyInformationTablesAgreeWithTheSlots) {
  for (int slot = 0; slot < kLayerSlotCount; ++slot) {
    const LayerSlot& s = LayerKeyMap[slot];
    const uint8_t* byUsage = KeyInfoByUsage[s.Usage];
    EXPECT_EQ(byUsage[1], s.ScanCode) << "slot " << slot;
    const uint8_t* byCode = KeyInfoByCode[byUsage[2]];
    EXPECT_EQ(byCode[2], s.Usage) << "slot " << slot << ": key code leads back to the usage";
    EXPECT_EQ(byCode[0], byUsage[0]) << "slot " << slot;
    EXPECT_EQ(byCode[1], byUsage[1]) << "slot " << slot;
  }
}

TEST(LayerKeyMap, KeyCodesAndVirtualKeysOfNamedKeys) {
  struct Row {
    uint8_t usage, vk, scan, code;
  } rows[] = {
      {0x04, 0x41, 0x1E, 0x41}, {0x1D, 0x5A, 0x2C, 0x5A}, {0x1E, 0x31, 0x02, 0x31}, {0x27, 0x30, 0x0B, 0x30},
      {0x2D, 0xBD, 0x0C, 0x2D}, {0x2E, 0xBB, 0x0D, 0x3D}, {0x2F, 0xDB, 0x1A, 0x5B}, {0x30, 0xDD, 0x1B, 0x5D},
      {0x33, 0xBA, 0x27, 0x3B}, {0x35, 0xC0, 0x29, 0x60}, {0x36, 0xBC, 0x33, 0x2C}, {0x37, 0xBE, 0x34, 0x2E},
      {0x38, 0xBF, 0x35, 0x2F}, {0x73, 0x87, 0x76, 0x87},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(KeyInfoByUsage[r.usage][0], r.vk) << std::hex << int(r.usage);
    EXPECT_EQ(KeyInfoByUsage[r.usage][1], r.scan) << std::hex << int(r.usage);
    EXPECT_EQ(KeyInfoByUsage[r.usage][2], r.code) << std::hex << int(r.usage);
  }
  // Lower-case letter codes mirror the capitals.
  for (int c = 0x41; c <= 0x5A; ++c)
    for (int i = 0; i < 4; ++i) EXPECT_EQ(KeyInfoByCode[c + 0x20][i], KeyInfoByCode[c][i]);
  // A usage that names no key is all zero.
  for (int i = 0; i < 3; ++i) EXPECT_EQ(KeyInfoByUsage[0x00][i], 0);
}
