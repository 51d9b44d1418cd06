// Which role a launch takes: the killer, a second launch, or the primary
// instance. The single-instance mutex marks that a primary instance runs in
// this logon session.
#pragma once

#include "app/command_line.h"

constexpr char16_t kInstanceMutexName[] = u"Mornu_Mutex_QX7TL4";

enum class LaunchRole {
  Killer,        // "/Kill": signal every running instance, then end
  SecondLaunch,  // a primary instance exists: signal it (unless "/Start"), then end
  Primary,       // this launch made the mutex: run the hidden main window
};

// A kill neither opens nor creates the mutex. Otherwise a mutex that opens
// means a primary runs; one that does not is created, owned. A create that
// finds the mutex already there lost a race with another launch (both found
// nothing to open): that launch is the primary, this one a second launch. A
// create that fails altogether is not noticed: the launch runs as the
// primary. The handle is kept open until the process ends.
LaunchRole TakeLaunchRole(const CommandLineSwitches& switches);
