// The filter-driver link as the main window uses it.
#pragma once

// Creates the key events (slots 0-47) and clears the dispatcher slot; the
// driver handle starts null.
void CreateKeyEvents();
// Closes the key events.
void CloseKeyEvents();
// Opens the driver, installs the key table and starts the dispatcher; shows
// the driver-missing message box (owned by window) when the driver cannot be
// opened. 1 on success, 0 on failure.
int OpenKeyFilter(void* window);
// Removes the key table, stops the dispatcher and closes the driver.
void CloseKeyFilter();
