# Cross-builds 64-bit Windows programs with mingw-w64 (the POSIX-threads
# variant of GCC) and runs them under Wine:
#   cmake -S <project> -B <build> -DCMAKE_TOOLCHAIN_FILE=<this file>
# The C++ runtime is linked in statically, so a built program needs no DLL
# besides those of Windows itself. The emulator that runs built programs (for
# CTest) is the 64-bit Wine; set VELOXA_WINE to choose another one.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VELOXA_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VELOXA_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELOXA_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${VELOXA_MINGW_TRIPLET}-windres)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Libraries, headers and CMake packages come from the mingw-w64 tree only;
# programs run at build time come from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${VELOXA_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Debian's wine64 package installs the 64-bit loader as /usr/lib/wine/wine64
# and puts nothing on PATH; the "wine" package adds /usr/bin/wine, which
# elsewhere is often the one loader for 32- and 64-bit programs.
if(NOT VELOXA_WINE)
  find_program(VELOXA_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH
               DOC "Wine loader that runs the built 64-bit Windows programs")
endif()
if(VELOXA_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VELOXA_WINE})
endif()
