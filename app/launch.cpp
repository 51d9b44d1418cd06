#include "app/launch.h"

#include "platform/kernel.h"

LaunchRole TakeLaunchRole(const CommandLineSwitches& switches) {
  if (switches.Kill) return LaunchRole::Killer;
  // Left open: the end of the process closes it.
  if (platform::OpenNamedMutex(kInstanceMutexName)) return LaunchRole::SecondLaunch;
  bool alreadyExisted = false;
  platform::CreateNamedMutex(kInstanceMutexName, /*initialOwner=*/true, &alreadyExisted);
  return alreadyExisted ? LaunchRole::SecondLaunch : LaunchRole::Primary;
}
