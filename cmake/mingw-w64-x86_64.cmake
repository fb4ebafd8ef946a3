# Cross-compile the Windows x64 build with Debian's mingw-w64. Test programs run under Wine.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TESMO_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)

# Call the 64-bit loader directly: the `wine` launcher may pick a 32-bit loader.
find_program(TESMO_WINE64 NAMES wine64 PATHS /usr/lib/wine /usr/lib64/wine NO_CMAKE_FIND_ROOT_PATH)
if(TESMO_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TESMO_WINE64})
endif()
