# Cross-compile the Windows x86 build with Debian's mingw-w64. Test programs run under
# 32-bit Wine (package wine32) where the machine runs 32-bit programs at all.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(TESMO_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)

# The 32-bit loader itself: the `wine` launcher on PATH, where there is one, may be a
# script that picks a loader.
find_program(TESMO_WINE32 NAMES wine PATHS /usr/lib/wine NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(TESMO_WINE32)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TESMO_WINE32})
endif()
