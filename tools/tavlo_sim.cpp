// tavlo-sim: runs the system's own subsystem code against the simulated
// machine and plays a session of user actions on it.
//
//   tavlo-sim [--trace] [--no-driver] [ACTION ...]
//
// Actions come from the arguments, or from standard input (whitespace-
// separated, '#' starts a comment) when there are none. Each action completes
// and the system settles before the next. Standard output: with --trace, one
// line per action of the system towards the outside world; then the text the
// system typed, as UTF-8, and a newline.
#include <cstdio>
#include <cstring>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "app/system.h"
#include "devices/keyboard_list.h"
#include "layer/key_map.h"
#include "platform/sim/sim.h"
#include "platform/sim/sim_driver.h"
#include "platform/sim/sim_hid.h"
#include "platform/sim/sim_input.h"
#include "platform/sim/sim_trace.h"
#include "platform/text.h"
#include "tools/key_names.h"

namespace {

namespace sim = platform::sim;

// ---- the actions ----
//
// One row per action word. A row whose name ends in ':' takes the text after
// the colon as its argument (e.g. "report:01fe00"); `parse` checks it before
// anything runs, `run` performs the action.

struct Action {
  const char* name;
  const char* help;
  bool (*parse)(const std::string& argument);  // null: takes no argument
  void (*run)(const std::string& argument);
};

constexpr uint8_t kLayerKeyScanCode = 0x76;

// The one keyboard of the model on the simulated machine; attached at start.
sim::ModelKeyboardPaths g_keyboard;
bool g_keyboardAttached = false;

// A report on the keyboard's Consumer-Control interface. A keyboard that is
// unplugged sends nothing.
void SendConsumerReport(const std::vector<uint8_t>& report) {
  if (g_keyboardAttached) sim::PushInputReport(g_keyboard.consumerControl, report);
}

// The device notices the main window passes on, one per interface path.
void PlugKeyboard() {
  if (g_keyboardAttached) return;
  g_keyboard = sim::AttachModelKeyboard(1);
  g_keyboardAttached = true;
  tavlo::AddKeyboardInterface(g_keyboard.consumerControl.c_str(), nullptr);
  tavlo::AddKeyboardInterface(g_keyboard.keyboard.c_str(), nullptr);
}

void UnplugKeyboard() {
  if (!g_keyboardAttached) return;
  sim::DetachModelKeyboard(g_keyboard);
  g_keyboardAttached = false;
  tavlo::RemoveKeyboardInterface(g_keyboard.consumerControl.c_str());
  tavlo::RemoveKeyboardInterface(g_keyboard.keyboard.c_str());
}

// "report:HEX": 1 to 64 bytes, two hex digits each.
constexpr size_t kMaxReportBytes = 64;

bool ParseReport(const std::string& hex, std::vector<uint8_t>* bytes) {
  if (hex.empty() || hex.size() % 2 != 0 || hex.size() / 2 > kMaxReportBytes) return false;
  const auto nibble = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::vector<uint8_t> out;
  for (size_t i = 0; i < hex.size(); i += 2) {
    const int high = nibble(hex[i]);
    const int low = nibble(hex[i + 1]);
    if (high < 0 || low < 0) return false;
    out.push_back(static_cast<uint8_t>(high * 16 + low));
  }
  if (bytes) *bytes = out;
  return true;
}

const Action kActions[] = {
    {"f24", "make of the layer key (scan code 0x76) at the filter driver", nullptr,
     [](const std::string&) { sim::PressScanCode(kLayerKeyScanCode); }},
    {"f24-up", "break of the layer key at the filter driver", nullptr,
     [](const std::string&) { sim::ReleaseScanCode(kLayerKeyScanCode); }},
    {"shift", "Shift down", nullptr, [](const std::string&) { sim::SetShiftDown(true); }},
    {"shift-up", "Shift up", nullptr, [](const std::string&) { sim::SetShiftDown(false); }},
    {"caps", "toggle Caps Lock", nullptr, [](const std::string&) { sim::ToggleCapsLock(); }},
    {"hold", "the keyboard's layer key held: Consumer-Control report 01 fe 00", nullptr,
     [](const std::string&) {
       SendConsumerReport({0x01, 0xFE, 0x00});
     }},
    {"release", "the keyboard's layer key released: Consumer-Control report 01 00 00", nullptr,
     [](const std::string&) {
       SendConsumerReport({0x01, 0x00, 0x00});
     }},
    {"plug", "the keyboard arrives, with its device notices (nothing if it is attached)", nullptr,
     [](const std::string&) { PlugKeyboard(); }},
    {"unplug", "the keyboard leaves, with its device notices (nothing if it is not attached)", nullptr,
     [](const std::string&) { UnplugKeyboard(); }},
    {"report:",
     "HEX: one raw input report of 1-64 bytes on the Consumer-Control interface,\n"
     "             e.g. report:01fe00",
     [](const std::string& argument) { return ParseReport(argument, nullptr); },
     [](const std::string& argument) {
       std::vector<uint8_t> bytes;
       if (ParseReport(argument, &bytes)) SendConsumerReport(bytes);
     }},
};

// One action of the session, resolved before the session starts.
struct Step {
  const Action* action = nullptr;  // or a key
  int keySlot = -1;
  std::string argument;
};

bool Resolve(const std::string& word, Step* step) {
  for (const Action& action : kActions) {
    const size_t length = std::strlen(action.name);
    const bool takesArgument = length > 0 && action.name[length - 1] == ':';
    if (takesArgument ? word.compare(0, length, action.name) == 0 : word == action.name) {
      step->action = &action;
      step->argument = takesArgument ? word.substr(length) : std::string();
      return !takesArgument || (action.parse != nullptr && action.parse(step->argument));
    }
  }
  step->keySlot = tavlo::CharacterKeySlot(word.c_str());
  return step->keySlot >= 0;
}

void Perform(const Step& step) {
  if (step.action != nullptr) {
    step.action->run(step.argument);
  } else {
    const uint8_t scanCode = tavlo::LayerKeyMap[step.keySlot].ScanCode;
    sim::PressScanCode(scanCode);
    if (!sim::WaitForQuiescence()) return;
    sim::ReleaseScanCode(scanCode);
  }
}

void Usage(std::FILE* out) {
  std::fprintf(out, "usage: tavlo-sim [--trace] [--no-driver] [ACTION ...]\n\nactions:\n");
  for (const Action& action : kActions) std::fprintf(out, "  %-10s %s\n", action.name, action.help);
  std::fprintf(out,
               "  a-z 0-9 minus equals lbracket rbracket slash semicolon comma period grave\n"
               "             press and release of that key at the filter driver\n"
               "Without actions, they are read from standard input ('#' starts a comment).\n");
}

std::vector<std::string> ReadWords(std::istream& in) {
  std::vector<std::string> words;
  std::string line;
  while (std::getline(in, line)) {
    const size_t comment = line.find('#');
    if (comment != std::string::npos) line.erase(comment);
    std::istringstream split(line);
    for (std::string word; split >> word;) words.push_back(word);
  }
  return words;
}

}  // namespace

int main(int argc, char** argv) {
  bool trace = false;
  bool driver = true;
  std::vector<std::string> words;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--trace") {
      trace = true;
    } else if (arg == "--no-driver") {
      driver = false;
    } else if (arg == "--help" || arg == "-h") {
      Usage(stdout);
      return 0;
    } else if (arg.size() > 1 && arg[0] == '-') {
      std::fprintf(stderr, "tavlo-sim: unknown option '%s'\n", arg.c_str());
      Usage(stderr);
      return 2;
    } else {
      words.push_back(arg);
    }
  }
  if (words.empty()) words = ReadWords(std::cin);

  std::vector<Step> steps(words.size());
  for (size_t i = 0; i < words.size(); ++i) {
    if (!Resolve(words[i], &steps[i])) {
      std::fprintf(stderr, "tavlo-sim: unknown action '%s'\n", words[i].c_str());
      return 2;
    }
  }

  sim::ResetMachine();
  sim::SetFilterDriverPresent(driver);
  sim::SetShiftDown(false);
  sim::SetCapsLock(false);
  g_keyboard = sim::AttachModelKeyboard(1);
  g_keyboardAttached = true;

  int status = 0;
  CreateSystemEvents();  // as the main window starts, without a window
  StartSystem(nullptr);
  if (!sim::WaitForQuiescence()) status = 3;
  for (size_t i = 0; i < steps.size() && status == 0; ++i) {
    Perform(steps[i]);
    if (!sim::WaitForQuiescence()) {
      std::fprintf(stderr, "tavlo-sim: the system did not settle after '%s'\n", words[i].c_str());
      status = 3;
    }
  }
  StopSystem();
  CloseSystemEvents();

  if (trace)
    for (const std::string& line : sim::TraceLines()) std::printf("%s\n", line.c_str());
  std::printf("%s\n", platform::ToUtf8(sim::TypedText().c_str()).c_str());
  return status;
}
