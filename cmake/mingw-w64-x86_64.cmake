# Cross-compile the Windows x64 build with Debian's mingw-w64 (posix threads variant,
# which carries std::thread and std::mutex). Test programs run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TESMO_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER   ${TESMO_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TESMO_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER  ${TESMO_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TESMO_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Call the 64-bit loader directly: the `wine` launcher may pick a 32-bit loader.
find_program(TESMO_WINE64 NAMES wine64 PATHS /usr/lib/wine /usr/lib64/wine NO_CMAKE_FIND_ROOT_PATH)
if(TESMO_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TESMO_WINE64})
endif()
