// The pieces of an end-to-end run under Wine: the real Tavlo.exe as a child
// process, a focused edit control that receives what it types, the real
// keyboard state (Shift, Caps Lock) and the test filter driver that plays the
// keyboard's scan codes. Shared by the end-to-end tests and the session
// program of `make run`.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/driver/driver_control.h"

namespace e2e {

// A POSIX path of the build tree as a Windows path on drive Z:.
std::wstring WindowsPath(const char* posix_path);

// The Tavlo.exe under test: the build's TAVLO_TEST_EXE, by default the
// shipped 32-bit program.
const std::wstring& TavloExe();

// Lines of the test driver's log as the tests expect them.
constexpr char kTableInstall[] = "ioctl 0x0022210c in 2208";
constexpr char kTableRemoval[] = "ioctl 0x0022210c in 0 -> 0x00000000";
constexpr char kLayerOn[] = "ioctl 0x00222138 in 1 01 -> 0x00000000";
constexpr char kLayerOff[] = "ioctl 0x00222138 in 1 00 -> 0x00000000";
constexpr char kClose[] = "close -> 0x00000000";

// A press and release at the driver of each layer slot's key, in order.
std::vector<KbdTestTransition> Taps(const std::vector<int>& slots);

// One launch of Tavlo.exe. The child is put in a job that is closed with
// this object, and Wine ends every process of a job when the job closes
// (JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE): a test that fails or dies never
// leaves an instance behind.
class TavloProcess {
 public:
  TavloProcess() = default;
  ~TavloProcess();
  TavloProcess(const TavloProcess&) = delete;
  TavloProcess& operator=(const TavloProcess&) = delete;

  // Starts `exe` with the arguments; false (with the reason) if it cannot.
  bool Launch(const std::wstring& exe, const std::wstring& arguments, std::string* error);
  DWORD pid() const { return info_.dwProcessId; }
  HANDLE process() const { return info_.hProcess; }
  bool Running() const;
  // "32-bit, WoW64" for a 32-bit program on 64-bit Windows, else "64-bit".
  const char* Kind() const;
  // Waits for the process to end on its own; its exit code, or -1 on timeout.
  long WaitEnded(DWORD timeout_ms);
  // The marked hidden window of the running instance, once its
  // initialisation is over (null if none within the time).
  HWND WaitForMainWindow(DWORD timeout_ms) const;
  // Ends the process if it still runs (the job ends it too).
  void Terminate();

 private:
  PROCESS_INFORMATION info_{};
  HANDLE job_ = nullptr;
};

// The message boxes (#32770 windows other than Tavlo's marked main window)
// a process shows, and the text of their static controls.
std::vector<std::wstring> MessageBoxesOf(DWORD pid);

// Runs `exe /Kill` and waits for it to end: its exit code, or -1.
long RunKill(const std::wstring& exe, DWORD timeout_ms);
// True while some Tavlo instance holds its single-instance mutex.
bool InstanceRunning();

// A visible top-level window of this thread with one EDIT control that holds
// the keyboard focus. Everything typed into the focused window lands there.
class EditBox {
 public:
  EditBox() = default;
  ~EditBox();
  EditBox(const EditBox&) = delete;
  EditBox& operator=(const EditBox&) = delete;

  // Creates the window and gives the edit the focus; false (with the reason)
  // if the window cannot be made the foreground window or the edit does not
  // get the focus.
  bool Create(std::string* error);
  // Brings the window to the foreground again and checks the focus.
  bool Focus(std::string* error);
  HWND edit() const { return edit_; }

  std::u16string Text() const;
  void Clear();
  // Dispatches this thread's messages until the edit holds at least
  // `length` code units or timeout_ms passed; the text.
  std::u16string PumpUntilLength(size_t length, DWORD timeout_ms);
  // Dispatches this thread's messages for `ms` milliseconds.
  void PumpFor(DWORD ms);

 private:
  HWND frame_ = nullptr;
  HWND edit_ = nullptr;
};

// The real keyboard state, set by synthesized key transitions of VK_SHIFT and
// VK_CAPITAL that this thread retrieves (it pumps its messages).
//
// Tavlo's dispatcher reads the state with GetKeyState on a thread that has no
// window. Windows brings such a thread's key state up to date with the
// system's when it asks; Wine 8.0 does not: a thread's key state changes only
// with the keyboard messages its own input retrieves, so a windowless thread
// of another process always reads Shift up and Caps Lock off.
// ShareKeyboardState attaches the windowless threads of a process to this
// thread's input (AttachThreadInput), so that their GetKeyState reads the
// state this thread keeps, as it would read the system's on Windows. Wine
// attaches only a thread that has a message queue (the dispatcher has one
// once it has read the key state, i.e. served one character key), and clears
// the shared key state at every attach: attach first, then set the state.
void SetShift(bool down);
// Toggles Caps Lock if its state (as this thread sees it) is not `on`.
void SetCapsLock(bool on);
// Attaches every thread of process `pid` except `window_thread` that has a
// message queue to the calling thread's input; the number of threads
// attached, or -1 (with the reason) on an unexpected failure.
int ShareKeyboardState(DWORD pid, DWORD window_thread, std::string* error);

// A windowless thread attached to the input of the thread that started it,
// as ShareKeyboardState attaches Tavlo's dispatcher; it reads Shift and Caps
// Lock with GetKeyState on request.
class KeyStateReader {
 public:
  KeyStateReader() = default;
  ~KeyStateReader();
  KeyStateReader(const KeyStateReader&) = delete;
  KeyStateReader& operator=(const KeyStateReader&) = delete;

  // Starts the thread and attaches it; false (with the reason) if it cannot.
  bool Start(std::string* error);
  // Pumps the calling thread's messages until the reader sees the state;
  // false if it does not within timeout_ms.
  bool WaitFor(bool shift, bool caps, DWORD timeout_ms);

 private:
  static DWORD WINAPI Main(void* self);
  HANDLE thread_ = nullptr;
  HANDLE request_ = nullptr;
  HANDLE reply_ = nullptr;
  bool stop_ = false;
  volatile SHORT shift_ = 0;
  volatile SHORT caps_ = 0;
};

// The event slot of a key-table record the driver signalled: records 2i and
// 2i+1 name slot i, records 90 and 91 the layer key's slots 45 and 46.
int SlotOfRecord(uint32_t record);

// The log of the control device as lines (testdriver::Describe), without
// cleanup entries: Windows sends one before each close, Wine none.
std::vector<std::string> LogLines(const testdriver::Log& log);

// UTF-16 to UTF-8, for output.
std::string Utf8(const std::u16string& text);

// printf to standard output, flushed at once (the output of a program under
// Wine is read while it runs).
void Print(const char* format, ...);

}  // namespace e2e
