#include "app/command_line.h"

#include "platform/text.h"

CommandLineSwitches ScanCommandLine(int argc, const char16_t* const* argv) {
  CommandLineSwitches switches;
  if (!argv) return switches;
  for (int i = 1; i < argc; ++i) {
    const char16_t* argument = argv[i];
    if (!argument) continue;
    if (platform::EqualsNoCase(argument, u"/Kill")) {
      switches.Kill = true;
      break;
    }
    if (platform::EqualsNoCase(argument, u"/Start")) switches.Start = true;
  }
  return switches;
}
