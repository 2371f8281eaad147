# The core and the public headers include no system header: a test over the sources, and the
# same check on a planted offender to show it catches one.
set(vx380_check ${PROJECT_SOURCE_DIR}/cmake/CheckNoOsHeaders.cmake)
list(JOIN VX380_CORE_DIRS "," vx380_core_dirs)
add_test(NAME boundary.core_includes_no_os_header
         COMMAND ${CMAKE_COMMAND} -DROOT=${PROJECT_SOURCE_DIR} -DDIRS=${vx380_core_dirs},include/vx380 -P ${vx380_check})

set(probe ${PROJECT_BINARY_DIR}/boundary-probe)
file(WRITE ${probe}/src/core/Fine.cpp "#include <string>\n#include \"core/Fine.h\"\n")
file(WRITE ${probe}/src/core/Fine.h "#pragma once\n")
file(WRITE ${probe}/src/core/Offender.cpp "#include <vector>\n  #  include <sys/stat.h>\n")
file(WRITE ${probe}/src/core/Reacher.cpp "#include \"platform/posix/Services.h\"\n")
file(WRITE ${probe}/src/platform/posix/Services.h "#pragma once\n#include <unistd.h>\n")
foreach(kind Offender Reacher)
  add_test(NAME boundary.check_catches_${kind}
           COMMAND ${CMAKE_COMMAND} -DROOT=${probe} -DDIRS=src/core -P ${vx380_check})
  set_tests_properties(boundary.check_catches_${kind} PROPERTIES FAIL_REGULAR_EXPRESSION "Fine")
endforeach()
# Each probe run sees both offenders; the two tests differ in what their output must name.
set_tests_properties(boundary.check_catches_Offender PROPERTIES
  PASS_REGULAR_EXPRESSION "Offender.cpp: <sys/stat.h> is not a standard C\\+\\+ header")
set_tests_properties(boundary.check_catches_Reacher PROPERTIES
  PASS_REGULAR_EXPRESSION "Reacher.cpp: \"platform/posix/Services.h\" is not a header of src/core")
