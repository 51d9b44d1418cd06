// The path tests of the keyboard list and the HID record against a model of
// their own, with paths as any device notice or enumeration could bring them:
// - IsKeyboardPath: the first "vid_" and "pid_" (case ignored), the hex
//   digits after each (none read as 0, low 16 bits kept), naming 1C4F/0002;
// - the record's InterfaceNumber and CollectionNumber: the number after the
//   first "&mi_" and "&col", read as wcstoul(.., 16) reads it, from the path
//   as opened (cut to 259 code units);
// - the removal match: a listed path (stored upper-cased and cut) and a
//   removal path, equal without regard to case after the same cut.
// Every path lives in a block of exactly its length plus the NUL, so a read
// past its end is caught.
#include <cstdlib>
#include <cstring>
#include <string>

#include "devices/keyboard_list.h"
#include "fuzz/fuzz_input.h"
#include "hid/hid_device.h"
#include "platform/sim/sim.h"
#include "platform/sim/sim_hid.h"
#include "platform/text.h"

namespace sim = platform::sim;

namespace {

constexpr size_t kMaxPath = platform::kPathBufferLength - 1;

// A NUL-terminated copy in a block of its own size.
struct Text {
  explicit Text(const std::u16string& s) : block(static_cast<char16_t*>(std::malloc((s.size() + 1) * 2))) {
    std::memcpy(block, s.c_str(), (s.size() + 1) * 2);
  }
  ~Text() { std::free(block); }
  Text(const Text&) = delete;
  Text& operator=(const Text&) = delete;
  char16_t* block;
};

std::u16string Cut(const std::u16string& s) { return s.substr(0, kMaxPath); }

std::u16string Upper(std::u16string s) {
  for (char16_t& c : s) c = platform::ToUpper(c);
  return s;
}

// Position of the first occurrence of an ASCII tag, case ignored; npos if none.
size_t FindTag(const std::u16string& path, const char* tag) {
  const size_t n = std::strlen(tag);
  const std::u16string upper = Upper(path);
  for (size_t i = 0; i + n <= upper.size(); ++i) {
    size_t j = 0;
    while (j < n && upper[i + j] == platform::ToUpper(static_cast<char16_t>(tag[j]))) ++j;
    if (j == n) return i;
  }
  return std::u16string::npos;
}

int Hex(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

bool ModelIsKeyboardPath(const std::u16string& path) {
  uint32_t ids[2];
  const char* tags[2] = {"vid_", "pid_"};
  for (int t = 0; t < 2; ++t) {
    const size_t at = FindTag(path, tags[t]);
    if (at == std::u16string::npos) return false;
    uint32_t value = 0;
    for (size_t i = at + 4; i < path.size() && Hex(path[i]) >= 0; ++i)
      value = ((value << 4) | static_cast<uint32_t>(Hex(path[i]))) & 0xFFFFu;
    ids[t] = value;
  }
  return ids[0] == 0x1C4F && ids[1] == 0x0002;
}

// wcstoul(text, .., 16): white space, a sign, a 0x prefix, hex digits;
// overflow gives 0xFFFFFFFF, a minus negates modulo 2^32.
uint32_t ModelNumberAfter(const std::u16string& path, const char* tag) {
  const size_t at = FindTag(path, tag);
  if (at == std::u16string::npos) return 0;
  std::u16string rest = path.substr(at + 4);
  rest.push_back(0);
  size_t i = 0;
  while (rest[i] == u' ' || (rest[i] >= 0x09 && rest[i] <= 0x0D)) ++i;
  bool negative = false;
  if (rest[i] == u'+' || rest[i] == u'-') negative = rest[i++] == u'-';
  if (rest[i] == u'0' && (rest[i + 1] == u'x' || rest[i + 1] == u'X')) i += 2;
  uint64_t value = 0;
  bool any = false;
  for (; Hex(rest[i]) >= 0; ++i) {
    any = true;
    value = value * 16 + static_cast<uint64_t>(Hex(rest[i]));
    if (value > 0xFFFFFFFFull) return 0xFFFFFFFFu;  // the rest of the digits change nothing
  }
  if (!any) return 0;
  return negative ? static_cast<uint32_t>(0u - static_cast<uint32_t>(value)) : static_cast<uint32_t>(value);
}

// A text built from the input: plain code units, or pieces that matter to the
// parsers, so that the fuzzer reaches the interesting shapes quickly.
std::u16string BuildPath(tavlo::fuzz::Input& in, size_t maxPieces) {
  static const char16_t* const kPieces[] = {
      u"\\\\?\\hid#", u"vid_1c4f",  u"VID_1C4F", u"&pid_0002",
      u"&PID_0002",   u"vid_",      u"pid_",     u"&mi_",
      u"&MI_",        u"&col",      u"&COL",     u"0x",
      u"-",           u"ffffffff1", u"#",        u"{4d1e55b2-f16f-11cf-88cb-001111000030}",
      u"\u0131",      u"\u00ff",    u" ",        u"0002",
      u"1c4f"};
  std::u16string path;
  for (size_t i = 0; i < maxPieces && in.Remaining(); ++i) {
    const uint8_t op = in.U8();
    if (op < 128) {
      path += kPieces[op % (sizeof kPieces / sizeof kPieces[0])];
    } else if (op < 250) {
      const char16_t c = static_cast<char16_t>(in.U16());
      if (c) path.push_back(c);
    } else {
      path.append(in.U8() + 200u, u'a');  // long paths, around the 259 limit
    }
  }
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  sim::ResetMachine();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tavlo::fuzz::Input in(data, size);
  const uint8_t shape = in.U8();
  const std::u16string listed = BuildPath(in, 24);
  std::u16string removal;
  switch (shape % 4) {
    case 0:  // a path of its own
      removal = BuildPath(in, 24);
      break;
    case 1:  // the listed path in other letter case
      removal = Upper(listed);
      for (char16_t& c : removal)
        if (in.Bool() && c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
      break;
    case 2:  // the listed path cut or lengthened
      removal = listed.substr(0, in.U16() % (listed.size() + 1)) + BuildPath(in, 4);
      break;
    default:
      removal = listed;
      break;
  }

  // ---- IsKeyboardPath ----
  {
    const Text text(listed);
    if (tavlo::IsKeyboardPath(text.block) != ModelIsKeyboardPath(listed)) std::abort();
    if (tavlo::IsKeyboardPath(nullptr)) std::abort();
  }

  // ---- the record's numbers: open the path as an interface of the model ----
  const long blocks = sim::LiveBlockCount();
  const int handles = sim::OpenHandleCount();
  const std::u16string opened = Cut(listed);
  const bool present = !opened.empty();
  if (present) {
    sim::HidInterface cc = sim::ModelConsumerControl();
    cc.path = opened;
    sim::AddHidInterface(cc);
    tavlo::HidDevice device;
    const Text text(listed);
    if (!tavlo::OpenForReading(device, text.block)) std::abort();
    if (device.InterfaceNumber != ModelNumberAfter(opened, "&mi_")) std::abort();
    if (device.CollectionNumber != ModelNumberAfter(opened, "&col")) std::abort();
    tavlo::Destroy(device);
  }

  // ---- the removal match ----
  {
    const Text text(listed);
    const int added = tavlo::AddKeyboardInterface(text.block, nullptr);
    if (added != (present && ModelIsKeyboardPath(listed) ? 1 : 0)) std::abort();
    if (added) {
      if (tavlo::DeviceList.Count != 1) std::abort();
      if (std::u16string(tavlo::DeviceList.Entries[0].Path) != Upper(opened)) std::abort();
    }
    const Text gone(removal);
    tavlo::RemoveKeyboardInterface(gone.block);
    const bool match = ModelIsKeyboardPath(removal) && Upper(opened) == Upper(Cut(removal));
    if (tavlo::DeviceList.Count != static_cast<uint32_t>(added && !match ? 1 : 0)) std::abort();
    tavlo::ReleaseKeyboardInterfaces();
  }
  if (present) sim::RemoveHidInterface(opened);
  if (sim::LiveBlockCount() != blocks || sim::OpenHandleCount() != handles) std::abort();
  if (sim::UseOfClosedHandleCount() != 0) std::abort();
  return 0;
}
