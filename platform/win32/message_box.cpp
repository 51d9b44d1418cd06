// The message box on real Win32.
#include <windows.h>

#include "platform/message_box.h"

namespace platform {

static_assert(kMbOk == MB_OK && kMbTopmost == MB_TOPMOST && kIdOk == IDOK, "message-box values");

int ShowMessageBox(void* owner, const char16_t* text, const char16_t* caption, uint32_t style) {
  return ::MessageBoxW(static_cast<HWND>(owner), reinterpret_cast<const wchar_t*>(text),
                       reinterpret_cast<const wchar_t*>(caption), style);
}

}  // namespace platform
