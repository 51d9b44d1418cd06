// The character layer: 47 slots, their keys and the texts they type.
//
// Slot i names the key's event in KeyEvents, its two records in the driver's
// key table and the texts typed for it. Slots 0-44 are the character keys,
// 45 and 46 the press and release of the layer key (F24, scan code 0x76).
#pragma once

#include <cstdint>

namespace tavlo {

constexpr int kLayerSlotCount = 47;
constexpr int kCharacterKeyCount = 45;
constexpr int kLayerKeyPressSlot = 45;
constexpr int kLayerKeyReleaseSlot = 46;
constexpr uint8_t kLayerKeyUsage = 0x73;
constexpr uint8_t kLayerKeyScanCode = 0x76;

struct LayerSlot {
  uint8_t Usage;              // HID usage, Keyboard/Keypad page
  uint8_t ScanCode;           // set-1 make code
  const char16_t* Text;       // typed without Shift; never null, may be empty
  const char16_t* ShiftText;  // typed with Shift
};

extern const LayerSlot LayerKeyMap[kLayerSlotCount];

// 256 entries by HID usage: virtual-key code, scan code, key code.
extern const uint8_t (&KeyInfoByUsage)[256][3];
// 256 entries by key code: virtual-key code, scan code, HID usage, class.
extern const uint8_t (&KeyInfoByCode)[256][4];

constexpr uint8_t kKeyClassLetter = 3;

// The key class of a slot, through its usage's key code; 0 for a slot out of
// range.
uint8_t KeyClassOfSlot(int slot);
inline bool IsLetterSlot(int slot) { return KeyClassOfSlot(slot) == kKeyClassLetter; }

}  // namespace tavlo
