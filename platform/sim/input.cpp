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

// A key as GetKeyState sees it: down, and the toggle that flips with every
// press (Windows keeps one for every key, Shift and VK_PACKET included).
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
  KeyState packet;  // VK_PACKET, moved by the Unicode events of the stream
  long repeatedKeyDowns = 0;
  std::vector<InputEvent> sent;
  long calls = 0;
  bool shortenNext = false;  // the next call inserts only `shortenTo` events
  uint32_t shortenTo = 0;
  uint32_t shortenError = 0;
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
  s.packet = KeyState{};
  s.repeatedKeyDowns = 0;
  s.sent.clear();
  s.calls = 0;
  s.shortenNext = false;
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
long RepeatedKeyDownCount() {
  std::lock_guard<std::mutex> lock(MachineMutex());
  return S().repeatedKeyDowns;
}
void ShortenNextSendInput(uint32_t inserted, uint32_t error) {
  std::lock_guard<std::mutex> lock(MachineMutex());
  S().shortenNext = true;
  S().shortenTo = inserted;
  S().shortenError = error;
}
void ClearSentInputs() {
  std::lock_guard<std::mutex> lock(MachineMutex());
  S().sent.clear();
}
bool WaitForSentInputCount(size_t count, uint32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(MachineMutex());
  OutsiderBlocksLocked();
  const bool sent =
      S().changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [count] { return S().sent.size() >= count; });
  OutsiderWakesLocked();
  return sent;
}
void HoldInput(bool hold) {
  std::lock_guard<std::mutex> lock(MachineMutex());
  S().held = hold;
  S().changed.notify_all();
}
bool WaitForHeldSendInput(uint32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(MachineMutex());
  OutsiderBlocksLocked();
  const bool blocked =
      S().changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [] { return S().blockedInHold > 0; });
  OutsiderWakesLocked();
  return blocked;
}

}  // namespace platform::sim

namespace platform {

using namespace platform::sim;

int16_t ReadKeyState(int virtualKey) {
  std::lock_guard<std::mutex> lock(MachineMutex());
  if (ShouldFailLocked("GetKeyState")) return 0;
  if (virtualKey == kVkShift) return S().shift.Value();
  if (virtualKey == kVkCapital) return S().caps.Value();
  if (virtualKey == kVkPacket) return S().packet.Value();
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
  uint32_t inserted = count;
  if (s.shortenNext) {
    s.shortenNext = false;
    if (s.shortenTo < count) {
      inserted = s.shortenTo;
      SetLastError(s.shortenError);
    }
  }
  for (uint32_t i = 0; i < inserted; ++i) {
    const InputEvent& e = events[i];
    s.sent.push_back(e);
    if (e.type == kInputKeyboard && (e.ki.dwFlags & kKeyEventUnicode)) {
      const bool press = (e.ki.dwFlags & kKeyEventKeyUp) == 0;
      // A key-down while VK_PACKET is still down reaches the application as
      // an auto-repeat (WM_KEYDOWN with the previous-state bit 30 set).
      if (press && s.packet.down) s.repeatedKeyDowns++;
      s.packet.Set(press);
    }
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
  return inserted;
}

}  // namespace platform
