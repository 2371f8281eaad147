# Lays out the Windows kit of a build tree in a scratch folder as its zip holds it (the same
# components), checks that every file a host needs is there, and builds the C++ tracing example
# with MinGW from that folder alone (cmake -DTREE=... -DDEST=... -P kit_contents.cmake).
file(REMOVE_RECURSE ${DEST})
include(${TREE}/CPackConfig.cmake)
foreach(component IN LISTS CPACK_COMPONENTS_ALL)
  execute_process(COMMAND ${CMAKE_COMMAND} --install ${TREE} --prefix ${DEST} --component ${component}
                  RESULT_VARIABLE rc OUTPUT_QUIET)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "cmake --install of the ${component} component failed (${rc})")
  endif()
endforeach()

# The tree's own compilers (the toolchain file names them; CMake records them here).
foreach(lang C CXX)
  file(GLOB record ${TREE}/CMakeFiles/*/CMake${lang}Compiler.cmake)
  list(GET record 0 record)
  file(STRINGS ${record} line REGEX "^set\\(CMAKE_${lang}_COMPILER \"")
  string(REGEX REPLACE "^set\\(CMAKE_${lang}_COMPILER \"([^\"]+)\"\\).*" "\\1" ${lang}_compiler "${line}")
endforeach()
if(CXX_compiler MATCHES "x86_64")
  set(register register-x64.cmd)
else()
  set(register register-x86.cmd)
endif()

set(expected
  bin/VX380ErrorLog.dll bin/VX380ErrorLog.manifest bin/VX380ErrorLogging.tlb bin/vxtrace.exe ${register}
  include/VX380ErrorLogging.idl include/VX380ErrorLogging.h include/VX380ErrorLogging_i.c
  examples/SampleMessages.dll examples/messages.rc
  examples/trace.cpp examples/trace.vbs examples/trace.js examples/Trace.bas examples/trace.reg
  doc/HOSTS.md doc/MEMBERS.md doc/enable-logging.reg doc/enable-message-log.reg doc/host.exe.manifest)
if(EXISTS ${DEST}/bin32)
  list(APPEND expected bin32/VX380ErrorLog.dll bin32/VX380ErrorLog.manifest bin32/vxtrace.exe register-x86.cmd)
endif()
foreach(file IN LISTS expected)
  if(NOT EXISTS ${DEST}/${file})
    message(FATAL_ERROR "the kit lacks ${file}")
  endif()
endforeach()

# vx380_kit_expect(file needle...): the file holds every needle.
function(vx380_kit_expect file)
  file(READ ${DEST}/${file} text)
  foreach(needle IN LISTS ARGN)
    string(FIND "${text}" "${needle}" at)
    if(at LESS 0)
      message(FATAL_ERROR "${file} lacks ${needle}")
    endif()
  endforeach()
endfunction()
# The manifest names the DLL it sits beside and both classes.
vx380_kit_expect(bin/VX380ErrorLog.manifest "file name=\"VX380ErrorLog.dll\"" "progid=\"VX380ErrorLogging.ErrorLog\""
                 "progid=\"VX380ErrorLogging.CErrorStatus\"")
# Each registration script takes the regsvr32 of its DLL's bitness.
if(EXISTS ${DEST}/register-x64.cmd)
  vx380_kit_expect(register-x64.cmd "bin\\VX380ErrorLog.dll" "Sysnative")
endif()
if(EXISTS ${DEST}/register-x86.cmd)
  vx380_kit_expect(register-x86.cmd "VX380ErrorLog.dll" "SysWOW64")
endif()
# The examples' settings log errors rather than show them, so the examples run unattended.
vx380_kit_expect(examples/trace.reg "TraceDemo.Application\\ErrorReporting\\ReportingLevel]\n@=\"Log\"")
vx380_kit_expect(include/VX380ErrorLogging.h "_ErrorLog" "CLSID_ErrorLog")

# The C++ example from the kit alone: its header and GUIDs, and the system's COM libraries.
set(build ${DEST}.cxx)
file(REMOVE_RECURSE ${build})
file(MAKE_DIRECTORY ${build})
execute_process(COMMAND ${C_compiler} -c -I ${DEST}/include ${DEST}/include/VX380ErrorLogging_i.c -o ${build}/guids.o
                RESULT_VARIABLE rc ERROR_VARIABLE errors)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the kit's VX380ErrorLogging_i.c does not compile:\n${errors}")
endif()
execute_process(COMMAND ${CXX_compiler} -std=c++17 -I ${DEST}/include ${DEST}/examples/trace.cpp ${build}/guids.o
                        -static -lole32 -loleaut32 -luuid -o ${build}/trace.exe
                RESULT_VARIABLE rc ERROR_VARIABLE errors)
if(NOT rc EQUAL 0 OR NOT EXISTS ${build}/trace.exe)
  message(FATAL_ERROR "the kit's C++ example does not build from the kit:\n${errors}")
endif()
message(STATUS "kit complete: ${expected}; examples/trace.cpp builds from it")
