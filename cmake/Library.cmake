# The library: the core and the platform build apart and combine into the static and the
# shared library. The core sees only the public headers and its own folder, so a platform
# header it includes fails to compile (the OS headers are checked by a test).

# The core's folders: src/core, and src/channel (the trace channel's system-free parts).
# They name their headers "core/X.h", "channel/X.h": the view folder holds just those.
set(VX380_CORE_DIRS src/core src/channel)
set(vx380_core_view ${PROJECT_BINARY_DIR}/core-view)
file(MAKE_DIRECTORY ${vx380_core_view})
set(VX380_CORE_SOURCES "")
foreach(dir ${VX380_CORE_DIRS})
  get_filename_component(name ${dir} NAME)
  file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${dir} ${vx380_core_view}/${name} SYMBOLIC)
  file(GLOB sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${dir}/*.cpp)
  list(APPEND VX380_CORE_SOURCES ${sources})
endforeach()

if(WIN32)
  file(GLOB VX380_PLATFORM_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/platform/win32/*.cpp)
else()
  file(GLOB VX380_PLATFORM_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/platform/posix/*.cpp)
endif()

# Hidden by default: the shared library exports what include/vx380/Export.h marks, nothing else.
add_library(vx380_core OBJECT ${VX380_CORE_SOURCES})
target_include_directories(vx380_core PRIVATE ${PROJECT_SOURCE_DIR}/include ${vx380_core_view})
add_library(vx380_platform OBJECT ${VX380_PLATFORM_SOURCES})
target_include_directories(vx380_platform PRIVATE ${PROJECT_SOURCE_DIR}/include ${PROJECT_SOURCE_DIR}/src)
set_target_properties(vx380_core vx380_platform PROPERTIES POSITION_INDEPENDENT_CODE ON)
if(NOT WIN32)
  set_target_properties(vx380_core vx380_platform PROPERTIES
    CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  # Every debug line reads the thread's state; in a shared library the descriptor dialect makes
  # that read a load instead of a call into the dynamic linker.
  include(CheckCXXCompilerFlag)
  check_cxx_compiler_flag(-mtls-dialect=gnu2 VX380_HAS_TLS_DESCRIPTORS)
  if(VX380_HAS_TLS_DESCRIPTORS)
    target_compile_options(vx380_core PRIVATE -mtls-dialect=gnu2)
    target_compile_options(vx380_platform PRIVATE -mtls-dialect=gnu2)
  endif()
endif()

if(WIN32)
  set(vx380_system_libs advapi32 user32 shell32 ole32 oleaut32 winmm)
else()
  find_package(Threads REQUIRED)
  set(vx380_system_libs Threads::Threads)
endif()

# What a host needs from either library: the headers (C++17 on) and the system libraries.
function(vx380_library_usage target)
  target_sources(${target} PRIVATE $<TARGET_OBJECTS:vx380_core> $<TARGET_OBJECTS:vx380_platform>)
  target_include_directories(${target} PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include> $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  target_compile_features(${target} PUBLIC cxx_std_17)
  target_link_libraries(${target} PUBLIC ${vx380_system_libs})
endfunction()

# The static library; the project's own tests, tools and the COM server link this one.
add_library(vx380errorlog STATIC)
vx380_library_usage(vx380errorlog)
# Options and definitions given to the static library (a fuzzing build's instrumentation)
# reach the objects it is made of.
foreach(objects vx380_core vx380_platform)
  target_compile_options(${objects} PRIVATE $<TARGET_PROPERTY:vx380errorlog,COMPILE_OPTIONS>)
  target_compile_definitions(${objects} PRIVATE $<TARGET_PROPERTY:vx380errorlog,COMPILE_DEFINITIONS>)
endforeach()
set_target_properties(vx380errorlog PROPERTIES EXPORT_NAME ErrorLogStatic)
add_library(VX380::ErrorLogStatic ALIAS vx380errorlog)

if(VX380_BUILD_SHARED)
  add_library(vx380errorlog_shared SHARED)
  vx380_library_usage(vx380errorlog_shared)
  # The version script also hides the standard library's template code built into ours.
  set(vx380_symbol_map ${PROJECT_SOURCE_DIR}/cmake/vx380errorlog.map)
  # Never unloaded: the listener watch's thread runs the library's code for the process's life.
  target_link_options(vx380errorlog_shared PRIVATE
    "LINKER:--version-script=${vx380_symbol_map}" "LINKER:-z,nodelete")
  set_target_properties(vx380errorlog_shared PROPERTIES
    OUTPUT_NAME vx380errorlog EXPORT_NAME ErrorLog
    VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR}
    LINK_DEPENDS ${vx380_symbol_map})
  add_library(VX380::ErrorLog ALIAS vx380errorlog_shared)
else()
  set_target_properties(vx380errorlog PROPERTIES EXPORT_NAME ErrorLog)
  add_library(VX380::ErrorLog ALIAS vx380errorlog)
endif()

# The trace channel as its readers see it (vxtrace): the ring's system-free format and this
# platform's ring listener, named "channel/X.h" and "platform/<system>/X.h", and the library
# that implements them. Nothing else of src/ is in view.
if(WIN32)
  set(vx380_channel_platform win32)
else()
  set(vx380_channel_platform posix)
endif()
set(vx380_channel_view ${PROJECT_BINARY_DIR}/channel-view)
file(MAKE_DIRECTORY ${vx380_channel_view}/platform)
file(CREATE_LINK ${PROJECT_SOURCE_DIR}/src/channel ${vx380_channel_view}/channel SYMBOLIC)
file(CREATE_LINK ${PROJECT_SOURCE_DIR}/src/platform/${vx380_channel_platform}
     ${vx380_channel_view}/platform/${vx380_channel_platform} SYMBOLIC)
add_library(vx380_trace_channel INTERFACE)
target_include_directories(vx380_trace_channel INTERFACE ${vx380_channel_view})
target_link_libraries(vx380_trace_channel INTERFACE vx380errorlog)
