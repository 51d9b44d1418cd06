// tavlo_bare_client: the least a program can do on each of Tavlo's latency
// paths, as the baseline its figures are divided by. Never shipped.
//
//   tavlo_bare_client [--key-state] SCAN_CODE UNIT [HID_PATH]
//
// Holds the filter driver's control device with a key table that names
// three events of its own: the press of the key SCAN_CODE (hex), and the
// press and release of the layer key 0x76. One thread per path, each
// waiting on its own events only:
//   key     the key's event -> one SendInput of the UTF-16 code unit UNIT (hex),
//           its key-down and key-up in one call as Tavlo sends them;
//           with --key-state it first reads Caps Lock and Shift with
//           GetKeyState as Tavlo's dispatcher does, and ignores them
//   layer   the layer key's press / release -> the layer-mode call 1 / 0
//   reader  (with HID_PATH) overlapped reads of that HID interface; a 3-byte
//           report of value 0x00FE / 0x0000 -> the layer-mode call 1 / 0
// The table goes to the driver last, so a measuring program that sees it
// installed knows every thread is waiting. Runs until it is ended.
//
//   tavlo_bare_client --costs
//
// Prints what the calls on Tavlo's key path cost here, on a windowless
// thread like its dispatcher: "cost WHAT us=X", the median of batch means.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>

#include "layer/driver_link.h"

namespace {

HANDLE g_control = INVALID_HANDLE_VALUE;
HANDLE g_key = nullptr;
HANDLE g_layer[2] = {nullptr, nullptr};  // press, release
HANDLE g_hid = INVALID_HANDLE_VALUE;
WORD g_unit = 0;
bool g_key_state = false;

void SendMode(unsigned char mode) {
  DWORD returned = 0;
  DeviceIoControl(g_control, tavlo::IOCTL_SET_LAYER_MODE, &mode, 1, nullptr, 0, &returned, nullptr);
}

DWORD WINAPI KeyThread(void*) {
  for (;;) {
    if (WaitForSingleObject(g_key, INFINITE) != WAIT_OBJECT_0) return 1;
    if (g_key_state) {
      GetKeyState(VK_CAPITAL);
      GetKeyState(VK_SHIFT);
    }
    // The unit's key-down and key-up in one call, as Tavlo types it.
    INPUT input[2] = {};
    for (INPUT& i : input) {
      i.type = INPUT_KEYBOARD;
      i.ki.wScan = g_unit;
      i.ki.dwFlags = KEYEVENTF_UNICODE;
    }
    input[1].ki.dwFlags |= KEYEVENTF_KEYUP;
    SendInput(2, input, sizeof input[0]);
  }
}

DWORD WINAPI LayerThread(void*) {
  for (;;) {
    const DWORD result = WaitForMultipleObjects(2, g_layer, FALSE, INFINITE);
    if (result != WAIT_OBJECT_0 && result != WAIT_OBJECT_0 + 1) return 1;
    SendMode(result == WAIT_OBJECT_0 ? 1 : 0);
  }
}

DWORD WINAPI ReaderThread(void*) {
  HANDLE done = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  unsigned char report[64];
  for (;;) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = done;
    DWORD length = 0;
    if (!ReadFile(g_hid, report, sizeof report, nullptr, &overlapped) && GetLastError() != ERROR_IO_PENDING) return 1;
    if (!GetOverlappedResult(g_hid, &overlapped, &length, TRUE)) return 1;
    if (length != 3) continue;
    const unsigned value = report[1] | (report[2] << 8);
    if (value == 0x00FE) SendMode(1);
    if (value == 0x0000) SendMode(0);
  }
}

bool Start(LPTHREAD_START_ROUTINE main) {
  HANDLE thread = CreateThread(nullptr, 0, main, nullptr, 0, nullptr);
  if (!thread) return false;
  CloseHandle(thread);
  return true;
}

double Now() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) * 1e6 / static_cast<double>(frequency.QuadPart);
}

// The median over 21 batches of the mean of a batch, so that a batch that
// another program's burst hit does not count.
template <typename Call>
void Cost(const char* what, int times, Call call) {
  for (int i = 0; i < times; ++i) call();  // the first call sets things up (a message queue)
  double batches[21];
  for (double& batch : batches) {
    const double start = Now();
    for (int i = 0; i < times; ++i) call();
    batch = (Now() - start) / times;
  }
  std::sort(batches, batches + 21);
  std::printf("cost %s us=%.2f\n", what, batches[10]);
}

DWORD WINAPI CostThread(void*) {
  // A process just started still has Wine's start-up work under way beside it.
  Sleep(1000);
  HANDLE events[tavlo::kWaitedEventCount];
  for (HANDLE& e : events) e = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  Cost("GetKeyState-caps-and-shift", 100, [] {
    GetKeyState(VK_CAPITAL);
    GetKeyState(VK_SHIFT);
  });
  Cost("SetEvent+WaitForSingleObject", 100, [&] {
    SetEvent(events[6]);
    WaitForSingleObject(events[6], INFINITE);
  });
  Cost("SetEvent+WaitForMultipleObjects-48", 100, [&] {
    SetEvent(events[6]);
    WaitForMultipleObjects(tavlo::kWaitedEventCount, events, FALSE, INFINITE);
  });
  // A key-up types nothing wherever the focus is.
  Cost("SendInput-unicode-key-up", 50, [] {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wScan = 0x0242;
    input.ki.dwFlags = KEYEVENTF_UNICODE | KEYEVENTF_KEYUP;
    SendInput(1, &input, sizeof input);
  });
  // The shape of the key path's call: two records in one SendInput (key-ups
  // here, so that nothing is typed).
  Cost("SendInput-unicode-two-key-ups", 50, [] {
    INPUT input[2] = {};
    for (INPUT& i : input) {
      i.type = INPUT_KEYBOARD;
      i.ki.wScan = 0x0242;
      i.ki.dwFlags = KEYEVENTF_UNICODE | KEYEVENTF_KEYUP;
    }
    SendInput(2, input, sizeof input[0]);
  });
  for (HANDLE e : events) CloseHandle(e);
  return 0;
}

int Fail(const char* what) {
  std::fprintf(stderr, "tavlo_bare_client: %s failed (error %lu)\n", what, GetLastError());
  return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 2 && std::wcscmp(argv[1], L"--costs") == 0) {
    HANDLE thread = CreateThread(nullptr, 0, CostThread, nullptr, 0, nullptr);
    if (!thread) return Fail("CreateThread");
    WaitForSingleObject(thread, INFINITE);
    std::fflush(stdout);
    return 0;
  }
  if (argc >= 2 && std::wcscmp(argv[1], L"--key-state") == 0) {
    g_key_state = true;
    --argc;
    ++argv;
  }
  if (argc < 3) {
    std::fprintf(stderr, "usage: tavlo_bare_client [--key-state] SCAN_CODE UNIT [HID_PATH]\n");
    return 2;
  }
  const unsigned scan = static_cast<unsigned>(std::wcstoul(argv[1], nullptr, 16));
  g_unit = static_cast<WORD>(std::wcstoul(argv[2], nullptr, 16));

  g_key = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  g_layer[0] = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  g_layer[1] = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (!g_key || !g_layer[0] || !g_layer[1]) return Fail("CreateEventW");
  g_control = CreateFileW(reinterpret_cast<const wchar_t*>(tavlo::kKeyFilterDevicePath), GENERIC_READ | GENERIC_WRITE,
                          0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (g_control == INVALID_HANDLE_VALUE) return Fail("opening the filter driver");
  if (argc > 3) {
    g_hid = CreateFileW(argv[3], GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (g_hid == INVALID_HANDLE_VALUE) return Fail("opening the HID interface");
    if (!Start(ReaderThread)) return Fail("CreateThread");
  }
  if (!Start(KeyThread) || !Start(LayerThread)) return Fail("CreateThread");

  // Tavlo's table layout, with events only where this program waits.
  platform::Handle events[tavlo::kLayerKeyReleaseSlot + 1] = {};
  for (int slot = 0; slot < tavlo::kCharacterKeyCount; ++slot)
    if (tavlo::LayerKeyMap[slot].ScanCode == scan) events[slot] = g_key;
  events[tavlo::kLayerKeyPressSlot] = g_layer[0];
  events[tavlo::kLayerKeyReleaseSlot] = g_layer[1];
  tavlo::KeyFilterTable table;
  tavlo::FillKeyFilterTable(table, events);
  DWORD returned = 0;
  if (!DeviceIoControl(g_control, tavlo::IOCTL_SET_KEY_TABLE, &table, sizeof table, nullptr, 0, &returned, nullptr))
    return Fail("installing the key table");
  Sleep(INFINITE);
  return 0;
}
