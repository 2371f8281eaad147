# The Windows kit: a zip a host installs, with every component but the development one.
# Besides the DLLs, tools and guides of the folders' own install rules it holds what C++ hosts
# compile against (the IDL, and the header and GUIDs widl makes from it) and a registration
# script per architecture.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "error reporting and execution tracing for engineering applications")
set(CPACK_GENERATOR ZIP)
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)  # unpacks into one folder
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(CPACK_PACKAGE_FILE_NAME "VX380ErrorLog-${PROJECT_VERSION}-windows-x64")
else()
  set(CPACK_PACKAGE_FILE_NAME "VX380ErrorLog-${PROJECT_VERSION}-windows-x86")
endif()
# A host installs the kit beside its program; C++ development of the portable library happens
# against the Debian package.
list(REMOVE_ITEM CPACK_COMPONENTS_ALL development)

if(NOT TARGET VX380ErrorLog)
  return()
endif()
set(vx380_com_gen ${PROJECT_BINARY_DIR}/src/com/generated)
install(FILES ${PROJECT_SOURCE_DIR}/src/com/VX380ErrorLogging.idl ${vx380_com_gen}/VX380ErrorLogging.h
              ${vx380_com_gen}/VX380ErrorLogging_i.c
        DESTINATION include COMPONENT com)

# The host guide's tracing examples, with the settings that let them run without a box.
file(GLOB vx380_trace_examples ${PROJECT_SOURCE_DIR}/docs/examples/*)
install(FILES ${vx380_trace_examples} DESTINATION examples COMPONENT docs)

# register-x64.cmd / register-x86.cmd: the DLL of bin\ (and of bin32\, the i686 build that the
# x86_64 kit carries) with the regsvr32 of its own bitness.
function(vx380_kit_register_script dir bits)
  set(VX380_KIT_DIR ${dir})
  set(VX380_KIT_BITS ${bits})
  if(bits EQUAL 64)
    set(VX380_KIT_ARCH_TEXT x86_64)
    set(VX380_KIT_SCRIPT register-x64.cmd)
    # A 32-bit cmd.exe sees the 64-bit system folder as Sysnative.
    set(VX380_KIT_SYSTEM_FOLDER "if exist \"%SystemRoot%\\Sysnative\\regsvr32.exe\" set \"SYS=%SystemRoot%\\Sysnative\"")
  else()
    set(VX380_KIT_ARCH_TEXT i686)
    set(VX380_KIT_SCRIPT register-x86.cmd)
    # On 64-bit Windows the 32-bit programs live in SysWOW64.
    set(VX380_KIT_SYSTEM_FOLDER "if exist \"%SystemRoot%\\SysWOW64\\regsvr32.exe\" set \"SYS=%SystemRoot%\\SysWOW64\"")
  endif()
  set(script ${PROJECT_BINARY_DIR}/kit/${VX380_KIT_SCRIPT})
  configure_file(${PROJECT_SOURCE_DIR}/cmake/kit/register.cmd.in ${script} @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${script} DESTINATION . COMPONENT com)
endfunction()
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  vx380_kit_register_script(bin 64)
  if(VX380_KIT_I686_TREE)
    vx380_kit_register_script(bin32 32)
  endif()
else()
  vx380_kit_register_script(bin 32)
endif()
