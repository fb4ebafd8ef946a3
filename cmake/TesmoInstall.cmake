# cmake --install lays out what a host needs:
#   include/Tesmo.h
#   lib/libTesmo.dll.a and lib/Tesmo.lib (mingw), or lib/Tesmo.lib (MSVC): the import library
#   bin/Tesmo.dll, the demo host and the test capture devices
#   lib/cmake/Tesmo/: the package, so a host writes find_package(Tesmo) and links Tesmo::Tesmo
include(CMakePackageConfigHelpers)

install(TARGETS Tesmo EXPORT TesmoTargets
  RUNTIME DESTINATION bin
  ARCHIVE DESTINATION lib)
install(FILES ${PROJECT_SOURCE_DIR}/include/Tesmo.h DESTINATION include)
if(MINGW)
  # The same import library under the MSVC name. The DLL exports plain C names from a
  # .def file, so link.exe takes the GNU import library as it is.
  install(FILES $<TARGET_LINKER_FILE:Tesmo> DESTINATION lib RENAME Tesmo.lib)
endif()

install(EXPORT TesmoTargets NAMESPACE Tesmo:: DESTINATION lib/cmake/Tesmo)
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/TesmoConfig.cmake
  "include(\${CMAKE_CURRENT_LIST_DIR}/TesmoTargets.cmake)\n")
# Before 1.0 a minor version may change the operation tables. The version file also
# refuses an x86 package to an x64 host and the other way round.
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/TesmoConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/TesmoConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/TesmoConfigVersion.cmake
        DESTINATION lib/cmake/Tesmo)

# The licences of the pixel libraries linked into Tesmo.dll.
set(pixel_license_names libjpeg-turbo-LICENSE.md libjpeg-turbo-README.ijg libyuv-LICENSE
                        libyuv-PATENTS)
foreach(license name IN ZIP_LISTS TESMO_PIXEL_LICENSES pixel_license_names)
  install(FILES ${license} DESTINATION share/licenses/Tesmo RENAME ${name})
endforeach()
