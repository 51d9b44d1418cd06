# Test helpers that must exist at both bitnesses: a DLL loads only into a
# process of its own bitness, and the Tavlo.exe under test may be the shipped
# 32-bit one. Such a helper's folder is built by the x86_64 test build as
# usual, and once more for i686 as a project of its own.
#
#   tavlo_helper_settings()      in such a folder, right after its own
#                                project() (when it is built as a project of
#                                its own): the settings of the test build
#                                (C++17, warnings, UNICODE, static runtime)
#   tavlo_add_i686_build(TARGET SOURCE_DIR BINARY_DIR)
#                                from the x86_64 build: TARGET builds
#                                SOURCE_DIR with the i686 compiler into
#                                BINARY_DIR, every time

# The source tree's top, for the helpers' includes.
get_filename_component(TAVLO_HELPER_SOURCE_ROOT ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)

macro(tavlo_helper_settings)
  set(CMAKE_CXX_STANDARD 17)
  add_compile_options(-Wall -Wextra)
  if(TAVLO_WERROR)
    add_compile_options(-Werror)
  endif()
  add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN)
  add_link_options(-static -static-libgcc -static-libstdc++)
  include_directories(${TAVLO_HELPER_SOURCE_ROOT})
endmacro()

function(tavlo_add_i686_build target source_dir binary_dir)
  include(ExternalProject)
  ExternalProject_Add(${target}
    SOURCE_DIR ${source_dir}
    BINARY_DIR ${binary_dir}
    CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/mingw-i686.cmake
               -DCMAKE_BUILD_TYPE=Release -DTAVLO_WERROR=${TAVLO_WERROR}
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON)
endfunction()
