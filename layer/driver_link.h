// The link with the keyboard filter driver, and the dispatcher that types the
// layer's texts.
//
// The driver watches the keyboard; the system opens its control device, hands
// it a key table that names an event per key transition, and waits on those
// events. A character key's event types the key's layer text as synthesized
// Unicode input; the layer key's press and release switch the driver's layer
// mode.
//
// Threads: the main thread runs CreateKeyEvents, OpenKeyFilter,
// CloseKeyFilter and CloseKeyEvents, in that order. The dispatcher thread and
// the HID reader threads call SendLayerMode. One lock (the link's) serialises
// every control call with the close of DriverHandle, and guards KeyEvents
// slot 48.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "layer/key_map.h"
#include "platform/kernel.h"

namespace tavlo {

// KeyEvents slots: 0-44 character keys, 45/46 layer key press/release (as in
// LayerKeyMap), 47 the dispatcher's stop event, 48 the dispatcher thread.
constexpr int kKeyEventSlotCount = 49;
constexpr int kWaitedEventCount = 48;  // slots 0-47
constexpr int kStopEventSlot = 47;
constexpr int kDispatcherThreadSlot = 48;

// The driver's control device and its control codes.
constexpr char16_t kKeyFilterDevicePath[] = u"\\\\.\\kbdfiltr_QX7TL4";
constexpr uint32_t IOCTL_SET_KEY_TABLE = 0x0022210C;
constexpr uint32_t IOCTL_SET_LAYER_MODE = 0x00222138;

// OpenKeyFilter's results.
constexpr int kKeyFilterOpened = 0;
constexpr int kKeyFilterMissing = 10;

// The one message box of the system, shown when the driver cannot be opened.
constexpr char16_t kDriverMissingText[] = u"Detected that the driver is not fully installed!";
constexpr char16_t kApplicationTitle[] = u"Tavlo";
constexpr uint32_t kDriverMissingStyle = 0x00040000;  // MB_OK | MB_TOPMOST

// How long shutdown waits for the dispatcher to end before it gives up.
constexpr uint32_t kDispatcherStopTimeoutMs = 3000;

// Keyboard-input flags of a key transition (KEYBOARD_INPUT_DATA.Flags).
constexpr uint16_t kKeyMake = 0;   // KEY_MAKE
constexpr uint16_t kKeyBreak = 1;  // KEY_BREAK
constexpr uint16_t kKeyE0 = 2;     // KEY_E0
constexpr uint16_t kKeyE1 = 4;     // KEY_E1

// Action values of the key table.
constexpr uint32_t kActionCharacterPress = 0x00010201;
constexpr uint32_t kActionCharacterRelease = 0x00010200;
constexpr uint32_t kActionLayerKey = 0x00000001;

// One record of the driver's key table: 24 bytes, little-endian, no gaps.
struct KeyFilterRecord {
  uint32_t Action;
  uint16_t MakeCode;
  uint16_t Flags;
  uint32_t Reserved1;
  uint32_t Reserved2;
  uint64_t Event;  // the event handle, sign-extended where handles are 32 bits
};
// The same in the 32-bit product and the 64-bit builds: the event is widened,
// never pointer-sized.
static_assert(sizeof(KeyFilterRecord) == 24, "KeyFilterRecord is 24 bytes");
static_assert(offsetof(KeyFilterRecord, Event) == 16, "the key-table record's event is at offset 16");

constexpr int kKeyFilterRecordCount = 92;
// Records 2i and 2i+1: press and release of character slot i (0-44);
// records 90 and 91: press and release of the layer key.
struct KeyFilterTable {
  KeyFilterRecord Records[kKeyFilterRecordCount];
};
static_assert(sizeof(KeyFilterTable) == 2208, "KeyFilterTable is 2208 bytes");

// The process-wide state of the link.
//
// KeyEvents: slots 0-47 are created by CreateKeyEvents and closed by
// CloseKeyEvents; the dispatcher waits on them. Slot 48 holds the dispatcher's
// thread handle while it runs; it is written under the link's lock (by
// OpenKeyFilter, and by the dispatcher as it ends), so other threads read it
// through DispatcherThread() rather than directly.
extern platform::Handle KeyEvents[kKeyEventSlotCount];
// The driver's control device: null when not open, InvalidHandle() after a
// failed open. Written only by the main thread, under the link's lock; the
// main thread may read it directly, other threads reach it only through
// SendLayerMode.
extern platform::Handle DriverHandle;
// The last layer mode stored by SendLayerMode (1 on, 0 off).
extern std::atomic<uint8_t> LayerMode;

// Creates the 48 auto-reset, unsignalled events of slots 0-47 and clears
// slot 48 and DriverHandle (the main window's constructor).
void CreateKeyEvents();
// Closes the events of slots 0-47 and sets them to null (the main window's
// destructor). If a dispatcher is still running (it did not end within the
// shutdown wait), the events are left open: it may still wait on them.
void CloseKeyEvents();
// KeyEvents slot 48, read under the link's lock.
platform::Handle DispatcherThread();

// The keyboard-input flags of a transition of a set-1 scan code (bit 7 marks
// a code that follows an E0 prefix).
uint16_t ScanCodeFlags(uint8_t scanCode, bool press);

// Fills the key table from the events of slots 0-46, each handle widened to
// 64 bits by sign extension from `handleWidthBits` (the width of this
// process's handles unless told otherwise).
void FillKeyFilterTable(KeyFilterTable& table, const platform::Handle* events,
                        unsigned handleWidthBits = sizeof(platform::Handle) * 8);
// The same from KeyEvents.
void FillKeyFilterTable(KeyFilterTable& table);

// Opens the driver, installs the key table and starts the dispatcher.
// `window` is the main window's handle (HWND): the owner of the message box
// shown when the driver is missing, and the dispatcher's start parameter.
// Returns kKeyFilterOpened (0) once the driver is open, kKeyFilterMissing (10)
// when it cannot be opened.
int OpenKeyFilter(void* window);
// Stores the mode in LayerMode and sends it to the driver if it is open and
// CloseKeyFilter has not yet withdrawn the table. Each call sends its own
// mode; no call is made once the table's removal has been sent.
void SendLayerMode(uint8_t mode);
// If a dispatcher was started: removes the table from the driver (the last
// control call of the link: a report or layer-key event still served after it
// sends nothing), stops the dispatcher and waits (at most kDispatcherStopTimeoutMs) for it to end, then
// closes DriverHandle and sets it to null. Otherwise does nothing.
void CloseKeyFilter();

// The dispatcher's thread procedure; `window` is not used. Exit code 0.
uint32_t DispatchKeyEvents(void* window);
// Types a text as synthesized Unicode input: each UTF-16 code unit as its
// key-down followed by its key-up (same code unit), the two in one SendInput
// call of their own. Returns the number of events SendInput inserted (two per
// unit when all went in). A call that inserts fewer than its two events is
// reported once per text on the debug output, and nothing is retried. Empty
// or null text makes no call.
int InjectText(const char16_t* text);
// Which of a slot's two texts a key types: Shift selects the text with Shift;
// for letters Caps Lock reverses that choice. Empty text for a slot outside
// the character keys.
const char16_t* ChooseLayerText(int slot, bool shiftDown, bool capsLockOn);
// Reads Caps Lock and Shift from the keyboard state and types the slot's
// chosen text (the dispatcher's work for a character key). Returns
// InjectText's result.
int TypeLayerKey(int slot);

}  // namespace tavlo
