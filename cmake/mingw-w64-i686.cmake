# Cross-compile the Windows x86 build with Debian's mingw-w64. This machine cannot run
# 32-bit programs, so the x86 build is built and inspected, never run: no emulator is set.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(TESMO_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
