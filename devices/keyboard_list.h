// The attached-keyboard list as the main window uses it.
#pragma once

namespace tavlo {

// Offers every present HID interface to the arrival test.
void ScanKeyboardInterfaces(void* window);
// A HID interface arrived: lists it if it is one of the keyboard's. 1 if listed.
int AddKeyboardInterface(const char16_t* path, void* window);
// A HID interface left: drops it from the list.
void RemoveKeyboardInterface(const char16_t* path);
// Destroys every listed interface; the list ends empty.
void ReleaseKeyboardInterfaces();

}  // namespace tavlo
