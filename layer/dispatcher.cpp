// The key-event dispatcher and Unicode injection.
#include "layer/driver_link.h"
#include "platform/input.h"
#include "platform/trace.h"

namespace tavlo {

// In driver_link.cpp: clears KeyEvents slot 48 under the link's lock.
void ClearDispatcherThread();

int InjectText(const char16_t* text) {
  int accepted = 0;
  bool reported = false;  // one report per text
  for (const char16_t* unit = text; unit != nullptr && *unit != 0; ++unit) {
    platform::InputEvent input{};
    input.type = platform::kInputKeyboard;
    input.ki.wVk = 0;
    input.ki.wScan = static_cast<uint16_t>(*unit);
    input.ki.dwFlags = platform::kKeyEventUnicode;
    input.ki.time = 0;
    input.ki.dwExtraInfo = 0;
    const uint32_t inserted = platform::SendInputEvents(1, &input, static_cast<int>(sizeof input));
    if (inserted == 0 && !reported) {
      platform::TraceFailure(u"SendInput", nullptr, platform::LastError());
      reported = true;
    }
    accepted += static_cast<int>(inserted);
  }
  return accepted;
}

const char16_t* ChooseLayerText(int slot, bool shiftDown, bool capsLockOn) {
  if (slot < 0 || slot >= kCharacterKeyCount) return u"";
  const bool withShift = IsLetterSlot(slot) ? (shiftDown != capsLockOn) : shiftDown;
  return withShift ? LayerKeyMap[slot].ShiftText : LayerKeyMap[slot].Text;
}

int TypeLayerKey(int slot) {
  // Caps Lock first, then Shift.
  const bool capsLockOn = (platform::ReadKeyState(platform::kVkCapital) & 0x0001) != 0;
  const bool shiftDown = (static_cast<uint16_t>(platform::ReadKeyState(platform::kVkShift)) & 0x8000) != 0;
  return InjectText(ChooseLayerText(slot, shiftDown, capsLockOn));
}

uint32_t DispatchKeyEvents(void* /*window*/) {
  platform::Handle events[kWaitedEventCount];
  for (int slot = 0; slot < kWaitedEventCount; ++slot) events[slot] = KeyEvents[slot];
  for (;;) {
    const uint32_t result = platform::WaitForAny(kWaitedEventCount, events, platform::kInfinite);
    if (result == platform::kWaitFailed) {
      platform::TraceFailure(u"WaitForMultipleObjects", nullptr, platform::LastError());
      platform::Sleep(1000);
      continue;
    }
    const uint32_t slot = result - platform::kWaitObject0;
    if (slot == kStopEventSlot) break;
    if (slot >= static_cast<uint32_t>(kStopEventSlot)) continue;
    if (slot == kLayerKeyPressSlot) {
      SendLayerMode(1);
    } else if (slot == kLayerKeyReleaseSlot) {
      SendLayerMode(0);
    } else {
      TypeLayerKey(static_cast<int>(slot));
    }
  }
  ClearDispatcherThread();
  return 0;
}

}  // namespace tavlo
