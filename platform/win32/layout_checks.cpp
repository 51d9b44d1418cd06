// Record layouts the system depends on, checked against the SDK at compile
// time. The 32-bit sizes are what the shipped i686 program passes to Windows.
// The driver's key table, which no SDK describes, is checked beside its
// definition (layer/driver_link.h).
#include <windows.h>
#include <setupapi.h>

#include <cstddef>

#include "platform/input.h"

namespace {

#if defined(_WIN64)
static_assert(sizeof(INPUT) == 40, "INPUT on x64");
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 32, "SP_DEVICE_INTERFACE_DATA on x64");
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) == 8, "detail record's fixed part on x64");
#else
static_assert(sizeof(void*) == 4, "the product is a 32-bit program");
static_assert(sizeof(INPUT) == 28, "INPUT is 28 bytes in a 32-bit process");
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 28, "SP_DEVICE_INTERFACE_DATA is 28 bytes in a 32-bit process");
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) == 6,
              "the detail record's fixed part is 6 bytes in a 32-bit process");
static_assert(sizeof(platform::InputEvent) == 28, "the portable INPUT mirror is 28 bytes in a 32-bit process");
static_assert(offsetof(platform::InputEvent, ki) == 4, "the keyboard record follows INPUT.type directly");
#endif
static_assert(sizeof(platform::InputEvent) == sizeof(INPUT), "the portable INPUT mirror matches the SDK's");
static_assert(sizeof(wchar_t) == 2 && sizeof(wchar_t) == sizeof(char16_t),
              "UTF-16 text is a cast away at the boundary");

}  // namespace
