// The names of the layer's keys for people, in slot order: the word a
// session uses for a key (tavlo-sim, the Wine session of `make run`) and the
// label tavlo-keymap prints. Developer programs only; Tavlo.exe has no use
// for names.
#pragma once

#include <cstring>

#include "layer/key_map.h"

namespace tavlo {

struct KeyName {
  const char* word;
  const char* label;
};

inline constexpr KeyName kKeyNames[kLayerSlotCount] = {
    {"a", "A"},
    {"b", "B"},
    {"c", "C"},
    {"d", "D"},
    {"e", "E"},
    {"f", "F"},
    {"g", "G"},
    {"h", "H"},
    {"i", "I"},
    {"j", "J"},
    {"k", "K"},
    {"l", "L"},
    {"m", "M"},
    {"n", "N"},
    {"o", "O"},
    {"p", "P"},
    {"q", "Q"},
    {"r", "R"},
    {"s", "S"},
    {"t", "T"},
    {"u", "U"},
    {"v", "V"},
    {"w", "W"},
    {"x", "X"},
    {"y", "Y"},
    {"z", "Z"},
    {"1", "1"},
    {"2", "2"},
    {"3", "3"},
    {"4", "4"},
    {"5", "5"},
    {"6", "6"},
    {"7", "7"},
    {"8", "8"},
    {"9", "9"},
    {"0", "0"},
    {"minus", "minus"},
    {"equals", "equals"},
    {"lbracket", "left bracket"},
    {"rbracket", "right bracket"},
    {"slash", "slash"},
    {"semicolon", "semicolon"},
    {"comma", "comma"},
    {"period", "period"},
    {"grave", "grave accent"},
    {"f24", "layer key (press)"},
    {"f24-up", "layer key (release)"},
};

// The character key a session word names: its slot, or -1.
inline int CharacterKeySlot(const char* word) {
  for (int slot = 0; slot < kCharacterKeyCount; ++slot)
    if (std::strcmp(kKeyNames[slot].word, word) == 0) return slot;
  return -1;
}

}  // namespace tavlo
