# i686 Windows build of the tests: the same code as the shipped 32-bit
# Tavlo.exe, with GoogleTest, run under the 32-bit Wine in a WoW64 prefix.
# The posix thread model is needed by GoogleTest (std::mutex); the product
# itself keeps the win32 model of mingw-i686.cmake.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-i686.cmake)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tests/wine/run-under-wine.sh)
