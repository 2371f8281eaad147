# Install rules of the library: headers, both libraries, the CMake package VX380ErrorLog
# (targets VX380::ErrorLog and VX380::ErrorLogStatic) and vx380errorlog.pc.
include(CMakePackageConfigHelpers)

set(vx380_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/VX380ErrorLog)

# ModuleState.h is the core's per-thread record, not part of the API.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/vx380 DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
        COMPONENT development FILES_MATCHING PATTERN "*.h" PATTERN "ModuleState.h" EXCLUDE)

set(vx380_libraries vx380errorlog)
if(TARGET vx380errorlog_shared)
  list(APPEND vx380_libraries vx380errorlog_shared)
endif()
install(TARGETS ${vx380_libraries} EXPORT VX380ErrorLogTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
install(EXPORT VX380ErrorLogTargets NAMESPACE VX380:: DESTINATION ${vx380_cmake_dir} COMPONENT development)

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/VX380ErrorLogConfig.cmake.in
  ${PROJECT_BINARY_DIR}/VX380ErrorLogConfig.cmake INSTALL_DESTINATION ${vx380_cmake_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/VX380ErrorLogConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/VX380ErrorLogConfig.cmake ${PROJECT_BINARY_DIR}/VX380ErrorLogConfigVersion.cmake
        DESTINATION ${vx380_cmake_dir} COMPONENT development)

# The .pc file finds its prefix from where it lies, so the same file serves a --prefix
# install, the Debian package and a package unpacked elsewhere.
set(vx380_pc_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH vx380_pc_to_prefix /root/${vx380_pc_dir} /root)
string(REGEX REPLACE "/$" "" vx380_pc_to_prefix "${vx380_pc_to_prefix}")
if(WIN32)
  set(vx380_pc_system_libs "-ladvapi32 -luser32 -lshell32 -lole32 -loleaut32 -lwinmm")
else()
  set(vx380_pc_system_libs "-pthread")
endif()
configure_file(${PROJECT_SOURCE_DIR}/cmake/vx380errorlog.pc.in ${PROJECT_BINARY_DIR}/vx380errorlog.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/vx380errorlog.pc DESTINATION ${vx380_pc_dir} COMPONENT development)

# The settings files that turn reporting on, as samples.
if(NOT WIN32)
  install(FILES ${PROJECT_SOURCE_DIR}/examples/sample_host/user.reg ${PROJECT_SOURCE_DIR}/examples/sample_host/machine.reg
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/libvx380errorlog-dev/examples COMPONENT samples)
endif()
