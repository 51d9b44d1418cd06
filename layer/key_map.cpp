#include "layer/key_map.h"

namespace tavlo {

const LayerSlot LayerKeyMap[kLayerSlotCount] = {
    {0x04, 0x1E, u"\u028C", u"\u0245"},  // A: turned v
    {0x05, 0x30, u"\u0253", u"\u0181"},  // B: b with hook
    {0x06, 0x2E, u"\u0254", u"\u0186"},  // C: open o
    {0x07, 0x20, u"\u0257", u"\u018A"},  // D: d with hook
    {0x08, 0x12, u"\u04D9", u"\u018E"},  // E: Cyrillic schwa / reversed E
    {0x09, 0x21, u"\u0192", u"\u0191"},  // F: f with hook
    {0x0A, 0x22, u"\u0242", u"\u0241"},  // G: glottal stop
    {0x0B, 0x23, u"\u0127", u"\u040B"},  // H: h with stroke / Cyrillic tshe
    {0x0C, 0x17, u"\u0268", u"\u0197"},  // I: i with stroke
    {0x0D, 0x24, u"\u025F", u"\u0248"},  // J: dotless j with stroke / J with stroke
    {0x0E, 0x25, u"\u0199", u"\u0198"},  // K: k with hook
    {0x0F, 0x26, u"\u0269", u"\u0196"},  // L: iota
    {0x10, 0x32, u"\u0272", u"\u019D"},  // M: n with left hook
    {0x11, 0x31, u"\u014B", u"\u014A"},  // N: eng
    {0x12, 0x18, u"\u0256", u"\u0189"},  // O: d with tail / African D
    {0x13, 0x19, u"\u01A5", u"\u01A4"},  // P: p with hook
    {0x14, 0x10, u"\u0275", u"\u019F"},  // Q: barred o
    {0x15, 0x13, u"\u024D", u"\u024C"},  // R: r with stroke
    {0x16, 0x1F, u"\u0283", u"\u01A9"},  // S: esh
    {0x17, 0x14, u"\u0288", u"\u01AE"},  // T: t with retroflex hook
    {0x18, 0x16, u"\u028A", u"\u01B1"},  // U: upsilon
    {0x19, 0x2F, u"\u028B", u"\u01B2"},  // V: v with hook
    {0x1A, 0x11, u"\u025B", u"\u0190"},  // W: open e
    {0x1B, 0x2D, u"\u0263", u"\u0194"},  // X: gamma
    {0x1C, 0x15, u"\u01B4", u"\u01B3"},  // Y: y with hook
    {0x1D, 0x2C, u"\u04E1", u"\u04E0"},  // Z: Abkhasian dze
    {0x1E, 0x02, u"\u00AC", u"\u0300"},  // 1: not sign / combining grave
    {0x1F, 0x03, u"\u00A4", u"\u0301"},  // 2: currency sign / combining acute
    {0x20, 0x04, u"\u20B5", u"\u0329"},  // 3: cedi / combining vertical line below
    {0x21, 0x05, u"\u00A3", u"\u20AC"},  // 4: pound / euro
    {0x22, 0x06, u"\u20A6", u"\u00B0"},  // 5: naira / degree
    {0x23, 0x07, u"\u0323", u"\u0307"},  // 6: combining dot below / above
    {0x24, 0x08, u"\u0324", u"\u0308"},  // 7: combining diaeresis below / diaeresis
    {0x25, 0x09, u"\u0330", u"\u0303"},  // 8: combining tilde below / tilde
    {0x26, 0x0A, u"\u032D", u"\u0302"},  // 9: combining circumflex below / circumflex
    {0x27, 0x0B, u"\u032C", u"\u030C"},  // 0: combining caron below / caron
    {0x2D, 0x0C, u"\u0331", u"\u0304"},  // minus: combining macron below / macron
    {0x2E, 0x0D, u"\u032A", u"\u0346"},  // equals: combining bridge below / above
    {0x2F, 0x1A, u"", u"\u00B6"},        // left bracket: pilcrow with Shift only
    {0x30, 0x1B, u"", u"\u03BC"},        // right bracket: mu with Shift only
    {0x38, 0x35, u"\u00E6", u"\u00C6"},  // slash: ae
    {0x33, 0x27, u"\u0153", u"\u0152"},  // semicolon: oe
    {0x36, 0x33, u"", u"\u00AB"},        // comma: left guillemet with Shift only
    {0x37, 0x34, u"", u"\u00BB"},        // period: right guillemet with Shift only
    {0x35, 0x29, u"\u00A7", u"\u0327"},  // grave accent: section / combining cedilla
    {0x73, 0x76, u"", u""},              // layer key pressed
    {0x73, 0x76, u"", u""},              // layer key released
};

namespace {

// Virtual-key code, scan code and key code of the keys the layer uses; the
// tables below are built from this list, and entries no slot reaches stay
// zero.
struct KeyRow {
  uint8_t Usage, Vk, Scan, Code;
};
constexpr KeyRow kKeys[] = {
    {0x04, 0x41, 0x1E, 0x41}, {0x05, 0x42, 0x30, 0x42}, {0x06, 0x43, 0x2E, 0x43}, {0x07, 0x44, 0x20, 0x44},
    {0x08, 0x45, 0x12, 0x45}, {0x09, 0x46, 0x21, 0x46}, {0x0A, 0x47, 0x22, 0x47}, {0x0B, 0x48, 0x23, 0x48},
    {0x0C, 0x49, 0x17, 0x49}, {0x0D, 0x4A, 0x24, 0x4A}, {0x0E, 0x4B, 0x25, 0x4B}, {0x0F, 0x4C, 0x26, 0x4C},
    {0x10, 0x4D, 0x32, 0x4D}, {0x11, 0x4E, 0x31, 0x4E}, {0x12, 0x4F, 0x18, 0x4F}, {0x13, 0x50, 0x19, 0x50},
    {0x14, 0x51, 0x10, 0x51}, {0x15, 0x52, 0x13, 0x52}, {0x16, 0x53, 0x1F, 0x53}, {0x17, 0x54, 0x14, 0x54},
    {0x18, 0x55, 0x16, 0x55}, {0x19, 0x56, 0x2F, 0x56}, {0x1A, 0x57, 0x11, 0x57}, {0x1B, 0x58, 0x2D, 0x58},
    {0x1C, 0x59, 0x15, 0x59}, {0x1D, 0x5A, 0x2C, 0x5A}, {0x1E, 0x31, 0x02, 0x31}, {0x1F, 0x32, 0x03, 0x32},
    {0x20, 0x33, 0x04, 0x33}, {0x21, 0x34, 0x05, 0x34}, {0x22, 0x35, 0x06, 0x35}, {0x23, 0x36, 0x07, 0x36},
    {0x24, 0x37, 0x08, 0x37}, {0x25, 0x38, 0x09, 0x38}, {0x26, 0x39, 0x0A, 0x39}, {0x27, 0x30, 0x0B, 0x30},
    {0x2D, 0xBD, 0x0C, 0x2D}, {0x2E, 0xBB, 0x0D, 0x3D}, {0x2F, 0xDB, 0x1A, 0x5B}, {0x30, 0xDD, 0x1B, 0x5D},
    {0x33, 0xBA, 0x27, 0x3B}, {0x35, 0xC0, 0x29, 0x60}, {0x36, 0xBC, 0x33, 0x2C}, {0x37, 0xBE, 0x34, 0x2E},
    {0x38, 0xBF, 0x35, 0x2F}, {0x73, 0x87, 0x76, 0x87},
};

struct Tables {
  uint8_t ByUsage[256][3];
  uint8_t ByCode[256][4];
};

constexpr Tables BuildTables() {
  Tables t{};
  for (const KeyRow& k : kKeys) {
    t.ByUsage[k.Usage][0] = k.Vk;
    t.ByUsage[k.Usage][1] = k.Scan;
    t.ByUsage[k.Usage][2] = k.Code;
    const bool letter = k.Code >= 0x41 && k.Code <= 0x5A;
    const uint8_t cls = letter ? kKeyClassLetter : 0;
    t.ByCode[k.Code][0] = k.Vk;
    t.ByCode[k.Code][1] = k.Scan;
    t.ByCode[k.Code][2] = k.Usage;
    t.ByCode[k.Code][3] = cls;
    if (letter) {  // lower-case codes hold the same entries as the capitals
      const int lower = k.Code + 0x20;
      for (int i = 0; i < 4; ++i) t.ByCode[lower][i] = t.ByCode[k.Code][i];
    }
  }
  return t;
}

constexpr Tables kTables = BuildTables();

}  // namespace

const uint8_t (&KeyInfoByUsage)[256][3] = kTables.ByUsage;
const uint8_t (&KeyInfoByCode)[256][4] = kTables.ByCode;

uint8_t KeyClassOfSlot(int slot) {
  if (slot < 0 || slot >= kLayerSlotCount) return 0;
  const uint8_t code = KeyInfoByUsage[LayerKeyMap[slot].Usage][2];
  return KeyInfoByCode[code][3];
}

}  // namespace tavlo
