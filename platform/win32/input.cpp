// Keyboard state and synthesized input on real Win32.
#include <windows.h>

#include <cstddef>

#include "platform/input.h"

namespace platform {

static_assert(kVkShift == VK_SHIFT && kVkCapital == VK_CAPITAL && kVkPacket == VK_PACKET, "virtual-key codes");
static_assert(kInputMouse == INPUT_MOUSE && kInputKeyboard == INPUT_KEYBOARD, "input types");
static_assert(kKeyEventExtendedKey == KEYEVENTF_EXTENDEDKEY && kKeyEventKeyUp == KEYEVENTF_KEYUP &&
                  kKeyEventUnicode == KEYEVENTF_UNICODE && kKeyEventScanCode == KEYEVENTF_SCANCODE,
              "keyboard input flags");
static_assert(sizeof(InputEvent) == sizeof(INPUT), "INPUT size");
static_assert(offsetof(InputEvent, type) == offsetof(INPUT, type), "INPUT.type");
static_assert(offsetof(InputEvent, ki) == offsetof(INPUT, ki), "INPUT.ki");
static_assert(sizeof(KeyboardInput) == sizeof(KEYBDINPUT), "KEYBDINPUT size");
static_assert(offsetof(KeyboardInput, wVk) == offsetof(KEYBDINPUT, wVk), "KEYBDINPUT.wVk");
static_assert(offsetof(KeyboardInput, wScan) == offsetof(KEYBDINPUT, wScan), "KEYBDINPUT.wScan");
static_assert(offsetof(KeyboardInput, dwFlags) == offsetof(KEYBDINPUT, dwFlags), "KEYBDINPUT.dwFlags");
static_assert(offsetof(KeyboardInput, time) == offsetof(KEYBDINPUT, time), "KEYBDINPUT.time");
static_assert(offsetof(KeyboardInput, dwExtraInfo) == offsetof(KEYBDINPUT, dwExtraInfo), "KEYBDINPUT.dwExtraInfo");
static_assert(sizeof(MouseInput) == sizeof(MOUSEINPUT), "MOUSEINPUT size");

int16_t ReadKeyState(int virtualKey) { return ::GetKeyState(virtualKey); }

uint32_t SendInputEvents(uint32_t count, const InputEvent* events, int recordSize) {
  return ::SendInput(count, reinterpret_cast<INPUT*>(const_cast<InputEvent*>(events)), recordSize);
}

}  // namespace platform
