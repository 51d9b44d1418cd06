#include "tests/e2e/e2e_support.h"

#include "layer/key_map.h"

#include <cstdarg>
#include <cstdio>

#include "platform/text.h"
#include "tests/support/win32_probe.h"

namespace e2e {

namespace {

constexpr LONG_PTR kInstanceMarker = 0x4D41494E;
const wchar_t kMutexName[] = L"Mornu_Mutex_QX7TL4";

std::string Win32Failure(const char* what) {
  return std::string(what) + " failed with error " + std::to_string(::GetLastError());
}

bool IsMarkedMainWindow(HWND w) { return ::GetWindowLongPtrW(w, GWLP_USERDATA) == kInstanceMarker; }

}  // namespace

std::wstring WindowsPath(const char* posix_path) {
  std::wstring path = L"Z:";
  for (const char* p = posix_path; *p; ++p) path += (*p == '/') ? L'\\' : static_cast<wchar_t>(*p);
  return path;
}

// ---- Tavlo.exe as a child process ----

TavloProcess::~TavloProcess() {
  Terminate();
  if (info_.hProcess) ::CloseHandle(info_.hProcess);
  if (info_.hThread) ::CloseHandle(info_.hThread);
  if (job_) ::CloseHandle(job_);
}

bool TavloProcess::Launch(const std::wstring& exe, const std::wstring& arguments, std::string* error) {
  job_ = ::CreateJobObjectW(nullptr, nullptr);
  if (!job_) {
    *error = Win32Failure("CreateJobObjectW");
    return false;
  }
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (!::SetInformationJobObject(job_, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
    *error = Win32Failure("SetInformationJobObject");
    return false;
  }
  std::wstring line = L"\"" + exe + L"\"";
  if (!arguments.empty()) line += L" " + arguments;
  std::vector<wchar_t> buffer(line.begin(), line.end());
  buffer.push_back(L'\0');
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  // Suspended until it is in the job, so that nothing it starts escapes.
  if (!::CreateProcessW(exe.c_str(), buffer.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr,
                        &startup, &info_)) {
    *error = Win32Failure("CreateProcessW") + " for " + Narrow(exe);
    return false;
  }
  if (!::AssignProcessToJobObject(job_, info_.hProcess)) {
    *error = Win32Failure("AssignProcessToJobObject");
    Terminate();
    return false;
  }
  ::ResumeThread(info_.hThread);
  return true;
}

bool TavloProcess::Running() const {
  return info_.hProcess && ::WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT;
}

const char* TavloProcess::Kind() const {
  BOOL wow64 = FALSE;
  return info_.hProcess && ::IsWow64Process(info_.hProcess, &wow64) && wow64 ? "32-bit, WoW64" : "64-bit";
}

long TavloProcess::WaitEnded(DWORD timeout_ms) {
  if (!info_.hProcess || ::WaitForSingleObject(info_.hProcess, timeout_ms) != WAIT_OBJECT_0) return -1;
  DWORD code = 0;
  ::GetExitCodeProcess(info_.hProcess, &code);
  return static_cast<long>(code);
}

HWND TavloProcess::WaitForMainWindow(DWORD timeout_ms) const {
  const DWORD start = ::GetTickCount();
  while (::GetTickCount() - start < timeout_ms) {
    for (HWND w : TopWindowsOf(info_.dwProcessId)) {
      if (!IsMarkedMainWindow(w)) continue;
      // The marker is set early in the window's initialisation; a message
      // sent to it is answered once the initialisation has returned (or, if
      // it stopped in a message box, from that box's loop).
      DWORD_PTR ignored = 0;
      ::SendMessageTimeoutW(w, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &ignored);
      return w;
    }
    if (!Running()) return nullptr;
    ::Sleep(20);
  }
  return nullptr;
}

void TavloProcess::Terminate() {
  if (Running()) {
    ::TerminateProcess(info_.hProcess, 1);
    ::WaitForSingleObject(info_.hProcess, 5000);
  }
}

std::vector<std::wstring> MessageBoxesOf(DWORD pid) {
  std::vector<std::wstring> boxes;
  for (HWND w : TopWindowsOf(pid)) {
    wchar_t cls[64] = {};
    ::GetClassNameW(w, cls, 64);
    if (std::wstring(cls) != L"#32770" || IsMarkedMainWindow(w)) continue;
    std::wstring text;
    for (HWND child = ::GetWindow(w, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
      wchar_t buffer[256] = {};
      ::GetWindowTextW(child, buffer, 256);
      if (!text.empty() && buffer[0]) text += L" | ";
      text += buffer;
    }
    boxes.push_back(text);
  }
  return boxes;
}

long RunKill(const std::wstring& exe, DWORD timeout_ms) {
  TavloProcess killer;
  std::string error;
  if (!killer.Launch(exe, L"/Kill", &error)) return -1;
  return killer.WaitEnded(timeout_ms);
}

bool InstanceRunning() {
  HANDLE mutex = ::OpenMutexW(SYNCHRONIZE, FALSE, kMutexName);
  if (mutex) ::CloseHandle(mutex);
  return mutex != nullptr;
}

// ---- the edit box ----

EditBox::~EditBox() {
  if (frame_) ::DestroyWindow(frame_);
}

bool EditBox::Create(std::string* error) {
  static const wchar_t kClass[] = L"TavloE2eFrame";
  WNDCLASSW wc{};
  wc.lpfnWndProc = [](HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
    // The frame passes the focus on to its edit whenever it is activated.
    if (message == WM_SETFOCUS) {
      HWND edit = ::GetWindow(hwnd, GW_CHILD);
      if (edit) ::SetFocus(edit);
      return 0;
    }
    return ::DefWindowProcW(hwnd, message, wParam, lParam);
  };
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.lpszClassName = kClass;
  wc.hCursor = ::LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));
  ::RegisterClassW(&wc);  // already registered by an earlier box: fine
  frame_ = ::CreateWindowExW(0, kClass, L"Tavlo end-to-end", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 20, 20, 520, 120,
                             nullptr, nullptr, wc.hInstance, nullptr);
  if (!frame_) {
    *error = Win32Failure("CreateWindowExW (frame)");
    return false;
  }
  edit_ = ::CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE | WS_BORDER | ES_AUTOHSCROLL, 10, 10, 480, 40,
                            frame_, nullptr, wc.hInstance, nullptr);
  if (!edit_) {
    *error = Win32Failure("CreateWindowExW (EDIT)");
    return false;
  }
  return Focus(error);
}

bool EditBox::Focus(std::string* error) {
  ::SetForegroundWindow(frame_);
  ::SetFocus(edit_);
  PumpFor(20);
  if (::GetForegroundWindow() != frame_) {
    *error = "the test window is not the foreground window";
    return false;
  }
  if (::GetFocus() != edit_) {
    *error = "the edit control does not have the keyboard focus";
    return false;
  }
  return true;
}

std::u16string EditBox::Text() const {
  const int length = ::GetWindowTextLengthW(edit_);
  std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1);
  const int n = ::GetWindowTextW(edit_, buffer.data(), length + 1);
  return std::u16string(reinterpret_cast<const char16_t*>(buffer.data()), static_cast<size_t>(n > 0 ? n : 0));
}

void EditBox::Clear() {
  PumpFor(0);
  ::SetWindowTextW(edit_, L"");
}

std::u16string EditBox::PumpUntilLength(size_t length, DWORD timeout_ms) {
  const DWORD start = ::GetTickCount();
  for (;;) {
    PumpFor(0);
    std::u16string text = Text();
    if (text.size() >= length || ::GetTickCount() - start >= timeout_ms) return text;
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
  }
}

void EditBox::PumpFor(DWORD ms) {
  const DWORD start = ::GetTickCount();
  do {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
    if (ms) ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
  } while (::GetTickCount() - start < ms);
}

// ---- keyboard state ----

namespace {

void SendKey(WORD vk, WORD scan, bool up) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = vk;
  input.ki.wScan = scan;
  input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
  ::SendInput(1, &input, sizeof input);
}

void PumpThreadMessages() {
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
}

}  // namespace

void SetShift(bool down) {
  SendKey(VK_LSHIFT, 0x2A, !down);
  PumpThreadMessages();
}

void SetCapsLock(bool on) {
  PumpThreadMessages();
  if (((::GetKeyState(VK_CAPITAL) & 1) != 0) == on) return;
  SendKey(VK_CAPITAL, 0x3A, false);
  SendKey(VK_CAPITAL, 0x3A, true);
  PumpThreadMessages();
}

int ShareKeyboardState(DWORD pid, DWORD window_thread, std::string* error) {
  std::vector<DWORD> threads;
  if (!ThreadsOf(pid, &threads)) {
    *error = Win32Failure("CreateToolhelp32Snapshot");
    return -1;
  }
  int attached = 0;
  for (DWORD thread : threads) {
    if (thread == window_thread) continue;
    if (::AttachThreadInput(thread, ::GetCurrentThreadId(), TRUE)) {
      ++attached;
    } else if (::GetLastError() != ERROR_INVALID_PARAMETER) {  // no message queue: not a reader of keys
      *error = Win32Failure("AttachThreadInput") + " for thread " + std::to_string(thread);
      return -1;
    }
  }
  return attached;
}

KeyStateReader::~KeyStateReader() {
  if (thread_) {
    stop_ = true;
    ::SetEvent(request_);
    ::WaitForSingleObject(thread_, 5000);
    ::CloseHandle(thread_);
  }
  if (request_) ::CloseHandle(request_);
  if (reply_) ::CloseHandle(reply_);
}

DWORD WINAPI KeyStateReader::Main(void* raw) {
  auto* self = static_cast<KeyStateReader*>(raw);
  ::GetKeyState(VK_SHIFT);  // gives the thread its message queue
  ::SetEvent(self->reply_);
  for (;;) {
    ::WaitForSingleObject(self->request_, INFINITE);
    if (self->stop_) return 0;
    self->shift_ = ::GetKeyState(VK_SHIFT);
    self->caps_ = ::GetKeyState(VK_CAPITAL);
    ::SetEvent(self->reply_);
  }
}

bool KeyStateReader::Start(std::string* error) {
  request_ = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
  reply_ = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
  DWORD id = 0;
  if (request_ && reply_) thread_ = ::CreateThread(nullptr, 0, &KeyStateReader::Main, this, 0, &id);
  if (!thread_) {
    *error = Win32Failure("CreateThread");
    return false;
  }
  ::WaitForSingleObject(reply_, INFINITE);
  if (!::AttachThreadInput(id, ::GetCurrentThreadId(), TRUE)) {
    *error = Win32Failure("AttachThreadInput");
    return false;
  }
  return true;
}

bool KeyStateReader::WaitFor(bool shift, bool caps, DWORD timeout_ms) {
  const DWORD start = ::GetTickCount();
  for (;;) {
    PumpThreadMessages();
    ::SetEvent(request_);
    if (::WaitForSingleObject(reply_, 5000) != WAIT_OBJECT_0) return false;
    if (((shift_ & 0x8000) != 0) == shift && ((caps_ & 1) != 0) == caps) return true;
    if (::GetTickCount() - start >= timeout_ms) return false;
    ::Sleep(5);
  }
}

int SlotOfRecord(uint32_t record) {
  return record >= 90 ? static_cast<int>(record) - 90 + 45 : static_cast<int>(record / 2);
}

std::vector<std::string> LogLines(const testdriver::Log& log) {
  std::vector<std::string> lines;
  for (const testdriver::LogEntry& e : log.entries)
    if (e.kind != KBDTEST_LOG_CLEANUP) lines.push_back(testdriver::Describe(e));
  return lines;
}

std::string Utf8(const std::u16string& text) { return platform::ToUtf8(text.c_str()); }

void Print(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vfprintf(stdout, format, args);
  va_end(args);
  std::fflush(stdout);
}

const std::wstring& TavloExe() {
  static const std::wstring path = WindowsPath(TAVLO_EXE);
  return path;
}

std::vector<KbdTestTransition> Taps(const std::vector<int>& slots) {
  std::vector<KbdTestTransition> moves;
  for (int slot : slots) {
    moves.push_back(testdriver::Make(tavlo::LayerKeyMap[slot].ScanCode));
    moves.push_back(testdriver::Break(tavlo::LayerKeyMap[slot].ScanCode));
  }
  return moves;
}

}  // namespace e2e
