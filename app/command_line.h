// The launch's command line: which of the two switches it carries.
#pragma once

struct CommandLineSwitches {
  // "/Kill" was found; the arguments after it were not looked at.
  bool Kill = false;
  // "/Start" was found before any "/Kill".
  bool Start = false;
};

// Scans the arguments as the runtime splits them (argv[0] is the program and
// is skipped). Each argument is compared as a whole, case ignored: "/Kill"
// stops the scan, "/Start" sets its flag, anything else is ignored. Null
// entries and a null vector are ignored.
CommandLineSwitches ScanCommandLine(int argc, const char16_t* const* argv);
