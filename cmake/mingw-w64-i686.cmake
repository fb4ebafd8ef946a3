# Cross-compile the Windows x86 build with Debian's mingw-w64 (posix threads variant,
# which carries std::thread and std::mutex). This machine cannot run 32-bit programs,
# so the x86 build is built and inspected, never run: no emulator is set.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(TESMO_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER   ${TESMO_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TESMO_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER  ${TESMO_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TESMO_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
