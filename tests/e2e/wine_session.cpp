// tavlo_wine_session: the session of `make run`, under Wine. Installs the
// test filter driver, plugs the test keyboard, starts the real Tavlo.exe
// (whose start-up scan finds the keyboard), opens a text box with the
// keyboard focus and plays a short built-in session of key transitions: keys
// pressed with the layer key held go to the driver, which signals Tavlo's
// events, and Tavlo types their layer texts. The layer key is the keyboard's
// own (its Consumer-Control report, hold/release, read by Tavlo's reader) or
// the 0x76 key at the driver (f24/f24-up); keys pressed without it
// are also sent as ordinary keyboard input, as the keyboard itself would type
// them. Prints each step, the text box's content as UTF-8 and the driver's
// log, then closes Tavlo with /Kill and removes the driver.
//
// Exit code 0 when the text box holds the expected phrase, VK_PACKET is up
// again, and Tavlo installed
// its table, switched the layer and removed the table and closed the device
// at /Kill; 1 otherwise.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "layer/key_map.h"
#include "tests/e2e/e2e_support.h"
#include "tests/e2e/keyboard_support.h"
#include "tests/keyboard/keyboard_control.h"
#include "tools/key_names.h"

namespace {

// Hausa "Ɗan ƙasa" (citizen), the Ewe language's name Eʋegbe, the naira.
const char kSession[] =
    "shift e shift-up  hold v release  e g b e  space "                       // Eʋegbe
    "shift f24 d f24-up shift-up  a n  space  hold k release  a s a  space "  // Ɗan ƙasa
    "hold 5 release  2 0";                                                    // ₦20
const char16_t kExpected[] = u"E\u028Begbe \u018Aan \u0199asa \u20A620";

using e2e::Print;

// The virtual key of a character key for its ordinary keyboard input.
WORD VirtualKeyOf(int slot) {
  const char* name = tavlo::kKeyNames[slot].word;
  if (name[1] == '\0' && name[0] >= 'a' && name[0] <= 'z') return static_cast<WORD>('A' + (name[0] - 'a'));
  if (name[1] == '\0' && name[0] >= '0' && name[0] <= '9') return static_cast<WORD>(name[0]);
  return 0;
}

void SendOrdinaryKey(WORD vk, WORD scan) {
  INPUT input[2] = {};
  for (INPUT& i : input) {
    i.type = INPUT_KEYBOARD;
    i.ki.wVk = vk;
    i.ki.wScan = scan;
  }
  input[1].ki.dwFlags = KEYEVENTF_KEYUP;
  ::SendInput(2, input, sizeof(INPUT));
}

std::string Slots(const std::vector<uint32_t>& records) {
  if (records.empty()) return "nothing";
  std::string s;
  for (uint32_t r : records) s += (s.empty() ? "slot " : ", slot ") + std::to_string(e2e::SlotOfRecord(r));
  return s;
}

// A log line, with a key table's bytes cut short.
std::string Shorten(const std::string& line) {
  const size_t in = line.find(" in 2208 ");
  if (in == std::string::npos) return line;
  const size_t arrow = line.find(" -> ");
  return line.substr(0, in + 9 + 48) + "... (92 records)" + (arrow == std::string::npos ? "" : line.substr(arrow));
}

int Run() {
  const std::wstring exe = e2e::WindowsPath(TAVLO_EXE);
  bool ok = true;

  testdriver::ScopedDriver driver(e2e::WindowsPath(KBDFILTR_TEST_SYS));
  if (driver.error() != ERROR_SUCCESS) {
    Print("cannot install the test driver: %s failed with %lu\n", driver.failed_step().c_str(), driver.error());
    return 1;
  }
  Print("test filter driver installed and started: \\\\.\\kbdfiltr_QX7TL4\n");
  testdriver::TestDevice device;
  if (device.Open() != ERROR_SUCCESS || device.ClearLog() != ERROR_SUCCESS) {
    Print("cannot open the driver's test device\n");
    return 1;
  }
  if (e2e::InstanceRunning()) e2e::RunKill(exe, 10000);

  // The keyboard is plugged before Tavlo starts; the session removes it (and
  // its driver) at the end, and clears what an aborted run left.
  testkbd::Session keyboards;
  testkbd::Keyboard keyboard;
  std::wstring plug_error;
  if (!keyboards.ok() || !testkbd::Plug(&keyboard, &plug_error)) {
    Print("cannot plug the test keyboard: %s\n",
          testkbd::Narrow(keyboards.ok() ? plug_error : keyboards.error()).c_str());
    return 1;
  }
  Print("test keyboard plugged: %s\n", testkbd::Narrow(keyboard.interface_path).c_str());

  e2e::TavloProcess tavlo;
  std::string error;
  if (!tavlo.Launch(exe, L"", &error)) {
    Print("%s\n", error.c_str());
    return 1;
  }
  HWND window = nullptr;
  if (device.WaitUntil([](const KbdTestState& s) { return s.TableInstalled != 0; }, 10000) != ERROR_SUCCESS ||
      !(window = tavlo.WaitForMainWindow(10000))) {
    Print("Tavlo.exe did not install its key table\n");
    return 1;
  }
  KbdTestState state{};
  device.QueryState(&state);
  Print("Tavlo.exe running (%s, pid %lu): key table installed by pid %u, %u events held, %zu message boxes\n",
        tavlo.Kind(), tavlo.pid(), state.OwnerProcessId, state.EventsHeld, e2e::MessageBoxesOf(tavlo.pid()).size());

  e2e::EditBox box;
  if (!box.Create(&error)) {
    Print("%s\n", error.c_str());
    return 1;
  }
  Print("text box open with the keyboard focus\n\nsession:\n");

  bool layer = false;
  // Under Wine, a windowless thread of another process does not see the
  // keyboard state; see e2e::ShareKeyboardState.
  bool shared = false;
  e2e::KeyStateReader reader;
  const char* p = kSession;
  while (*p) {
    while (*p == ' ') ++p;
    const char* end = p;
    while (*end && *end != ' ') ++end;
    const std::string word(p, end);
    p = end;
    if (word.empty()) continue;

    std::vector<uint32_t> records;
    std::string what;
    if (word == "hold" || word == "release") {
      layer = word == "hold";
      const size_t before = e2e::ModeCalls(device).size();
      const bool took = testkbd::PushLayerKeyTo(keyboard, layer) == 1;
      const std::vector<int> modes = e2e::WaitForModeCalls(device, before + 1, 5000);
      const bool switched = took && modes.size() == before + 1 && modes.back() == (layer ? 1 : 0);
      ok = ok && switched;
      what = std::string("keyboard's layer key ") + (layer ? "held: report 01 fe 00" : "released: report 01 00 00") +
             (switched ? (layer ? "; Tavlo switched the layer on" : "; Tavlo switched the layer off")
                       : "; Tavlo did not switch the layer");
    } else if (word == "f24" || word == "f24-up") {
      layer = word == "f24";
      device.Inject({layer ? testdriver::Make(0x76) : testdriver::Break(0x76)}, &records);
      const unsigned mode = layer ? 1 : 0;
      const bool switched =
          device.WaitUntil([mode](const KbdTestState& s) { return s.LayerMode == mode; }, 5000) == ERROR_SUCCESS;
      ok = ok && switched;
      what = std::string("0x76 key ") + (layer ? "down" : "up") + ": driver signalled " + Slots(records) +
             (switched ? (layer ? "; Tavlo switched the layer on" : "; Tavlo switched the layer off")
                       : "; Tavlo did not switch the layer");
    } else if (word == "shift" || word == "shift-up") {
      const bool down = word == "shift";
      e2e::SetShift(down);
      const bool seen = !shared || reader.WaitFor(down, false, 2000);
      ok = ok && seen;
      what = std::string(down ? "Shift down" : "Shift up") + (seen ? "" : ": Tavlo's dispatcher does not see it");
    } else if (word == "space") {
      SendOrdinaryKey(VK_SPACE, 0x39);
      what = "space, typed by the keyboard";
    } else {
      const int slot = tavlo::CharacterKeySlot(word.c_str());
      if (slot < 0) {
        Print("unknown session word %s\n", word.c_str());
        return 1;
      }
      const WORD scan = tavlo::LayerKeyMap[slot].ScanCode;
      device.Inject({testdriver::Make(static_cast<uint8_t>(scan)), testdriver::Break(static_cast<uint8_t>(scan))},
                    &records);
      if (layer) {
        what = "driver signalled " + Slots(records) + ": Tavlo types its layer text";
        if (!shared) {
          // The dispatcher has read the key state once it typed this key:
          // its thread now has the message queue that attaching needs.
          box.PumpUntilLength(box.Text().size() + 1, 5000);
          shared = e2e::ShareKeyboardState(tavlo.pid(), ::GetWindowThreadProcessId(window, nullptr), &error) > 0 &&
                   reader.Start(&error);
          if (!shared) {
            Print("cannot share the keyboard state with Tavlo: %s\n", error.c_str());
            return 1;
          }
          what += " (Tavlo's dispatcher now reads Shift and Caps Lock from this input)";
        }
      } else {
        SendOrdinaryKey(VirtualKeyOf(slot), scan);
        what = "driver signalled " + Slots(records) + ": typed by the keyboard";
      }
    }
    Print("  %-9s %s\n", word.c_str(), what.c_str());
    box.PumpFor(30);
  }

  const std::u16string expected = kExpected;
  const std::u16string typed = box.PumpUntilLength(expected.size(), 5000);
  box.PumpFor(100);
  const std::u16string text = box.Text();
  Print("\ntext box: %s\n", e2e::Utf8(text).c_str());
  if (text != expected) {
    Print("expected: %s\n", e2e::Utf8(expected).c_str());
    ok = false;
  }
  // Tavlo sends each character's key-down and key-up: VK_PACKET, the key
  // Unicode input comes as, is up again.
  const bool packet_up = (::GetAsyncKeyState(VK_PACKET) & 0x8000) == 0;
  Print("key state: VK_PACKET %s\n", packet_up ? "up" : "held down (a key-up is missing)");
  ok = ok && packet_up;

  const long killed = e2e::RunKill(exe, 10000);
  const long ended = tavlo.WaitEnded(10000);
  Print("\nTavlo.exe /Kill exited with %ld; Tavlo.exe ended with %ld\n", killed, ended);
  ok = ok && killed == 0 && ended == 0;

  testdriver::Log log;
  if (device.ReadLog(&log) != ERROR_SUCCESS) {
    Print("cannot read the driver's log\n");
    return 1;
  }
  Print("\ndriver log (control device \\\\.\\kbdfiltr_QX7TL4):\n");
  const std::vector<std::string> lines = e2e::LogLines(log);
  for (const std::string& line : lines) Print("  %s\n", Shorten(line).c_str());
  ok = ok && lines.size() >= 4 && lines.front() == "create -> 0x00000000" &&
       lines[1].rfind("ioctl 0x0022210c in 2208 ", 0) == 0 &&
       lines[lines.size() - 2] == "ioctl 0x0022210c in 0 -> 0x00000000" && lines.back() == "close -> 0x00000000";

  device.Close();
  std::wstring unplug_error;
  const bool unplugged = testkbd::Unplug(keyboard, &unplug_error);
  ok = ok && unplugged;
  Print("\nunplugging the test keyboard%s; removing the test driver\n", unplugged ? "" : " FAILED");
  return ok ? 0 : 1;
}

}  // namespace

int main() {
  _setmode(_fileno(stdout), _O_BINARY);  // UTF-8 bytes and \n as they are
  const int result = Run();
  Print(result == 0 ? "session passed\n" : "session FAILED\n");
  return result;
}
