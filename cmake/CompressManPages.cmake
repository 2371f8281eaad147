# CPack pre-build script: manual pages go into packages compressed, as Debian wants them,
# whoever's install rule put them in the staging folder.
find_program(gzip gzip REQUIRED)
file(GLOB_RECURSE files LIST_DIRECTORIES false "${CPACK_TEMPORARY_DIRECTORY}/*")
foreach(file ${files})
  if(file MATCHES "/share/man/(.+/)?man[1-9]/[^/]+$" AND NOT file MATCHES "\\.gz$")
    execute_process(COMMAND ${gzip} -9 -n -f ${file} COMMAND_ERROR_IS_FATAL ANY)
  endif()
endforeach()
