// TEMPORARY: empty definitions of the driver-link and keyboard-list calls the
// main window makes, only so this branch links before those subsystems are
// merged. This file goes away when layer/driver_link and devices/keyboard_list
// land.
#include "devices/keyboard_list.h"
#include "layer/driver_link.h"

void CreateKeyEvents() {}
void CloseKeyEvents() {}
int OpenKeyFilter(void*) { return 0; }
void CloseKeyFilter() {}
void ScanKeyboardInterfaces(void*) {}
int AddKeyboardInterface(const char16_t*, void*) { return 0; }
void RemoveKeyboardInterface(const char16_t*) {}
void ReleaseKeyboardInterfaces() {}
