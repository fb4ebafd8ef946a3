# The two pixel libraries inside the library: libyuv (conversion, crop and scale) and
# libjpeg-turbo's TurboJPEG (MJPG decoding). Both come from Debian:
# - natively, its packages libyuv-dev and libturbojpeg0-dev;
# - for Windows, its source packages (scripts/fetch-pixel-sources.sh unpacks them into
#   build/deps/src), built here once per build directory as static libraries with this
#   build's own toolchain, libjpeg-turbo with its NASM SIMD. ExternalProject keeps its
#   stamps, so a build where nothing changed never rebuilds them.
# Result: the interface target tesmo_pixels (headers and static libraries), and
# TESMO_PIXEL_LICENSES, the licence texts the package ships.
include_guard(GLOBAL)

add_library(tesmo_pixels INTERFACE)

if(NOT WIN32)
  find_path(TESMO_LIBYUV_INCLUDE libyuv.h REQUIRED)
  find_library(TESMO_LIBYUV NAMES libyuv.a yuv REQUIRED)
  find_path(TESMO_TURBOJPEG_INCLUDE turbojpeg.h REQUIRED)
  find_library(TESMO_TURBOJPEG NAMES libturbojpeg.a turbojpeg REQUIRED)
  target_include_directories(tesmo_pixels SYSTEM INTERFACE ${TESMO_LIBYUV_INCLUDE}
                                                           ${TESMO_TURBOJPEG_INCLUDE})
  target_link_libraries(tesmo_pixels INTERFACE ${TESMO_LIBYUV} ${TESMO_TURBOJPEG})
  set(TESMO_PIXEL_LICENSES "")
  return()
endif()

include(ExternalProject)
set(TESMO_PIXEL_SOURCES ${PROJECT_SOURCE_DIR}/build/deps/src CACHE PATH
    "Unpacked Debian source packages libjpeg-turbo and libyuv (scripts/fetch-pixel-sources.sh)")
foreach(package libjpeg-turbo libyuv)
  if(NOT EXISTS ${TESMO_PIXEL_SOURCES}/${package}/CMakeLists.txt)
    message(FATAL_ERROR "${package} sources missing in ${TESMO_PIXEL_SOURCES}: "
                        "run scripts/fetch-pixel-sources.sh (scripts/install-deps.sh does)")
  endif()
endforeach()

set(pixels_root ${CMAKE_BINARY_DIR}/pixels)
# The sub-builds configure in folders of their own, so a toolchain file named relative
# to the tree (as the by-hand build names it, and as a second configure leaves it in the
# cache) reaches them as an absolute path: where CMake itself finds it, in the build
# folder or else in the source tree.
set(pixels_toolchain "${CMAKE_TOOLCHAIN_FILE}")
if(pixels_toolchain AND NOT IS_ABSOLUTE "${pixels_toolchain}")
  if(EXISTS "${CMAKE_BINARY_DIR}/${pixels_toolchain}")
    get_filename_component(pixels_toolchain "${pixels_toolchain}" ABSOLUTE BASE_DIR "${CMAKE_BINARY_DIR}")
  else()
    get_filename_component(pixels_toolchain "${pixels_toolchain}" ABSOLUTE BASE_DIR "${PROJECT_SOURCE_DIR}")
  endif()
endif()
# One section per function, so the DLL's link keeps only the functions it calls
# (--gc-sections on Tesmo.dll): libyuv alone would add over a megabyte otherwise.
set(pixels_common_args
    -DCMAKE_TOOLCHAIN_FILE=${pixels_toolchain}
    -DCMAKE_BUILD_TYPE=Release
    -DCMAKE_POSITION_INDEPENDENT_CODE=ON
    "-DCMAKE_C_FLAGS=-ffunction-sections -fdata-sections"
    "-DCMAKE_CXX_FLAGS=-ffunction-sections -fdata-sections")

# libjpeg-turbo: only the static TurboJPEG library, which holds the whole decoder.
find_program(TESMO_NASM nasm REQUIRED)
set(jpeg_build ${pixels_root}/libjpeg-turbo)
set(jpeg_library ${jpeg_build}/libturbojpeg.a)
ExternalProject_Add(libjpeg_turbo_build
  SOURCE_DIR ${TESMO_PIXEL_SOURCES}/libjpeg-turbo
  BINARY_DIR ${jpeg_build}
  CMAKE_ARGS ${pixels_common_args}
             -DCMAKE_ASM_NASM_COMPILER=${TESMO_NASM}
             -DENABLE_SHARED=OFF -DWITH_JAVA=OFF -DWITH_TURBOJPEG=ON -DREQUIRE_SIMD=ON
             -DCMAKE_INSTALL_PREFIX=${pixels_root}/unused-prefix
  BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target turbojpeg-static
  INSTALL_COMMAND ""
  BUILD_BYPRODUCTS ${jpeg_library}
  LOG_CONFIGURE ON LOG_BUILD ON LOG_OUTPUT_ON_FAILURE ON)

# libyuv without its own JPEG code: the library decodes with TurboJPEG itself.
set(yuv_build ${pixels_root}/libyuv)
set(yuv_library ${yuv_build}/libyuv.a)
ExternalProject_Add(libyuv_build
  SOURCE_DIR ${TESMO_PIXEL_SOURCES}/libyuv
  BINARY_DIR ${yuv_build}
  CMAKE_ARGS ${pixels_common_args} -DCMAKE_DISABLE_FIND_PACKAGE_JPEG=ON -DTEST=OFF
  BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target yuv
  INSTALL_COMMAND ""
  BUILD_BYPRODUCTS ${yuv_library}
  LOG_CONFIGURE ON LOG_BUILD ON LOG_OUTPUT_ON_FAILURE ON)

add_library(tesmo_libyuv STATIC IMPORTED GLOBAL)
set_target_properties(tesmo_libyuv PROPERTIES IMPORTED_LOCATION ${yuv_library})
add_dependencies(tesmo_libyuv libyuv_build)
add_library(tesmo_turbojpeg STATIC IMPORTED GLOBAL)
set_target_properties(tesmo_turbojpeg PROPERTIES IMPORTED_LOCATION ${jpeg_library})
add_dependencies(tesmo_turbojpeg libjpeg_turbo_build)

# turbojpeg.h sits in the source tree; jconfig.h is generated but TurboJPEG's header
# needs none of it.
target_include_directories(tesmo_pixels SYSTEM INTERFACE
  ${TESMO_PIXEL_SOURCES}/libyuv/include ${TESMO_PIXEL_SOURCES}/libjpeg-turbo)
target_link_libraries(tesmo_pixels INTERFACE tesmo_libyuv tesmo_turbojpeg)

set(TESMO_PIXEL_LICENSES
    ${TESMO_PIXEL_SOURCES}/libjpeg-turbo/LICENSE.md
    ${TESMO_PIXEL_SOURCES}/libjpeg-turbo/README.ijg
    ${TESMO_PIXEL_SOURCES}/libyuv/LICENSE
    ${TESMO_PIXEL_SOURCES}/libyuv/PATENTS)
