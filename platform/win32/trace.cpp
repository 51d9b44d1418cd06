// The debug output on real Win32.
#include <windows.h>

#include "platform/trace.h"

namespace platform {

void WriteDebugLine(const char16_t* line) { ::OutputDebugStringW(reinterpret_cast<const wchar_t*>(line)); }

}  // namespace platform
