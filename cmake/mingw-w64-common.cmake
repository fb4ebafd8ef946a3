# What both mingw-w64 toolchain files share; they set TESMO_MINGW_PREFIX and the
# processor first. The posix threads variant carries std::thread and std::mutex.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER   ${TESMO_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TESMO_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER  ${TESMO_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TESMO_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
