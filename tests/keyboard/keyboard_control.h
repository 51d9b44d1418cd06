// Plugs, unplugs and drives the test keyboard (test_keyboard_driver.c) from a
// Win32 test program. Test-only: nothing here is shipped.
//
// A test installs the driver once, plugs one or more keyboards (each a
// root-enumerated device node whose HID interface path carries
// "vid_1c4f&pid_0002"), pushes input reports through the driver's control
// device, unplugs, and cleans up. Every device node, the kernel service, the
// driver file and the installed INF are removed by CleanUp(), which also
// clears what an earlier, aborted run left behind.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

#include "tests/support/win32_probe.h"

namespace testkbd {

// One plugged keyboard.
struct Keyboard {
  std::wstring instance_id;     // its device node, e.g. ROOT\VID_1C4F&PID_0002\0000
  std::wstring interface_path;  // its HID interface (\\?\hid#vid_1c4f&pid_0002#...)
};

// Copies the driver into the system's drivers folder and writes the INF that
// names it as the kernel service of the keyboard's hardware ID. The driver
// file is looked up in TAVLO_TESTKBD_SYS (environment), beside the running
// program, then in the build tree. Idempotent.
bool InstallDriver(std::wstring* error);

// Creates, registers and installs one device node, then waits (up to
// timeout_ms) until its HID interface is present. On success fills `out`.
bool Plug(Keyboard* out, std::wstring* error, DWORD timeout_ms = 10000);

// Removes the device node (DIF_REMOVE), then waits (up to timeout_ms) until
// its HID interface is gone.
bool Unplug(const Keyboard& keyboard, std::wstring* error, DWORD timeout_ms = 10000);

// Hands one input report (byte 0 the report ID) to every plugged keyboard.
// Returns how many keyboards took it, or -1 when the control device cannot
// be reached or refuses the report (length 0 or over 64 bytes).
int PushReport(const void* report, size_t length);

// The same for one plugged keyboard only: 1 when it took the report, 0 when
// it is not plugged, -1 as above.
int PushReportTo(const Keyboard& keyboard, const void* report, size_t length);

// The Consumer-Control report of the layer key: 01 FE 00 held, 01 00 00 up.
int PushLayerKey(bool held);
int PushLayerKeyTo(const Keyboard& keyboard, bool held);

// Number of keyboards the driver serves right now, or -1 when the driver is
// not loaded.
int CountKeyboards();

// Present HID interfaces whose path contains vid_1c4f&pid_0002 (any case).
std::vector<std::wstring> KeyboardInterfacePaths();

// Removes every device node of the test keyboard (present or not), stops
// and deletes the service, deletes the driver file and the installed INF.
// Safe to call when nothing is installed. Returns false when something
// could not be removed (details in *error when given).
bool CleanUp(std::wstring* error = nullptr);

// Installs the driver on construction and cleans everything up on
// destruction, whatever the test's outcome.
class Session {
 public:
  Session();
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  bool ok() const { return ok_; }
  const std::wstring& error() const { return error_; }

 private:
  bool ok_ = false;
  std::wstring error_;
};

// Narrow text for test messages (tests/support/win32_probe.h).
using ::Narrow;

}  // namespace testkbd
