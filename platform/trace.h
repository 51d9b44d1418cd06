// Failure reports for whoever watches the process's debug output (a debugger,
// or a debug-output viewer). Nothing is written to disk and nothing is shown:
// on Windows each line goes to OutputDebugStringW, on the simulated machine
// into its trace ("debug Tavlo: ..."). Only failures are reported; a path that
// succeeds writes nothing.
//
// One line per failure, in one fixed form:
//   Tavlo: <call> failed, error <e>
//   Tavlo: <call> <subject> failed, error <e>
// <call> is the Win32 function that failed, <subject> the device path or
// control code it was given, <e> the Win32 error in decimal (an NTSTATUS of
// the HID parser, 0x80000000 and above, in hexadecimal). A subject longer than
// a path buffer is cut.
#pragma once

#include <cstdint>

namespace platform {

void TraceFailure(const char16_t* call, const char16_t* subject, uint32_t error);
// The same with a control code as the subject ("0x0022210c").
void TraceFailureCode(const char16_t* call, uint32_t code, uint32_t error);

// The OS side: hands one finished line (ending in a newline) to the debug
// output.
void WriteDebugLine(const char16_t* line);

}  // namespace platform
