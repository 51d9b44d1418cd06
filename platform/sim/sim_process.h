// Test controls of the simulated windows, processes and drives.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/process.h"

namespace platform::sim {

// Adds a top-level window at the top of the Z order (or at the bottom) with
// the given user data, owned by the given process id (0: none).
WindowHandle AddWindow(uintptr_t userData, uint32_t processId, bool atBottom = false);
// Destroys a window: it leaves the Z order and its handle names nothing.
void RemoveWindow(WindowHandle window);
void SetWindowUserData(WindowHandle window, uintptr_t userData);

// Adds a process with its image path in device form. Each access right can be
// allowed or refused on open.
struct ProcessSetup {
  std::u16string imagePath;
  bool queryInformation = true;
  bool queryLimitedInformation = true;
  bool imagePathAvailable = true;
};
void AddProcess(uint32_t processId, const ProcessSetup& setup);

// Adds a drive: its root ("C:\") and the device name QueryDosDevice gives for
// "C:" (empty: QueryDosDevice fails for it).
void AddDrive(const std::u16string& root, const std::u16string& deviceName);

struct PostedMessage {
  WindowHandle window;
  uint32_t message;
  uintptr_t wParam;
  intptr_t lParam;
};
// Every message posted, in order.
std::vector<PostedMessage> PostedMessages();

// Runs after each successful post (machine lock not held), e.g. to let a
// signalled instance destroy its window.
void OnPost(std::function<void(const PostedMessage&)> hook);

// Process handles opened and not yet closed.
int OpenProcessHandleCount();

}  // namespace platform::sim
