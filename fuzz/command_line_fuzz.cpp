// The command-line scan over arbitrary arguments.
#include <cstdlib>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "fuzz/fuzz_input.h"
#include "platform/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tavlo::fuzz::Input in(data, size);
  // Arguments are separated by NUL code units; a 0xFFFF unit stands for a
  // null entry in the vector.
  std::vector<std::u16string> texts(1);
  for (char16_t c : in.RestAsText()) {
    if (c == 0) {
      texts.emplace_back();
    } else {
      texts.back().push_back(c);
    }
  }
  std::vector<const char16_t*> argv;
  for (const auto& t : texts) argv.push_back(t == u"\uFFFF" ? nullptr : t.c_str());

  const CommandLineSwitches got = ScanCommandLine(static_cast<int>(argv.size()), argv.data());

  // What the scan must find: /Kill anywhere after the program; /Start before it.
  bool kill = false, start = false;
  for (size_t i = 1; i < argv.size() && !kill; ++i) {
    if (!argv[i]) continue;
    if (platform::EqualsNoCase(argv[i], u"/Kill"))
      kill = true;
    else if (platform::EqualsNoCase(argv[i], u"/Start"))
      start = true;
  }
  if (got.Kill != kill || got.Start != start) std::abort();
  return 0;
}
