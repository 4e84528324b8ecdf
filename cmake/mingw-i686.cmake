# Cross-compiles the 32-bit Windows DLL with MinGW-w64 (i686) and runs the
# test programs under Wine.
#
#   cmake --preset mingw-i686     (or -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake)
#
# Needs the i686-w64-mingw32 compilers and a 32-bit Wine (scripts/deps-windows).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(TALVO_MINGW_PREFIX i686-w64-mingw32 CACHE STRING "Target triplet of the MinGW-w64 tools")
set(CMAKE_C_COMPILER ${TALVO_MINGW_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${TALVO_MINGW_PREFIX}-g++)
set(CMAKE_RC_COMPILER ${TALVO_MINGW_PREFIX}-windres)
set(CMAKE_OBJDUMP ${TALVO_MINGW_PREFIX}-objdump CACHE FILEPATH "objdump of the MinGW-w64 tools")

# Look for libraries and headers of the target only, programs of the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${TALVO_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# CTest runs the Windows test programs through Wine.
find_program(TALVO_WINE NAMES wine wine-stable)
if(TALVO_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TALVO_WINE})
endif()
