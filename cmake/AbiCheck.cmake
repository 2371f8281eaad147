# The shared library's ABI against the committed baseline (scripts/abi-check.sh). The baseline
# was taken from the native preset's build (RelWithDebInfo), which this check needs: the
# comparison reads the library's debug information.
find_program(VX380_ABIDIFF abidiff)
if(NOT WIN32 AND TARGET vx380errorlog_shared AND CMAKE_BUILD_TYPE STREQUAL "RelWithDebInfo")
  if(NOT VX380_ABIDIFF)
    message(WARNING "abidiff not found: the ABI check is left out (scripts/install-deps.sh test)")
  else()
    add_test(NAME abi.CompatibleWithTheBaseline
             COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/abi-check.sh $<TARGET_FILE:vx380errorlog_shared>
                     ${PROJECT_SOURCE_DIR}/include/vx380 ${PROJECT_SOURCE_DIR}/abi/libvx380errorlog.so.1.abi)
    set_tests_properties(abi.CompatibleWithTheBaseline PROPERTIES TIMEOUT 600)
  endif()
endif()
