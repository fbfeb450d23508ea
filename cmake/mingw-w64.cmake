# Cross build of the console programs for 64-bit Windows with Debian's
# MinGW-w64 (the posix thread model, so std::thread and std::mutex work).
# Everything is linked statically: the .exe files need no MinGW DLLs beside them.
#
#   cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
#
# The tests run through Wine (see CMAKE_CROSSCOMPILING_EMULATOR in the
# top-level CMakeLists.txt).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MENDLY_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${MENDLY_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MENDLY_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${MENDLY_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${MENDLY_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# zlib from libz-mingw-w64-dev, linked into the programs rather than beside them.
set(ZLIB_USE_STATIC_LIBS ON)
