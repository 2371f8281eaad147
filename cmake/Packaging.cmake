# Packages made by CPack (`make package`): natively the Debian packages libvx380errorlog1,
# libvx380errorlog-dev and vxtrace; in a Windows build a zip, the kit a host installs.
set(CPACK_PACKAGE_NAME vx380errorlog)
set(CPACK_PACKAGE_VENDOR "VX380ErrorLog maintainers")
set(VX380_PACKAGE_CONTACT "VX380ErrorLog maintainers <maintainers@vx380errorlog.example.org>"
    CACHE STRING "Maintainer named in the packages")
set(CPACK_PACKAGE_CONTACT "${VX380_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_INSTALL_DIRECTORY VX380ErrorLog)
set(CPACK_STRIP_FILES ON)
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/PackageStaging.cmake)

# Every component an install rule names, but the tests'.
get_cmake_property(CPACK_COMPONENTS_ALL COMPONENTS)
list(REMOVE_ITEM CPACK_COMPONENTS_ALL test Unspecified)

if(WIN32)
  include(${PROJECT_SOURCE_DIR}/cmake/WindowsKit.cmake)
else()
  include(${PROJECT_SOURCE_DIR}/cmake/DebianPackages.cmake)
endif()

include(CPack)
