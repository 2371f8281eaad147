# Where things install, and the components they install as.
#
# Debian searches <prefix>/lib/<multiarch> for libraries, pkg-config files and CMake
# packages under /usr/local as well as /usr, so the library goes there for either prefix;
# GNUInstallDirs alone would choose it only for /usr.
if(NOT DEFINED CMAKE_INSTALL_LIBDIR AND CMAKE_LIBRARY_ARCHITECTURE AND NOT CMAKE_CROSSCOMPILING
   AND EXISTS /etc/debian_version)
  set(CMAKE_INSTALL_LIBDIR "lib/${CMAKE_LIBRARY_ARCHITECTURE}" CACHE PATH "Object code libraries (LIBDIR)")
endif()
# Debian keeps a package's documents under the package's name.
if(NOT DEFINED CMAKE_INSTALL_DOCDIR)
  set(CMAKE_INSTALL_DOCDIR "share/doc/vx380errorlog" CACHE PATH "Documentation root (DOCDIR)")
endif()
include(GNUInstallDirs)

# Components, which the packages are made of (other folders may add their own):
#   runtime      the shared library
#   development  headers, static library, CMake package, pkg-config file (not in the Windows kit)
#   tools        vxtrace and its manual page
#   samples      settings files (.reg) that turn reporting on
#   test         never packaged

# Install rules of a folder that name no component land in the folder's natural one.
function(vx380_default_component dir)
  if(dir STREQUAL "src/com")
    set(component runtime)
  elseif(dir MATCHES "^tools/")
    set(component tools)
  elseif(dir MATCHES "^docs")
    set(component docs)
  elseif(dir MATCHES "^examples")
    set(component samples)
  else()
    set(component test)  # never packaged
  endif()
  set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME ${component} PARENT_SCOPE)
endfunction()
