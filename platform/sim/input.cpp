// Simulated keyboard state and input stream.
#include <condition_variable>
#include <cstdio>
#include <mutex>

#include "platform/input.h"
#include "platform/sim/machine.h"
#include "platform/sim/sim_input.h"
#include "platform/sim/sim_trace.h"

namespace platform::sim {

namespace {

// The two keys as GetKeyState sees them: down, and the toggle that flips
// with every press (Windows keeps one for every key, Shift included).
struct KeyState {
  bool down = false;
  bool toggled = false;
  void Set(bool press) {
    if (press && !down) toggled = !toggled;
    down = press;
  }
  int16_t Value() const { return static_cast<int16_t>((down ? 0xFF80 : 0) | (toggled ? 1 : 0)); }
};

struct InputState {
  KeyState shift;
  KeyState caps;
  std::vector<InputEvent> sent;
  long calls = 0;
  bool held = false;
  int blockedInHold = 0;
  std::condition_variable changed;
};

InputState& S() {
  static auto* state = new InputState();
  return *state;
}

const ResetRegistration g_reset([] {
  std::lock_guard<std::mutex> lock(MachineMutex());
  InputState& s = S();
  s.shift = KeyState{};
  s.caps = KeyState{};
  s.sent.clear();
  s.calls = 0;
  s.held = false;
  s.changed.notify_all();
});

}  // namespace

void SetShiftDown(bool down) {
  std::lock_guard<std::mutex> lock(MachineMutex());
  S().shift.Set(down);
}
void SetCapsLock(bool on) {
  std::lock_guard<std::mutex> lock(MachineMutex());
  if (S().caps.toggled != on) {
    S().caps.Set(true);
    S().caps.Set(false);
  }
}
void ToggleCapsLock() {
  std::lock_guard<std::mutex> lock(MachineMutex());
  S().caps.Set(true);
  S().caps.Set(false);
}
void SetCapsLockKeyDown(bool down) {
  std::lock_guard<std::mutex> lock(MachineMutex());
  S().caps.Set(down);
}
std::vector<InputEvent> SentInputs() {
  std::lock_guard<std::mutex> lock(MachineMutex());
  return S().sent;
}
size_t SentInputCount() {
  std::lock_guard<std::mutex> lock(MachineMutex());
  return S().sent.size();
}
long SendInputCallCount() {
  std::lock_guard<std::mutex> lock(MachineMutex());
  return S().calls;
}
std::u16string TypedText() {
  std::lock_guard<std::mutex> lock(MachineMutex());
  std::u16string text;
  for (const InputEvent& e : S().sent) {
    if (e.type == kInputKeyboard && (e.ki.dwFlags & kKeyEventUnicode) && !(e.ki.dwFlags & kKeyEventKeyUp))
      text += static_cast<char16_t>(e.ki.wScan);
  }
  return text;
}
void ClearSentInputs() {
  std::lock_guard<std::mutex> lock(MachineMutex());
  S().sent.clear();
}
bool WaitForSentInputCount(size_t count, uint32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(MachineMutex());
  return S().changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [count] { return S().sent.size() >= count; });
}
void HoldInput(bool hold) {
  std::lock_guard<std::mutex> lock(MachineMutex());
  S().held = hold;
  S().changed.notify_all();
}
bool WaitForHeldSendInput(uint32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(MachineMutex());
  return S().changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [] { return S().blockedInHold > 0; });
}

}  // namespace platform::sim

namespace platform {

using namespace platform::sim;

int16_t ReadKeyState(int virtualKey) {
  std::lock_guard<std::mutex> lock(MachineMutex());
  if (ShouldFailLocked("GetKeyState")) return 0;
  if (virtualKey == kVkShift) return S().shift.Value();
  if (virtualKey == kVkCapital) return S().caps.Value();
  return 0;
}

uint32_t SendInputEvents(uint32_t count, const InputEvent* events, int recordSize) {
  std::unique_lock<std::mutex> lock(MachineMutex());
  InputState& s = S();
  s.calls++;
  if (ShouldFailLocked("SendInput")) return 0;
  if (count == 0 || events == nullptr || recordSize != static_cast<int>(sizeof(InputEvent))) {
    SetLastError(kErrorInvalidParameter);
    return 0;
  }
  if (s.held) {
    s.blockedInHold++;
    s.changed.notify_all();
    s.changed.wait(lock, [&s] { return !s.held; });
    s.blockedInHold--;
  }
  for (uint32_t i = 0; i < count; ++i) {
    const InputEvent& e = events[i];
    s.sent.push_back(e);
    char line[96];
    if (e.type == kInputKeyboard && (e.ki.dwFlags & kKeyEventUnicode)) {
      std::snprintf(line, sizeof line, "input unicode %04x%s", static_cast<unsigned>(e.ki.wScan),
                    (e.ki.dwFlags & kKeyEventKeyUp) ? " up" : "");
    } else if (e.type == kInputKeyboard) {
      std::snprintf(line, sizeof line, "input key vk %02x scan %04x flags %x%s", static_cast<unsigned>(e.ki.wVk),
                    static_cast<unsigned>(e.ki.wScan), static_cast<unsigned>(e.ki.dwFlags),
                    (e.ki.dwFlags & kKeyEventKeyUp) ? " up" : "");
    } else {
      std::snprintf(line, sizeof line, "input type %u", static_cast<unsigned>(e.type));
    }
    TraceLocked(line);
  }
  s.changed.notify_all();
  return count;
}

}  // namespace platform
