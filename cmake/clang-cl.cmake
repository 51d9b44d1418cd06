# The MSVC side of the CMake files, compile-checked on Linux
# (scripts/check-msvc.sh): clang-cl and llvm-rc stand in for cl.exe and
# rc.exe, and mingw-w64's Windows headers and libstdc++'s headers for the
# Windows SDK's and MSVC's. CMake takes this for MSVC (MSVC is true), so its
# MSVC branches are the ones used. Nothing is linked: the MSVC libraries are
# not here. TAVLO_CLANG_CL_ARCH is i686 or x86_64.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${TAVLO_CLANG_CL_ARCH})
set(CMAKE_C_COMPILER clang-cl-14)
set(CMAKE_CXX_COMPILER clang-cl-14)
set(CMAKE_RC_COMPILER llvm-rc-14)
set(CMAKE_AR llvm-lib-14)
set(CMAKE_LINKER lld-link-14)
set(CMAKE_MT llvm-mt-14)
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
# Forwarded to the compiler checks that CMake runs in a project of its own.
set(CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TAVLO_CLANG_CL_ARCH)

if(TAVLO_CLANG_CL_ARCH STREQUAL "x86_64")
  set(tavlo_triple x86_64-pc-windows-msvc)
  set(tavlo_arch_define _AMD64_)
  set(tavlo_mingw x86_64-w64-mingw32)
  set(tavlo_gcc /usr/lib/gcc/x86_64-w64-mingw32/12-posix)
else()
  set(tavlo_triple i686-pc-windows-msvc)
  set(tavlo_arch_define _X86_)
  set(tavlo_mingw i686-w64-mingw32)
  set(tavlo_gcc /usr/lib/gcc/i686-w64-mingw32/12-win32)
endif()
# The headers take clang for an old GCC; __STRICT_ANSI__ as GCC sets it for
# -std=c++17. libstdc++ comes first: its headers include_next the C library's.
set(tavlo_flags "--target=${tavlo_triple} /D${tavlo_arch_define} /clang:-fgnuc-version=4.2.1 /D__STRICT_ANSI__ /EHsc")
string(APPEND tavlo_flags " -imsvc ${tavlo_gcc}/include/c++ -imsvc ${tavlo_gcc}/include/c++/${tavlo_mingw}")
string(APPEND tavlo_flags " -imsvc /usr/share/mingw-w64/include")
set(CMAKE_C_FLAGS_INIT "${tavlo_flags}")
set(CMAKE_CXX_FLAGS_INIT "${tavlo_flags}")
set(CMAKE_RC_FLAGS_INIT "/I /usr/share/mingw-w64/include")
