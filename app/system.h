// The order in which the running instance brings its subsystems up and takes
// them down, in one place. The hidden main window creates the key events when
// it is built, runs StartSystem at the end of its initialisation and
// StopSystem when it is destroyed, and closes the events in its destructor;
// the simulation runner, the tests and the benchmarks run the same four, in
// that order, so what they show holds for the window's order.
#pragma once

// Creates the key events. They exist before the dispatcher that waits on them
// starts and are closed only after it has ended.
void CreateSystemEvents();

// Opens the filter-driver link (which installs the key table and starts the
// dispatcher, or shows the driver-missing box) and last lists the keyboards
// already attached. `window` is the main window (HWND), or null. Returns
// OpenKeyFilter's result: kKeyFilterOpened (0) or kKeyFilterMissing (10).
int StartSystem(void* window);

// Closes the filter-driver link (the dispatcher ends before the driver's
// handle is closed), then releases every listed keyboard (each reader ends
// before its record is freed).
void StopSystem();

// Closes the key events, once StopSystem has run.
void CloseSystemEvents();
