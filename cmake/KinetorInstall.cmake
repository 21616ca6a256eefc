# What an installation carries besides the library, its headers and the programs: the
# CMake package, the udev rules, the manual pages, and the Debian package built from all
# of it ("make package"). Included last, when every program directory has been added.
include(CMakePackageConfigHelpers)

# find_package(KinetorIO) looks in <prefix>/<libdir>/cmake/KinetorIO.
set(KIO_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/KinetorIO)
install(EXPORT KinetorIOTargets NAMESPACE KinetorIO:: FILE KinetorIOTargets.cmake
        DESTINATION ${KIO_CMAKE_PACKAGE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/KinetorIOConfig.cmake.in
                              ${CMAKE_BINARY_DIR}/KinetorIOConfig.cmake
                              INSTALL_DESTINATION ${KIO_CMAKE_PACKAGE_DIR})
# The soname changes with the major version only, so any 4.x satisfies a request for 4.0.
write_basic_package_version_file(${CMAKE_BINARY_DIR}/KinetorIOConfigVersion.cmake
                                 VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/KinetorIOConfig.cmake ${CMAKE_BINARY_DIR}/KinetorIOConfigVersion.cmake
        DESTINATION ${KIO_CMAKE_PACKAGE_DIR})

# udev reads <prefix>/lib/udev/rules.d for the prefixes /usr and /usr/local; the directory
# is "lib" whatever the library directory is, since udev knows no multiarch.
set(KIO_UDEV_RULES_DIR lib/udev/rules.d CACHE STRING "Where the udev rules are installed, relative to the prefix")
install(FILES ${PROJECT_SOURCE_DIR}/packaging/60-kinetor.rules DESTINATION ${KIO_UDEV_RULES_DIR})

# The library's page, and the page of every program this build installs: a program's page
# lives beside its sources, and a program left out of the build (the configuration program
# without GUI=ON) leaves its page out too.
file(GLOB kio_man3 CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/doc/man/*.3)
install(FILES ${kio_man3} DESTINATION ${CMAKE_INSTALL_MANDIR}/man3)
get_property(kio_app_dirs DIRECTORY ${PROJECT_SOURCE_DIR}/apps PROPERTY SUBDIRECTORIES)
foreach(d IN LISTS kio_app_dirs)
  file(GLOB kio_man1 CONFIGURE_DEPENDS ${d}/*.1)
  if(kio_man1)
    install(FILES ${kio_man1} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()
endforeach()

# "make package": one .deb with everything "make install" puts, under /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kinetor)
set(CPACK_PACKAGE_VENDOR "Tandrel")
set(CPACK_PACKAGE_CONTACT "Kinetor driver maintainers <kinetor@localhost>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Driver library, simulator and tools for Kinetor force-feedback arms")
set(CPACK_PACKAGE_DESCRIPTION
    "libKinetorIO opens Kinetor arms on the parallel port, the PCI card and FireWire, runs the servo loop and guards the hardware; a built-in simulator runs every application without hardware. With the headers, pkg-config and CMake files, the udev rules for group kinetor, the demo, the example and the manual pages.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
# The C library, the C++ run time and libraw1394 come from dpkg-shlibdeps; the library
# the programs link is found in this build.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_LIBRARY_OUTPUT_DIRECTORY})
# groupadd for the postinst. libraw1394 is named outright: the FireWire bus is reached
# through it, whether or not the linker of a given build recorded it as needed.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "passwd, libraw1394-11")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pkg-config")
# A shlibs file for packages built against this one; the postinst runs ldconfig.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/postinst ${PROJECT_SOURCE_DIR}/packaging/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
