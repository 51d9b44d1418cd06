// Prints the character layer: what each key types while the layer key is held.
//   tavlo-keymap              every slot, its usage, scan code and two texts
//   tavlo-keymap --markdown   the README's table: the 45 character keys and
//                             what each types alone, with Shift, with Caps
//                             Lock and with both (scripts/readme-keys.sh)
//   tavlo-keymap --json       the same for programs, one key a line, with each
//                             key's usage, scan code and US key cap, and the
//                             layer key's (tools/key_chart.py draws the chart)
#include <cstdio>
#include <cstring>
#include <string>

#include "layer/driver_link.h"
#include "layer/key_map.h"
#include "platform/text.h"
#include "tools/key_names.h"

namespace {

// The key as a US keyboard labels it, for the punctuation keys.
const char* const kKeyCaps[tavlo::kCharacterKeyCount - 36] = {"-", "=", "[", "]", "/", ";", ",", ".", "`"};

// The text and its code points; combining marks shown on a dotted circle so
// they stay visible.
std::string Describe(const char16_t* text, const char* nothing) {
  if (!*text) return nothing;
  char code[16];
  std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(text[0]));
  const bool combining = text[0] >= 0x300 && text[0] <= 0x36F;
  return std::string(combining ? "\u25CC" : "") + platform::ToUtf8(text) + "  " + code;
}

std::string MarkdownKey(int slot) {
  if (slot < 36) return tavlo::kKeyNames[slot].label;
  // A backtick is the one cap that Markdown would read as code.
  const char* cap = kKeyCaps[slot - 36];
  return std::string(tavlo::kKeyNames[slot].label) +
         (std::strcmp(cap, "`") == 0 ? " (`` ` ``)" : std::string(" (") + cap + ")");
}

std::string MarkdownCell(const char16_t* text) {
  std::string cell = Describe(text, "nothing");
  const size_t gap = cell.find("  ");
  if (gap != std::string::npos) cell.replace(gap, 2, " ");
  return cell;
}

void PrintMarkdown() {
  std::printf("| Key | Layer key held | with Shift | with Caps Lock | with Caps Lock and Shift |\n");
  std::printf("|---|---|---|---|---|\n");
  for (int slot = 0; slot < tavlo::kCharacterKeyCount; ++slot) {
    std::printf("| %s | %s | %s | %s | %s |\n", MarkdownKey(slot).c_str(),
                MarkdownCell(tavlo::ChooseLayerText(slot, false, false)).c_str(),
                MarkdownCell(tavlo::ChooseLayerText(slot, true, false)).c_str(),
                MarkdownCell(tavlo::ChooseLayerText(slot, false, true)).c_str(),
                MarkdownCell(tavlo::ChooseLayerText(slot, true, true)).c_str());
  }
}

// A JSON string: the text as UTF-8, with quotes, backslashes and control
// characters escaped.
std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string JsonText(const char16_t* text) { return JsonString(platform::ToUtf8(text)); }

std::string UsLegend(int slot) { return slot < 36 ? tavlo::kKeyNames[slot].label : kKeyCaps[slot - 36]; }

void PrintJson() {
  std::printf("{\"layer_key\": {\"usage\": %d, \"scan_code\": %d},\n", tavlo::kLayerKeyUsage, tavlo::kLayerKeyScanCode);
  std::printf(" \"keys\": [\n");
  for (int slot = 0; slot < tavlo::kCharacterKeyCount; ++slot) {
    const tavlo::LayerSlot& s = tavlo::LayerKeyMap[slot];
    std::printf(
        "  {\"slot\": %d, \"name\": %s, \"legend\": %s, \"usage\": %d, \"scan_code\": %d, \"letter\": %s, "
        "\"text\": %s, \"shift\": %s, \"caps\": %s, \"caps_shift\": %s}%s\n",
        slot, JsonString(tavlo::kKeyNames[slot].label).c_str(), JsonString(UsLegend(slot)).c_str(), s.Usage, s.ScanCode,
        tavlo::IsLetterSlot(slot) ? "true" : "false", JsonText(tavlo::ChooseLayerText(slot, false, false)).c_str(),
        JsonText(tavlo::ChooseLayerText(slot, true, false)).c_str(),
        JsonText(tavlo::ChooseLayerText(slot, false, true)).c_str(),
        JsonText(tavlo::ChooseLayerText(slot, true, true)).c_str(), slot + 1 < tavlo::kCharacterKeyCount ? "," : "");
  }
  std::printf(" ]}\n");
}

void PrintSlots() {
  std::printf("%-4s %-20s %-5s %-5s %-14s %s\n", "slot", "key", "usage", "scan", "text", "with Shift");
  for (int slot = 0; slot < tavlo::kLayerSlotCount; ++slot) {
    const tavlo::LayerSlot& s = tavlo::LayerKeyMap[slot];
    std::printf("%-4d %-20s 0x%02X  0x%02X  %-14s %s\n", slot, tavlo::kKeyNames[slot].label, s.Usage, s.ScanCode,
                Describe(s.Text, "(nothing)").c_str(), Describe(s.ShiftText, "(nothing)").c_str());
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--markdown") == 0) {
    PrintMarkdown();
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--json") == 0) {
    PrintJson();
    return 0;
  }
  if (argc != 1) {
    std::fprintf(stderr, "usage: tavlo-keymap [--markdown | --json]\n");
    return 2;
  }
  PrintSlots();
  return 0;
}
