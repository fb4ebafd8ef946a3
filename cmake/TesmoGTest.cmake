# GoogleTest: the system package natively; built from Debian's source package when
# cross-compiling, so the Windows test programs link a mingw-w64 build of it.
if(CMAKE_CROSSCOMPILING OR WIN32)
  set(TESMO_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest source tree")
  if(NOT EXISTS ${TESMO_GTEST_SOURCE}/CMakeLists.txt)
    message(FATAL_ERROR "GoogleTest sources not found at ${TESMO_GTEST_SOURCE} (apt-get install googletest)")
  endif()
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  add_subdirectory(${TESMO_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  if(NOT TARGET GTest::gtest_main)
    add_library(GTest::gtest ALIAS gtest)
    add_library(GTest::gtest_main ALIAS gtest_main)
  endif()
else()
  find_package(GTest REQUIRED)
endif()
include(GoogleTest)

# A test program: discovered at test time, so building never needs Wine. Each case is
# labelled with its program's name, so a run can leave one program out (ctest -LE).
function(tesmo_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;PROPERTIES" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main)
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                       PROPERTIES TIMEOUT 120 LABELS ${name} ${T_PROPERTIES})
endfunction()
