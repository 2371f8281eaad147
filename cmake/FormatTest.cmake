# The code stays as .clang-format lays it out.
find_program(VX380_CLANG_FORMAT clang-format)
if(VX380_CLANG_FORMAT)
  file(GLOB_RECURSE vx380_formatted CONFIGURE_DEPENDS
       ${PROJECT_SOURCE_DIR}/src/*.cpp ${PROJECT_SOURCE_DIR}/src/*.h ${PROJECT_SOURCE_DIR}/include/*.h
       ${PROJECT_SOURCE_DIR}/tools/*.cpp ${PROJECT_SOURCE_DIR}/tools/*.h ${PROJECT_SOURCE_DIR}/tests/*.cpp
       ${PROJECT_SOURCE_DIR}/tests/*.h ${PROJECT_SOURCE_DIR}/bench/*.cpp ${PROJECT_SOURCE_DIR}/bench/*.h
       ${PROJECT_SOURCE_DIR}/examples/*.cpp ${PROJECT_SOURCE_DIR}/examples/*.h ${PROJECT_SOURCE_DIR}/fuzz/*.cpp)
  add_test(NAME style.formatted_as_clang_format_says
           COMMAND ${VX380_CLANG_FORMAT} --dry-run -Werror ${vx380_formatted})
endif()
