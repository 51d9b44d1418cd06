// The key-event dispatcher and Unicode injection.
#include "layer/driver_link.h"
#include "platform/input.h"
#include "platform/trace.h"

namespace tavlo {

// In driver_link.cpp: clears KeyEvents slot 48 under the link's lock.
void ClearDispatcherThread();

int InjectText(const char16_t* text) {
  int inserted = 0;
  bool reported = false;  // one report per text
  for (const char16_t* unit = text; unit != nullptr && *unit != 0; ++unit) {
    // The unit's key-down and its key-up, in one call so that no other input
    // comes between them: VK_PACKET is up again once the unit is typed.
    platform::InputEvent input[2] = {};
    for (platform::InputEvent& event : input) {
      event.type = platform::kInputKeyboard;
      event.ki.wVk = 0;
      event.ki.wScan = static_cast<uint16_t>(*unit);
      event.ki.dwFlags = platform::kKeyEventUnicode;
      event.ki.time = 0;
      event.ki.dwExtraInfo = 0;
    }
    input[1].ki.dwFlags |= platform::kKeyEventKeyUp;
    const uint32_t count = platform::SendInputEvents(2, input, static_cast<int>(sizeof input[0]));
    if (count < 2 && !reported) {
      platform::TraceFailure(u"SendInput", nullptr, platform::LastError());
      reported = true;
    }
    inserted += static_cast<int>(count);
  }
  return inserted;
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
