// The conversion of a process image path in device form to a drive path,
// over arbitrary drives, device names and image paths.
#include <cstdlib>
#include <string>

#include "app/instance.h"
#include "fuzz/fuzz_input.h"
#include "platform/sim/sim.h"
#include "platform/sim/sim_process.h"
#include "platform/text.h"

namespace {
std::u16string Text(tavlo::fuzz::Input& in, size_t maxLength) {
  std::u16string t;
  const size_t n = in.U16() % (maxLength + 1);
  for (size_t i = 0; i < n && in.Remaining() >= 2; ++i) {
    const char16_t c = static_cast<char16_t>(in.U16());
    if (c) t.push_back(c);
  }
  return t;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tavlo::fuzz::Input in(data, size);
  platform::sim::ResetMachine();
  const int drives = in.U8() % 5;
  for (int i = 0; i < drives; ++i) {
    std::u16string root = u"C:\\";
    root[0] = static_cast<char16_t>(u'C' + i);
    platform::sim::AddDrive(root, Text(in, 300));
  }
  const std::u16string image = Text(in, 600);
  char16_t out[platform::kPathBufferLength];
  for (auto& c : out) c = u'#';
  if (ImagePathToDosPath(image.c_str(), out)) {
    // A drive name, then the rest of the image path, cut to 259 characters.
    const size_t length = platform::TextLength(out);
    if (length >= platform::kPathBufferLength || length < 2 || out[1] != u':') std::abort();
  }
  return 0;
}
