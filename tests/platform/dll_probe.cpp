// A DLL that does nothing, for the test of the restricted DLL search
// (system_libraries_test): loaded by name, it shows which folders Windows
// still searches.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
