# Cross-build for 64-bit Windows with MinGW-w64 (Debian: g++-mingw-w64-x86-64),
# running the built programs under Wine (Debian: wine64).
#
#   cmake -S . -B build/windows --toolchain cmake/mingw-w64.cmake
#
# or simply the `windows` preset.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TAVBIN_MINGW_TRIPLE x86_64-w64-mingw32)

# Debian ships each MinGW compiler twice: the -posix variant implements C++ threads
# through libwinpthread, the -win32 variant straight on the Windows API but, in
# GCC 12, without std::mutex, which GoogleTest needs. Take -posix: the library uses
# no threads and links libgcc statically, so the DLL still imports only KERNEL32
# and msvcrt.dll (tests/check_module.py fails otherwise), and the test programs
# below link libwinpthread statically.
find_program(CMAKE_C_COMPILER NAMES ${TAVBIN_MINGW_TRIPLE}-gcc-posix ${TAVBIN_MINGW_TRIPLE}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${TAVBIN_MINGW_TRIPLE}-g++-posix ${TAVBIN_MINGW_TRIPLE}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${TAVBIN_MINGW_TRIPLE}-windres)

# Headers, libraries and packages for the target come from MinGW's root, and from
# any root given with -DCMAKE_FIND_ROOT_PATH=... (an unpacked release archive).
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${TAVBIN_MINGW_TRIPLE})
list(REMOVE_DUPLICATES CMAKE_FIND_ROOT_PATH)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs carry their own copy of the compiler's run-time libraries, so Wine
# needs no MinGW DLLs on its path. (The library itself links only libgcc statically
# and nothing from libstdc++; see the top-level CMakeLists.txt.)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Wine: the 64-bit loader itself (Debian's `wine` wrapper looks for a 32-bit Wine
# first and complains when there is none), quiet, with a private prefix inside the
# build tree so nothing outside it is touched, and without the offers to install
# Mono and Gecko, which would wait for a display. wine-run.sh keeps the wineserver
# off CTest's output pipes.
find_program(TAVBIN_WINE NAMES wine64 wine PATHS /usr/lib/wine /usr/lib64/wine NO_CMAKE_FIND_ROOT_PATH)
find_program(TAVBIN_WINESERVER NAMES wineserver64 wineserver PATHS /usr/lib/wine /usr/lib64/wine NO_CMAKE_FIND_ROOT_PATH)
if(TAVBIN_WINE)
  set(TAVBIN_WINEPREFIX "${CMAKE_BINARY_DIR}/wine-prefix" CACHE PATH "Wine prefix the tests run in")
  set(CMAKE_CROSSCOMPILING_EMULATOR
      /usr/bin/env WINEDEBUG=-all WINEPREFIX=${TAVBIN_WINEPREFIX} WINEDLLOVERRIDES=mscoree,mshtml=
      WINESERVER=${TAVBIN_WINESERVER} /bin/sh ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh ${TAVBIN_WINE})
endif()
