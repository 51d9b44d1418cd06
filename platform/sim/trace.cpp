// The outside-world trace of the simulated machine.
#include <mutex>

#include "platform/sim/machine.h"
#include "platform/sim/sim_trace.h"

namespace platform::sim {

namespace {

std::vector<std::string>& Lines() {
  static auto* lines = new std::vector<std::string>();
  return *lines;
}

const bool g_registered = [] {
  RegisterResetHook([] {
    std::lock_guard<std::mutex> lock(MachineMutex());
    Lines().clear();
  });
  return true;
}();

}  // namespace

std::vector<std::string> TraceLines() {
  std::lock_guard<std::mutex> lock(MachineMutex());
  return Lines();
}

void ClearTrace() {
  std::lock_guard<std::mutex> lock(MachineMutex());
  Lines().clear();
}

void TraceLocked(std::string line) { Lines().push_back(std::move(line)); }

std::string Utf8(const char16_t* text) {
  std::string out;
  for (; text && *text; ++text) {
    uint32_t c = *text;
    if (c >= 0xD800 && c <= 0xDBFF && text[1] >= 0xDC00 && text[1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<uint32_t>(text[1]) - 0xDC00);
      ++text;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

}  // namespace platform::sim
