# No product function over 60 lines: a test over src, include and tools, and the same check on
# a planted probe to show it catches a long function and passes everything else.
find_package(Python3 COMPONENTS Interpreter QUIET)
if(NOT Python3_FOUND)
  return()
endif()
set(vx380_lengths ${PROJECT_SOURCE_DIR}/scripts/function-lengths.py)
add_test(NAME style.functions_at_most_60_lines
         COMMAND ${Python3_EXECUTABLE} ${vx380_lengths} --root ${PROJECT_SOURCE_DIR}
                 --allow ${PROJECT_SOURCE_DIR}/scripts/function-lengths.allow
                 ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/include ${PROJECT_SOURCE_DIR}/tools)

# The probe: one function of 61 lines; around it what is not a function or is short enough
# (a namespace, a class with an inline member, a table, a lambda at namespace scope, a
# constructor with braced initialisers, a long comment, a long string, character literals and
# digit separators); a second long function after the characters shows they were read right.
set(probe ${PROJECT_BINARY_DIR}/function-length-probe)
string(REPEAT "  ++n;\n" 59 long_body)
string(REPEAT "  1,\n" 70 long_table)
string(REPEAT "   x\n" 70 long_text)
file(WRITE ${probe}/Probe.cpp
  "#include <string>\nnamespace a::b {\nnamespace {\n"
  "constexpr int kTable[] = {\n${long_table}};\n"
  "/* {\n${long_text}*/\n"
  "const char* kText = R\"(\n{\n${long_text})\";\n"
  "}  // namespace\n"
  "class Holder : public Base {\n public:\n  Holder() : a_{1}, b_(2) {\n    a_ = 3;\n  }\n"
  "  int Get() const { return a_; }\n\n private:\n  int a_{0};\n  int b_;\n};\n"
  "auto kTwice = [](int x) -> int {\n  return 2 * x;\n};\n"
  "int TooLong(int n) {\n${long_body}}\n"
  "int Fine(int n) {\n  auto add = [&](int k) { return n + k; };\n"
  "  if (u';' == '{' || n > 1'000) return 0;\n  return add(1);\n}\n"
  "int AfterCharacters(int n) {\n${long_body}}\n"
  "}  // namespace a::b\n")
add_test(NAME style.function_length_check_catches_a_long_one
         COMMAND ${Python3_EXECUTABLE} ${vx380_lengths} --root ${probe} ${probe})
set_tests_properties(style.function_length_check_catches_a_long_one PROPERTIES
  PASS_REGULAR_EXPRESSION "Probe.cpp:[0-9]+: TooLong is 61 lines, over 60\nProbe.cpp:[0-9]+: AfterCharacters is 61 lines, over 60\n1 files, 2 functions over 60 lines"
  FAIL_REGULAR_EXPRESSION "Holder|Get|kTable|kText|kTwice|Fine|lambda")
