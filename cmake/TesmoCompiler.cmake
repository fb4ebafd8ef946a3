# Warnings and run-time linkage shared by every target.
if(MSVC)
  add_compile_options(/W4 /permissive- /utf-8)
  # /EHa: the catch (...) of the list operations and ShowPropertyPages also catches
  # structured exceptions (an access violation in a driver's filter); /EHsc would not.
  string(REGEX REPLACE "/EH[a-z]+" "" CMAKE_CXX_FLAGS "${CMAKE_CXX_FLAGS}")
  string(APPEND CMAKE_CXX_FLAGS " /EHa")
  # Static run-time: the DLL needs nothing beyond system DLLs.
  set(CMAKE_MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>")
else()
  add_compile_options(-Wall -Wextra -Wno-unused-parameter)
endif()

if(MINGW)
  # Link the compiler run-time (libgcc, libstdc++, winpthread) statically.
  add_link_options(-static -static-libgcc -static-libstdc++)
endif()

if(NOT WIN32 AND TESMO_SANITIZE)
  add_compile_options(-fsanitize=${TESMO_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${TESMO_SANITIZE})
endif()

if(NOT CMAKE_BUILD_TYPE AND NOT CMAKE_CONFIGURATION_TYPES)
  set(CMAKE_BUILD_TYPE RelWithDebInfo CACHE STRING "" FORCE)
endif()
