// The modal message box.
#pragma once

#include <cstdint>

namespace platform {

// Message-box styles and results the system uses, with Win32's values.
constexpr uint32_t kMbOk = 0x00000000u;
constexpr uint32_t kMbTopmost = 0x00040000u;
constexpr int kIdOk = 1;

// MessageBoxW(owner, text, caption, style): blocks until the user closes the
// box and returns the button chosen, or 0 if the box could not be shown.
// `owner` is a window handle (HWND) or null.
int ShowMessageBox(void* owner, const char16_t* text, const char16_t* caption, uint32_t style);

}  // namespace platform
