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

#include "layer/driver_link.h"
#include "layer/key_map.h"
#include "platform/sim/sim.h"
#include "platform/sim/sim_driver.h"
#include "platform/sim/sim_input.h"
#include "platform/sim/sim_trace.h"
#include "tools/utf8.h"

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

const Action kActions[] = {
    {"f24", "make of the layer key (scan code 0x76) at the filter driver", nullptr,
     [](const std::string&) { sim::PressScanCode(kLayerKeyScanCode); }},
    {"f24-up", "break of the layer key at the filter driver", nullptr,
     [](const std::string&) { sim::ReleaseScanCode(kLayerKeyScanCode); }},
    {"shift", "Shift down", nullptr, [](const std::string&) { sim::SetShiftDown(true); }},
    {"shift-up", "Shift up", nullptr, [](const std::string&) { sim::SetShiftDown(false); }},
    {"caps", "toggle Caps Lock", nullptr, [](const std::string&) { sim::ToggleCapsLock(); }},
    // The keyboard's own actions (hold, release, plug, unplug, report:HEX)
    // join this table with the keyboard list.
};

// The character keys by name, in slot order: press and release at the driver.
const char* const kKeyNames[tavlo::kCharacterKeyCount] = {
    "a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l", "m", "n", "o", "p",
    "q", "r", "s", "t", "u", "v", "w", "x", "y", "z", "1", "2", "3", "4", "5", "6",
    "7", "8", "9", "0", "minus", "equals", "lbracket", "rbracket", "slash", "semicolon", "comma", "period", "grave"};

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
  for (int slot = 0; slot < tavlo::kCharacterKeyCount; ++slot) {
    if (word == kKeyNames[slot]) {
      step->keySlot = slot;
      return true;
    }
  }
  return false;
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

// ---- the system ----

// Start-up as the main window does it: key events, then the driver link.
void StartSystem() {
  tavlo::CreateKeyEvents();
  tavlo::OpenKeyFilter(nullptr);
  // The keyboard list's scan joins here.
}

// Shutdown as the main window does it.
void StopSystem() {
  tavlo::CloseKeyFilter();
  // The keyboard list's release joins here.
  tavlo::CloseKeyEvents();
}

void Usage(std::FILE* out) {
  std::fprintf(out, "usage: tavlo-sim [--trace] [--no-driver] [ACTION ...]\n\nactions:\n");
  for (const Action& action : kActions) std::fprintf(out, "  %-10s %s\n", action.name, action.help);
  std::fprintf(out, "  a-z 0-9 minus equals lbracket rbracket slash semicolon comma period grave\n"
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

  int status = 0;
  StartSystem();
  if (!sim::WaitForQuiescence()) status = 3;
  for (size_t i = 0; i < steps.size() && status == 0; ++i) {
    Perform(steps[i]);
    if (!sim::WaitForQuiescence()) {
      std::fprintf(stderr, "tavlo-sim: the system did not settle after '%s'\n", words[i].c_str());
      status = 3;
    }
  }
  StopSystem();

  if (trace)
    for (const std::string& line : sim::TraceLines()) std::printf("%s\n", line.c_str());
  std::printf("%s\n", tavlo::tools::ToUtf8(sim::TypedText().c_str()).c_str());
  return status;
}
