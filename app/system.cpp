#include "app/system.h"

#include "devices/keyboard_list.h"
#include "layer/driver_link.h"

void CreateSystemEvents() { tavlo::CreateKeyEvents(); }

int StartSystem(void* window) {
  const int opened = tavlo::OpenKeyFilter(window);
  tavlo::ScanKeyboardInterfaces(window);
  return opened;
}

void StopSystem() {
  tavlo::CloseKeyFilter();
  tavlo::ReleaseKeyboardInterfaces();
}

void CloseSystemEvents() { tavlo::CloseKeyEvents(); }
