# The picture writers: the Chrome trace read back by Python's json module, the HTML
# page drawn by headless Chromium (Debian package chromium; those cases skip without
# it). The drawing's screenshot is left in this build folder.
add_executable(vxtrace_pictures_tests
  ChromeTraceTest.cpp
  HtmlReportTest.cpp
  PictureModels.cpp
  PictureTools.cpp)
target_link_libraries(vxtrace_pictures_tests PRIVATE vxtrace_view GTest::gtest_main)
target_compile_definitions(vxtrace_pictures_tests PRIVATE
  VXTRACE_PICTURE_CHECK="${CMAKE_CURRENT_SOURCE_DIR}/picture_check.py"
  VXTRACE_PICTURES_DIR="${CMAKE_CURRENT_BINARY_DIR}")
# Chromium is heavy for the machines the tests run on: one at a time.
gtest_discover_tests(vxtrace_pictures_tests DISCOVERY_TIMEOUT 30
  PROPERTIES TIMEOUT 240 RESOURCE_LOCK vxtrace_chromium)
