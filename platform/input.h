// Keyboard state and synthesized input (GetKeyState, SendInput).
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// Virtual-key codes read by the system, and the one Unicode input comes as
// (VK_PACKET: down from a Unicode key-down until its key-up).
constexpr int kVkShift = 0x10;
constexpr int kVkCapital = 0x14;
constexpr int kVkPacket = 0xE7;

// INPUT.type and KEYBDINPUT.dwFlags values, as Win32 defines them.
constexpr uint32_t kInputMouse = 0;
constexpr uint32_t kInputKeyboard = 1;
constexpr uint32_t kKeyEventExtendedKey = 0x0001;
constexpr uint32_t kKeyEventKeyUp = 0x0002;
constexpr uint32_t kKeyEventUnicode = 0x0004;
constexpr uint32_t kKeyEventScanCode = 0x0008;

// Portable mirrors of MOUSEINPUT, KEYBDINPUT and INPUT with the same field
// names and layout (the win32 side checks them against the SDK): 28 bytes in a
// 32-bit process, 40 in a 64-bit one.
struct MouseInput {
  int32_t dx;
  int32_t dy;
  uint32_t mouseData;
  uint32_t dwFlags;
  uint32_t time;
  uintptr_t dwExtraInfo;
};

struct KeyboardInput {
  uint16_t wVk;
  uint16_t wScan;
  uint32_t dwFlags;
  uint32_t time;
  uintptr_t dwExtraInfo;
};

struct InputEvent {
  uint32_t type;
  union {
    MouseInput mi;  // the largest member: it sets the record's size
    KeyboardInput ki;
  };
};

static_assert(sizeof(InputEvent) == (sizeof(void*) == 4 ? 28 : 40), "INPUT layout");
static_assert(offsetof(InputEvent, ki) == sizeof(void*), "INPUT's union follows the type");

// GetKeyState(virtualKey): bit 15 set while the key is down, bit 0 set while a
// toggle key (Caps Lock) is on.
int16_t ReadKeyState(int virtualKey);

// SendInput(count, events, recordSize): the number of events inserted into the
// input stream; 0 with LastError() set if none was.
uint32_t SendInputEvents(uint32_t count, const InputEvent* events, int recordSize);

}  // namespace platform
