// A program that imports hid.dll as any program that does not take care
// would: run from the folder of the planted hid.dll (see CMakeLists.txt), it
// gets the planted one, which leaves its marker. Exits 0 once its call is
// answered.
#include <windows.h>
extern "C" {
#include <hidsdi.h>
}

int main() {
  GUID guid = {};
  ::HidD_GetHidGuid(&guid);
  return guid.Data1 == 0x4D1E55B2 ? 0 : 1;
}
