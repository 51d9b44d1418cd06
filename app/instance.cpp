#include "app/instance.h"

#include "platform/kernel.h"
#include "platform/owner.h"
#include "platform/process.h"
#include "platform/text.h"

char16_t ModulePath[platform::kPathBufferLength];
int StartedByStartSwitch = 0;

namespace {

using platform::kPathBufferLength;

// The length of `prefix` if `text` starts with it (case ignored) and the next
// code unit of `text` is a backslash; 0 otherwise.
size_t DevicePrefixLength(const char16_t* text, const char16_t* prefix) {
  if (prefix[0] == u'\0') return 0;
  size_t n = 0;
  while (prefix[n] != u'\0') {
    if (text[n] == u'\0' || platform::ToUpper(text[n]) != platform::ToUpper(prefix[n])) return 0;
    ++n;
  }
  // A device name given with a trailing backslash already ends at one; the
  // backslash stays with the rest of the path.
  if (prefix[n - 1] == u'\\') return n - 1;
  return text[n] == u'\\' ? n : 0;
}

// Whether the window is the marked main window of an instance running from
// modulePath.
bool IsInstanceOf(platform::WindowHandle window, const char16_t* modulePath) {
  if (platform::WindowUserData(window) != InstanceMarker) return false;
  const uint32_t processId = platform::WindowProcessId(window);
  if (processId == 0) return false;
  platform::OwnedHandle process(platform::OpenProcessForQuery(platform::kProcessQueryInformation, processId));
  if (!platform::IsUsableHandle(process.Get())) {
    process.Reset(platform::OpenProcessForQuery(platform::kProcessQueryLimitedInformation, processId));
    if (!platform::IsUsableHandle(process.Get())) return false;
  }
  char16_t image[kPathBufferLength] = {};
  const uint32_t length = platform::ProcessImageFileName(process.Get(), image, kPathBufferLength);
  if (length == 0) return false;
  image[kPathBufferLength - 1] = u'\0';
  char16_t dosPath[kPathBufferLength] = {};
  const bool converted = ImagePathToDosPath(image, dosPath);
  if (!converted) return false;
  return platform::SameExecutablePath(dosPath, modulePath);
}

}  // namespace

bool ImagePathToDosPath(const char16_t* imagePath, char16_t* out) {
  if (!imagePath || !out) return false;
  char16_t drives[kPathBufferLength] = {};
  const uint32_t listLength = platform::LogicalDriveStrings(kPathBufferLength, drives);
  // 0 is a failure; a length that does not fit means the list was not stored.
  if (listLength == 0 || listLength >= kPathBufferLength) return false;
  drives[kPathBufferLength - 1] = u'\0';

  for (const char16_t* root = drives; root < drives + listLength && *root != u'\0';
       root += platform::TextLength(root) + 1) {
    const size_t rootLength = platform::TextLength(root);
    if (rootLength < 2) continue;
    char16_t driveName[kPathBufferLength] = {};
    platform::CopyBounded(driveName, rootLength, root);  // drops the backslash

    char16_t device[kPathBufferLength] = {};
    if (platform::QueryDosDeviceName(driveName, device, kPathBufferLength) == 0) continue;
    device[kPathBufferLength - 1] = u'\0';
    if (device[0] == u'\0') continue;

    const size_t matched = DevicePrefixLength(imagePath, device);
    if (matched == 0) continue;
    platform::CopyBounded(out, kPathBufferLength, driveName);
    platform::AppendBounded(out, kPathBufferLength, imagePath + matched);
    return true;
  }
  return false;
}

void SignalRunningInstance(const char16_t* modulePath, InstanceSignal signal) {
  if (!modulePath || (signal != SignalOpen && signal != SignalKill)) return;

  if (signal == SignalOpen) {
    for (platform::WindowHandle window = platform::TopWindow(); window; window = platform::NextWindow(window)) {
      if (!IsInstanceOf(window, modulePath) || platform::WindowUserData(window) != InstanceMarker) continue;
      if (StartedByStartSwitch == 0) {
        platform::PostWindowMessage(window, WM_INSTANCE_OPEN, kInstanceOpenParam, 0);
      }
      return;  // only the first instance in Z order
    }
    return;
  }

  // A kill first finds every instance, then signals them. A signalled
  // instance closes within the pause, and with it every window of its
  // process; a walk that went on from there would lose its place and miss
  // the instances further down.
  platform::WindowHandle instances[kMaxSignalledInstances];
  size_t found = 0;
  for (platform::WindowHandle window = platform::TopWindow(); window && found < kMaxSignalledInstances;
       window = platform::NextWindow(window)) {
    if (IsInstanceOf(window, modulePath)) instances[found++] = window;
  }
  for (size_t i = 0; i < found; ++i) {
    if (platform::WindowUserData(instances[i]) != InstanceMarker) continue;
    platform::PostWindowMessage(instances[i], WM_INSTANCE_KILL, kInstanceKillParam, 0);
    platform::Sleep(100);
  }
}
