#include "app/system.h"

#include "devices/keyboard_list.h"
#include "layer/driver_link.h"

int StartSystem(void* window) {
  tavlo::CreateKeyEvents();
  const int opened = tavlo::OpenKeyFilter(window);
  tavlo::ScanKeyboardInterfaces(window);
  return opened;
}

void StopSystem() {
  tavlo::CloseKeyFilter();
  tavlo::ReleaseKeyboardInterfaces();
  tavlo::CloseKeyEvents();
}
