// Controls of the simulated keyboard state and input stream.
//
// Shift and Caps Lock are what GetKeyState reports; every event passed to
// SendInput is recorded in the sink, in order. Failure injection:
// "GetKeyState" (reads as key up, toggle off) and "SendInput" (inserts
// nothing).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/input.h"

namespace platform::sim {

void SetShiftDown(bool down);
void SetCapsLock(bool on);
void ToggleCapsLock();

// Every event inserted into the input stream since the reset.
std::vector<InputEvent> SentInputs();
size_t SentInputCount();
// SendInput calls made, including those that inserted nothing.
long SendInputCallCount();
// The text typed so far: the code units of the Unicode key-down events.
std::u16string TypedText();
void ClearSentInputs();
// Blocks until at least `count` events have been inserted since the reset.
bool WaitForSentInputCount(size_t count, uint32_t timeoutMs = 10000);

// While held, SendInput blocks before inserting anything (a slow input
// stream). WaitForHeldSendInput returns once a caller is blocked there.
void HoldInput(bool hold);
bool WaitForHeldSendInput(uint32_t timeoutMs = 10000);

}  // namespace platform::sim
