# Packages made by CPack (`make package`): natively one .deb with every component; in a
# Windows build a zip, the kit a host installs, with every component but the development one.
set(CPACK_PACKAGE_NAME vx380errorlog)
set(CPACK_PACKAGE_VENDOR "VX380ErrorLog maintainers")
set(VX380_PACKAGE_CONTACT "VX380ErrorLog maintainers <maintainers@vx380errorlog.example.org>"
    CACHE STRING "Maintainer named in the packages")
set(CPACK_PACKAGE_CONTACT "${VX380_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "error reporting and execution tracing library for engineering applications")
set(CPACK_PACKAGE_INSTALL_DIRECTORY VX380ErrorLog)
set(CPACK_STRIP_FILES ON)
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/PackageStaging.cmake)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)

# Every component an install rule names, but the tests'.
get_cmake_property(CPACK_COMPONENTS_ALL COMPONENTS)
list(REMOVE_ITEM CPACK_COMPONENTS_ALL test Unspecified)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)  # unpacks into one folder
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_PACKAGE_FILE_NAME "VX380ErrorLog-${PROJECT_VERSION}-windows-x64")
  else()
    set(CPACK_PACKAGE_FILE_NAME "VX380ErrorLog-${PROJECT_VERSION}-windows-x86")
  endif()
  # A host installs the kit beside its program; C++ development happens against the package.
  list(REMOVE_ITEM CPACK_COMPONENTS_ALL development)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_PACKAGE_NAME vx380errorlog)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION libdevel)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
  # CPack puts the summary first and formats the lines.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "libvx380errorlog reports errors (a debugger line, a message box, an error log
file, a raise back to the caller, governed by a reporting level read from
settings files) and traces execution (routine entry and exit as a call tree,
line markers, time stamps, dumps of 2-D drawing objects).

This package holds the shared and static library, the C++ headers, the CMake
package VX380ErrorLog, the pkg-config file vx380errorlog, the vxtrace capture
tool and sample settings files.")
  # The library cache is refreshed by dpkg's trigger.
  file(WRITE ${PROJECT_BINARY_DIR}/debian/triggers "activate-noawait ldconfig\n")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/debian/triggers)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

  # Debian's copyright and changelog documents.
  string(TIMESTAMP vx380_changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/changelog.in ${PROJECT_BINARY_DIR}/debian/changelog @ONLY)
  find_program(VX380_GZIP gzip REQUIRED)
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/debian/changelog.gz
    COMMAND ${VX380_GZIP} -9 -n -c ${PROJECT_BINARY_DIR}/debian/changelog > ${PROJECT_BINARY_DIR}/debian/changelog.gz
    DEPENDS ${PROJECT_BINARY_DIR}/debian/changelog VERBATIM)
  add_custom_target(vx380_debian_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/debian/changelog.gz)
  install(FILES ${PROJECT_SOURCE_DIR}/cmake/debian/copyright ${PROJECT_BINARY_DIR}/debian/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT runtime)
endif()

include(CPack)
