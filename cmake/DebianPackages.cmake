# The Debian packages, one per group of components:
#   libvx380errorlog1     runtime               the shared library
#   libvx380errorlog-dev  development, samples  headers, static library, CMake and pkg-config
#                                               files, the .so link, sample settings files
#   vxtrace               tools                 the capture tool and its manual page
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ONE_PER_GROUP)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SOURCE vx380errorlog)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# Each package's description starts with its own summary: CPack prepends only a summary
# other than its default one.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${CMAKE_PROJECT_NAME} built using CMake")
set(CPACK_COMPONENTS_ALL development samples)
if(TARGET vx380errorlog_shared)
  list(APPEND CPACK_COMPONENTS_ALL runtime)
endif()
if(TARGET vxtrace)
  list(APPEND CPACK_COMPONENTS_ALL tools)
endif()

set(vx380_debian ${PROJECT_BINARY_DIR}/debian)
set(vx380_lib_package libvx380errorlog${PROJECT_VERSION_MAJOR})
set(CPACK_COMPONENT_RUNTIME_GROUP lib)
set(CPACK_COMPONENT_DEVELOPMENT_GROUP dev)
set(CPACK_COMPONENT_SAMPLES_GROUP dev)
set(CPACK_COMPONENT_TOOLS_GROUP tool)

set(CPACK_DEBIAN_LIB_PACKAGE_NAME ${vx380_lib_package})
set(CPACK_DEBIAN_LIB_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_LIB_PACKAGE_SHLIBDEPS ON)
# dpkg's trigger refreshes the library cache; the symbols file lets dependants ask for the
# version that introduced what they use.
file(WRITE ${vx380_debian}/triggers "activate-noawait ldconfig\n")
set(CPACK_DEBIAN_LIB_PACKAGE_CONTROL_EXTRA ${vx380_debian}/triggers ${vx380_debian}/symbols)
set(CPACK_DEBIAN_LIB_DESCRIPTION "error reporting and execution tracing library - shared library
libvx380errorlog reports errors (a debugger line, a message box, an error log
file, a raise back to the caller, governed by a reporting level read from
settings files) and traces execution (routine entry and exit as a call tree,
line markers, time stamps, dumps of 2-D drawing objects).

This package holds the shared library.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libvx380errorlog-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
if(TARGET vx380errorlog_shared)
  set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "${vx380_lib_package} (= ${PROJECT_VERSION})")
endif()
set(CPACK_DEBIAN_DEV_DESCRIPTION "error reporting and execution tracing library - development files
libvx380errorlog reports errors and traces execution of engineering
applications.

This package holds the C++ headers, the static library, the CMake package
VX380ErrorLog, the pkg-config file vx380errorlog and sample settings files.")

set(CPACK_DEBIAN_TOOL_PACKAGE_NAME vxtrace)
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_TOOL_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_TOOL_DESCRIPTION "capture tool for the libvx380errorlog debug channel
vxtrace listens on the debug output channel of libvx380errorlog and shows the
traced runs of its programs as indented call trees with times, live or from a
recording; it writes summaries, Chrome trace files and HTML flame charts.")

# CPack calls ldconfig from maintainer scripts of any package with a library below /usr/lib;
# the trigger above does that job, so the scripts are taken out again.
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/DebianRepack.cmake)
set(CPACK_VX380_LDCONFIG_TRIGGERED ${vx380_lib_package})

# The symbols file lists what the shared library exports, read from the built library; what
# the recorded ABI baseline (1.0) exported is dated 1.0, so dependants ask only for what they use.
set(vx380_abi_baseline ${PROJECT_SOURCE_DIR}/abi/libvx380errorlog.so.${PROJECT_VERSION_MAJOR}.abi)
if(TARGET vx380errorlog_shared)
  add_custom_command(OUTPUT ${vx380_debian}/symbols
    COMMAND ${CMAKE_COMMAND} -DLIBRARY=$<TARGET_FILE:vx380errorlog_shared> -DSONAME=$<TARGET_SONAME_FILE_NAME:vx380errorlog_shared>
            -DPACKAGE=${vx380_lib_package} -DVERSION=${PROJECT_VERSION} -DNM=${CMAKE_NM} -DOUT=${vx380_debian}/symbols
            -DBASELINE=${vx380_abi_baseline} -DBASELINE_VERSION=1.0
            -P ${PROJECT_SOURCE_DIR}/cmake/DebianSymbols.cmake
    DEPENDS vx380errorlog_shared ${PROJECT_SOURCE_DIR}/cmake/DebianSymbols.cmake ${vx380_abi_baseline} VERBATIM)
  add_custom_target(vx380_debian_symbols ALL DEPENDS ${vx380_debian}/symbols)
endif()

# Debian's copyright and changelog documents, in every package's own folder.
string(TIMESTAMP vx380_changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/changelog.in ${vx380_debian}/changelog @ONLY)
find_program(VX380_GZIP gzip REQUIRED)
add_custom_command(OUTPUT ${vx380_debian}/changelog.gz
  COMMAND ${VX380_GZIP} -9 -n -c ${vx380_debian}/changelog > ${vx380_debian}/changelog.gz
  DEPENDS ${vx380_debian}/changelog VERBATIM)
add_custom_target(vx380_debian_changelog ALL DEPENDS ${vx380_debian}/changelog.gz)
foreach(pair runtime:${vx380_lib_package} development:libvx380errorlog-dev tools:vxtrace)
  string(REPLACE ":" ";" pair ${pair})
  list(GET pair 0 component)
  list(GET pair 1 package)
  install(FILES ${PROJECT_SOURCE_DIR}/cmake/debian/copyright ${vx380_debian}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
endforeach()
