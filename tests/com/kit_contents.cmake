# Installs the Windows kit of a build tree into a scratch folder and checks that every file a
# host needs is there (cmake -DTREE=... -DDEST=... -P kit_contents.cmake).
file(REMOVE_RECURSE ${DEST})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${TREE} --prefix ${DEST} RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed (${rc})")
endif()
set(expected
  bin/VX380ErrorLog.dll bin/VX380ErrorLog.manifest bin/VX380ErrorLogging.tlb bin/vxtrace.exe
  examples/SampleMessages.dll examples/messages.rc
  doc/HOSTS.md doc/MEMBERS.md doc/enable-logging.reg doc/enable-message-log.reg doc/host.exe.manifest)
foreach(file IN LISTS expected)
  if(NOT EXISTS ${DEST}/${file})
    message(FATAL_ERROR "the kit lacks ${file}")
  endif()
endforeach()
# The manifest names the DLL it sits beside and both classes.
file(READ ${DEST}/bin/VX380ErrorLog.manifest manifest)
foreach(needle "file name=\"VX380ErrorLog.dll\"" "progid=\"VX380ErrorLogging.ErrorLog\""
               "progid=\"VX380ErrorLogging.CErrorStatus\"")
  string(FIND "${manifest}" "${needle}" at)
  if(at LESS 0)
    message(FATAL_ERROR "the manifest lacks ${needle}")
  endif()
endforeach()
message(STATUS "kit complete: ${expected}")
