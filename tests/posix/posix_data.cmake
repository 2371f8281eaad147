# Resource DLLs for the POSIX platform's string-table tests, built from data/posix_strings.rc
# with the MinGW tools (a 64-bit PE32+ and a 32-bit PE32 DLL). Usage, after the test target:
#   include(posix_data.cmake)
#   vx380_add_posix_test_data(vx380_posix_tests)
# Without the tools the DLL tests skip; the tests that build their PE files at run time still run.
function(vx380_add_posix_test_data target)
  set(rc ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/data/posix_strings.rc)
  foreach(arch x86_64 i686)
    find_program(VX380_WINDRES_${arch} ${arch}-w64-mingw32-windres)
    find_program(VX380_MINGW_CC_${arch} NAMES ${arch}-w64-mingw32-gcc ${arch}-w64-mingw32-gcc-posix)
    if(NOT VX380_WINDRES_${arch} OR NOT VX380_MINGW_CC_${arch})
      continue()
    endif()
    set(obj ${CMAKE_CURRENT_BINARY_DIR}/posix_strings_${arch}.res.o)
    set(dll ${CMAKE_CURRENT_BINARY_DIR}/posix_strings_${arch}.dll)
    add_custom_command(
      OUTPUT ${dll}
      COMMAND ${VX380_WINDRES_${arch}} -c 65001 ${rc} -O coff -o ${obj}
      COMMAND ${VX380_MINGW_CC_${arch}} -shared -nostdlib -Wl,-e,0 -o ${dll} ${obj}
      DEPENDS ${rc}
      COMMENT "Resource DLL for the POSIX tests (${arch})"
      VERBATIM)
    add_custom_target(${target}_strings_${arch} DEPENDS ${dll})
    add_dependencies(${target} ${target}_strings_${arch})
    target_compile_definitions(${target} PRIVATE VX380_TEST_STRINGS_DLL_${arch}="${dll}")
  endforeach()
endfunction()
