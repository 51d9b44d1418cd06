// Simulated message boxes.
#include <cstdio>
#include <mutex>

#include "platform/message_box.h"
#include "platform/sim/machine.h"
#include "platform/sim/sim_message_box.h"
#include "platform/sim/sim_trace.h"
#include "platform/text.h"

namespace platform::sim {

namespace {

std::vector<ShownMessageBox>& Boxes() {
  static auto* boxes = new std::vector<ShownMessageBox>();
  return *boxes;
}

const ResetRegistration g_reset([] {
  std::lock_guard<std::mutex> lock(MachineMutex());
  Boxes().clear();
});

}  // namespace

std::vector<ShownMessageBox> MessageBoxesShown() {
  std::lock_guard<std::mutex> lock(MachineMutex());
  return Boxes();
}

}  // namespace platform::sim

namespace platform {

using namespace platform::sim;

int ShowMessageBox(void* owner, const char16_t* text, const char16_t* caption, uint32_t style) {
  std::lock_guard<std::mutex> lock(MachineMutex());
  if (ShouldFailLocked("MessageBox")) return 0;
  Boxes().push_back({owner, text ? text : u"", caption ? caption : u"", style});
  char tail[32];
  std::snprintf(tail, sizeof tail, "\" style 0x%08x", static_cast<unsigned>(style));
  TraceLocked("message-box \"" + platform::ToUtf8(text) + tail);
  return kIdOk;
}

}  // namespace platform
