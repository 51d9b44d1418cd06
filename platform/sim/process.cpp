// Simulated windows, processes and drives.
#include <algorithm>
#include <map>
#include <memory>
#include <mutex>

#include "platform/process.h"
#include "platform/sim/machine.h"
#include "platform/sim/sim_process.h"
#include "platform/text.h"

namespace platform::sim {

namespace {

struct Window {
  uintptr_t userData;
  uint32_t processId;
};

struct ProcessObject : Object {
  uint32_t processId = 0;
  uint32_t access = 0;
  void OnLastHandleClosedLocked() override;
};

struct Area {
  std::vector<uintptr_t> zOrder;  // top first
  std::map<uintptr_t, Window> windows;
  uintptr_t nextWindow = 0x10000;
  std::map<uint32_t, ProcessSetup> processes;
  std::vector<std::pair<std::u16string, std::u16string>> drives;
  std::vector<PostedMessage> posted;
  std::function<void(const PostedMessage&)> postHook;
  int openProcessHandles = 0;
};

Area& A() {
  static Area* area = new Area();  // never destroyed, like the machine itself
  return *area;
}

const ResetRegistration g_reset([] {
  std::lock_guard<std::mutex> lock(MachineMutex());
  A() = Area();
});

void ProcessObject::OnLastHandleClosedLocked() { A().openProcessHandles--; }

uintptr_t Key(WindowHandle window) { return reinterpret_cast<uintptr_t>(window); }

// Copies text with its NUL into buffer if it fits; returns code units stored
// with the NUL, or 0.
uint32_t StoreText(const std::u16string& text, char16_t* buffer, uint32_t capacity) {
  if (!buffer || text.size() + 1 > capacity) return 0;
  std::copy(text.begin(), text.end(), buffer);
  buffer[text.size()] = u'\0';
  return static_cast<uint32_t>(text.size() + 1);
}

}  // namespace

WindowHandle AddWindow(uintptr_t userData, uint32_t processId, bool atBottom) {
  std::lock_guard<std::mutex> lock(MachineMutex());
  Area& a = A();
  const uintptr_t key = a.nextWindow;
  a.nextWindow += 0x10;
  a.windows[key] = Window{userData, processId};
  if (atBottom) {
    a.zOrder.push_back(key);
  } else {
    a.zOrder.insert(a.zOrder.begin(), key);
  }
  return reinterpret_cast<WindowHandle>(key);
}

void RemoveWindow(WindowHandle window) {
  std::lock_guard<std::mutex> lock(MachineMutex());
  Area& a = A();
  a.windows.erase(Key(window));
  a.zOrder.erase(std::remove(a.zOrder.begin(), a.zOrder.end(), Key(window)), a.zOrder.end());
}

void SetWindowUserData(WindowHandle window, uintptr_t userData) {
  std::lock_guard<std::mutex> lock(MachineMutex());
  auto it = A().windows.find(Key(window));
  if (it != A().windows.end()) it->second.userData = userData;
}

void AddProcess(uint32_t processId, const ProcessSetup& setup) {
  std::lock_guard<std::mutex> lock(MachineMutex());
  A().processes[processId] = setup;
}

void AddDrive(const std::u16string& root, const std::u16string& deviceName) {
  std::lock_guard<std::mutex> lock(MachineMutex());
  A().drives.emplace_back(root, deviceName);
}

std::vector<PostedMessage> PostedMessages() {
  std::lock_guard<std::mutex> lock(MachineMutex());
  return A().posted;
}

void OnPost(std::function<void(const PostedMessage&)> hook) {
  std::lock_guard<std::mutex> lock(MachineMutex());
  A().postHook = std::move(hook);
}

int OpenProcessHandleCount() {
  std::lock_guard<std::mutex> lock(MachineMutex());
  return A().openProcessHandles;
}

}  // namespace platform::sim

namespace platform {

using namespace platform::sim;

WindowHandle TopWindow() {
  std::lock_guard<std::mutex> lock(MachineMutex());
  if (A().zOrder.empty()) return nullptr;
  return reinterpret_cast<WindowHandle>(A().zOrder.front());
}

WindowHandle NextWindow(WindowHandle window) {
  std::lock_guard<std::mutex> lock(MachineMutex());
  const auto& z = A().zOrder;
  auto it = std::find(z.begin(), z.end(), Key(window));
  // A destroyed window has no next window, as GetWindow fails for it.
  if (it == z.end() || ++it == z.end()) return nullptr;
  return reinterpret_cast<WindowHandle>(*it);
}

uintptr_t WindowUserData(WindowHandle window) {
  std::lock_guard<std::mutex> lock(MachineMutex());
  auto it = A().windows.find(Key(window));
  return it == A().windows.end() ? 0 : it->second.userData;
}

uint32_t WindowProcessId(WindowHandle window) {
  std::lock_guard<std::mutex> lock(MachineMutex());
  auto it = A().windows.find(Key(window));
  return it == A().windows.end() ? 0 : it->second.processId;
}

Handle OpenProcessForQuery(uint32_t access, uint32_t processId) {
  std::lock_guard<std::mutex> lock(MachineMutex());
  if (ShouldFailLocked("OpenProcess")) return NullHandle();
  auto it = A().processes.find(processId);
  if (it == A().processes.end()) {
    SetLastError(kErrorInvalidParameter);
    return NullHandle();
  }
  const bool allowed = (access == kProcessQueryInformation && it->second.queryInformation) ||
                       (access == kProcessQueryLimitedInformation && it->second.queryLimitedInformation);
  if (!allowed) {
    SetLastError(kErrorAccessDenied);
    return NullHandle();
  }
  auto process = std::make_shared<ProcessObject>();
  process->processId = processId;
  process->access = access;
  A().openProcessHandles++;
  return AddHandleLocked(process);
}

uint32_t ProcessImageFileName(Handle handle, char16_t* buffer, uint32_t capacity) {
  std::lock_guard<std::mutex> lock(MachineMutex());
  if (ShouldFailLocked("GetProcessImageFileName")) return 0;
  auto process = LookupAsLocked<ProcessObject>(handle);
  if (!process) {
    SetLastError(kErrorInvalidHandle);
    return 0;
  }
  auto it = A().processes.find(process->processId);
  if (it == A().processes.end() || !it->second.imagePathAvailable) {
    SetLastError(kErrorAccessDenied);
    return 0;
  }
  const uint32_t stored = StoreText(it->second.imagePath, buffer, capacity);
  if (stored == 0) {
    SetLastError(kErrorInsufficientBuffer);
    return 0;
  }
  return stored - 1;
}

uint32_t LogicalDriveStrings(uint32_t capacity, char16_t* buffer) {
  std::lock_guard<std::mutex> lock(MachineMutex());
  if (ShouldFailLocked("GetLogicalDriveStrings")) return 0;
  std::u16string list;
  for (const auto& drive : A().drives) {
    list += drive.first;
    list.push_back(u'\0');
  }
  if (list.size() + 1 > capacity || !buffer) return static_cast<uint32_t>(list.size() + 1);
  std::copy(list.begin(), list.end(), buffer);
  buffer[list.size()] = u'\0';
  return static_cast<uint32_t>(list.size());
}

uint32_t QueryDosDeviceName(const char16_t* deviceName, char16_t* buffer, uint32_t capacity) {
  std::lock_guard<std::mutex> lock(MachineMutex());
  if (ShouldFailLocked("QueryDosDevice")) return 0;
  for (const auto& drive : A().drives) {
    std::u16string name = drive.first;
    if (!name.empty()) name.pop_back();
    if (deviceName && EqualsNoCase(name.c_str(), deviceName) && !drive.second.empty()) {
      // A list of one name and the list's terminating NUL.
      if (drive.second.size() + 2 > capacity || !buffer) {
        SetLastError(kErrorInsufficientBuffer);
        return 0;
      }
      std::copy(drive.second.begin(), drive.second.end(), buffer);
      buffer[drive.second.size()] = u'\0';
      buffer[drive.second.size() + 1] = u'\0';
      return static_cast<uint32_t>(drive.second.size() + 2);
    }
  }
  SetLastError(kErrorFileNotFound);
  return 0;
}

bool SameExecutablePath(const char16_t* a, const char16_t* b) { return EqualsNoCase(a, b); }

bool PostWindowMessage(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  std::function<void(const PostedMessage&)> hook;
  PostedMessage posted{window, message, wParam, lParam};
  {
    std::lock_guard<std::mutex> lock(MachineMutex());
    if (ShouldFailLocked("PostMessage")) return false;
    if (!A().windows.count(Key(window))) {
      SetLastError(1400);  // ERROR_INVALID_WINDOW_HANDLE
      return false;
    }
    A().posted.push_back(posted);
    hook = A().postHook;
  }
  if (hook) hook(posted);
  return true;
}

}  // namespace platform
