// Controls of the simulated keyboard state and input stream.
//
// Shift, Caps Lock and VK_PACKET are what GetKeyState reports, as Windows
// reports them: 0xFF80 while the key is down, bit 0 its toggle, which flips
// with every press (Shift's too: after one press and release Shift reads
// 0x0001). VK_PACKET moves with the Unicode events of the input stream, as on
// Windows: down from a Unicode key-down until a Unicode key-up (one state for
// every code unit). Virtual-key events are recorded but move no key state
// (the system sends none). Every event passed to SendInput is recorded in the
// sink, in order. Failure injection: "GetKeyState" (reads as key up, toggle
// off), "SendInput" (inserts nothing), and ShortenNextSendInput (inserts part
// of a call's events).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/input.h"
#include "platform/kernel.h"

namespace platform::sim {

// Shift pressed or released (a press flips its toggle).
void SetShiftDown(bool down);
// Caps Lock pressed and released as needed to leave its toggle `on`.
void SetCapsLock(bool on);
// One press and release of Caps Lock.
void ToggleCapsLock();
// Caps Lock pressed (its toggle flips) or released, and held in between.
void SetCapsLockKeyDown(bool down);

// Every event inserted into the input stream since the reset.
std::vector<InputEvent> SentInputs();
size_t SentInputCount();
// SendInput calls made, including those that inserted nothing.
long SendInputCallCount();
// The text typed so far: the code units of the Unicode key-down events.
std::u16string TypedText();
// Unicode key-downs inserted while VK_PACKET was already down: on Windows an
// application receives each as an auto-repeat of the held key (bit 30 of
// WM_KEYDOWN's lParam set), which toolkits that track key state take for a
// held key. (Wine 8 does not set that bit; its key state still shows the key
// held.)
long RepeatedKeyDownCount();
// The next SendInput call that inserts anything inserts only its first
// `inserted` events, returns that number and sets `error` as its last error
// (the input was blocked part-way, which SendInput's result allows for); a
// call of `inserted` events or fewer inserts them all.
void ShortenNextSendInput(uint32_t inserted, uint32_t error = kErrorAccessDenied);
void ClearSentInputs();
// Blocks until at least `count` events have been inserted since the reset.
bool WaitForSentInputCount(size_t count, uint32_t timeoutMs = 10000);

// While held, SendInput blocks before inserting anything (a slow input
// stream). WaitForHeldSendInput returns once a caller is blocked there.
void HoldInput(bool hold);
bool WaitForHeldSendInput(uint32_t timeoutMs = 10000);

}  // namespace platform::sim
