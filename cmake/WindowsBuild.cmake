# What the Windows build (cmake/mingw-w64.cmake) takes in place of the Linux
# packages: header-only nlohmann-json from the build machine, GoogleTest built
# from Debian's sources, and Wine to run the tests.

# nlohmann-json is header-only: its headers are copied into the build tree so
# that no other header of the build machine's /usr/include is seen.
set(_json_headers /usr/include/nlohmann)
if(NOT EXISTS ${_json_headers}/json.hpp)
  message(FATAL_ERROR "nlohmann-json headers not found in ${_json_headers} (package nlohmann-json3-dev)")
endif()
file(COPY ${_json_headers} DESTINATION ${CMAKE_BINARY_DIR}/host-headers)
add_library(nlohmann_json INTERFACE)
target_include_directories(nlohmann_json SYSTEM INTERFACE ${CMAKE_BINARY_DIR}/host-headers)
add_library(nlohmann_json::nlohmann_json ALIAS nlohmann_json)

# GoogleTest from source (libgtest-dev installs it in /usr/src/googletest),
# without our warnings (it is not our code to fix).
set(MENDLY_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for the Windows build")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(${MENDLY_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
# (GoogleTest defines the GTest:: names itself.)
foreach(t gtest gtest_main gmock gmock_main)
  target_compile_options(${t} PRIVATE -w)
endforeach()

# The tests run through Wine, in a prefix of their own inside the build tree
# (made once by scripts/test-windows.sh with "wineboot -i").
if(CMAKE_CROSSCOMPILING AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(MENDLY_WINE wine)
  if(MENDLY_WINE)
    set(MENDLY_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix CACHE PATH "Wine prefix of the Windows tests")
    set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/env WINEPREFIX=${MENDLY_WINEPREFIX} WINEDEBUG=-all ${MENDLY_WINE})
  endif()
endif()

# Every program lands at the top of the build folder, as tidewright.exe and
# keelswap.exe ship: side by side in one folder.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
# Unicode Windows headers: the W functions and wide strings throughout.
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX)
# MinGW's GCC 12 reports a false "may overlap" (-Wrestrict, GCC bug 105329)
# inside std::string when a literal is prepended to a temporary string.
add_compile_options(-Wno-restrict)

# mendly_windows_program(<target>...): the programs' manifest (utf8.rc), whose
# UTF-8 process code page gives main() its arguments as UTF-8, as on Linux.
enable_language(RC)
function(mendly_windows_program)
  foreach(t ${ARGN})
    target_sources(${t} PRIVATE ${CMAKE_SOURCE_DIR}/cmake/windows/utf8.rc)
  endforeach()
endfunction()
