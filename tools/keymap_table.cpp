// Prints the character layer as a table: what each key types while the layer
// key is held.
#include <cstdio>
#include <string>

#include "layer/key_map.h"
#include "platform/text.h"
#include "tools/key_names.h"

namespace {

std::string Describe(const char16_t* text) {
  if (!*text) return "(nothing)";
  char code[16];
  std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(text[0]));
  // Combining marks are shown on a dotted circle so they stay visible.
  const bool combining = text[0] >= 0x300 && text[0] <= 0x36F;
  return std::string(combining ? "\u25CC" : "") + platform::ToUtf8(text) + "  " + code;
}

}  // namespace

int main() {
  std::printf("%-4s %-20s %-5s %-5s %-14s %s\n", "slot", "key", "usage", "scan", "text", "with Shift");
  for (int slot = 0; slot < tavlo::kLayerSlotCount; ++slot) {
    const tavlo::LayerSlot& s = tavlo::LayerKeyMap[slot];
    std::printf("%-4d %-20s 0x%02X  0x%02X  %-14s %s\n", slot, tavlo::kKeyNames[slot].label, s.Usage, s.ScanCode,
                Describe(s.Text).c_str(), Describe(s.ShiftText).c_str());
  }
  return 0;
}
