# CPack pre-build script, run on the staging folder whoever's install rules filled it:
# manual pages compressed and static libraries without debug information, as Debian wants them.
find_program(gzip gzip REQUIRED)
find_program(strip strip)
file(GLOB_RECURSE files LIST_DIRECTORIES false "${CPACK_TEMPORARY_DIRECTORY}/*")
foreach(file ${files})
  if(file MATCHES "/share/man/(.+/)?man[1-9]/[^/]+$" AND NOT file MATCHES "\\.gz$")
    execute_process(COMMAND ${gzip} -9 -n -f ${file} COMMAND_ERROR_IS_FATAL ANY)
  elseif(file MATCHES "/lib/.*\\.a$" AND strip AND NOT CPACK_GENERATOR STREQUAL "ZIP")
    execute_process(COMMAND ${strip} --strip-debug ${file} COMMAND_ERROR_IS_FATAL ANY)
  endif()
endforeach()
