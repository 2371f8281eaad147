# cmake -DROOT=<dir> -DDIRS=<dir>[,<dir>...] -P CheckNoOsHeaders.cmake
# Fails when a file in DIRS (relative to ROOT) includes anything but the C++ standard library
# and the project's own headers below DIRS: the core reaches the system only through the
# platform seam, and the public headers must not drag a system's headers into a host. Files,
# streams to the console and threads are the system's too: they are not on the list.
set(standard_headers
  algorithm any array atomic barrier bit bitset cassert cctype cerrno cfenv cfloat charconv
  chrono cinttypes climits clocale cmath compare complex concepts condition_variable coroutine
  csetjmp csignal cstdarg cstddef cstdint cstdio cstdlib cstring ctime cuchar cwchar cwctype
  deque exception execution format forward_list functional future
  initializer_list iomanip ios iosfwd istream iterator latch limits list locale map
  memory memory_resource mutex new numbers numeric optional ostream queue random ranges ratio
  regex scoped_allocator semaphore set shared_mutex source_location span sstream stack
  stdexcept stop_token streambuf string string_view syncstream system_error tuple
  type_traits typeindex typeinfo unordered_map unordered_set utility valarray variant vector
  version)

string(REPLACE "," ";" DIRS "${DIRS}")
set(failures "")
set(scanned 0)
foreach(dir ${DIRS})
  file(GLOB_RECURSE files "${ROOT}/${dir}/*.h" "${ROOT}/${dir}/*.hpp" "${ROOT}/${dir}/*.cpp" "${ROOT}/${dir}/*.cc")
  foreach(file ${files})
    math(EXPR scanned "${scanned} + 1")
    file(STRINGS ${file} lines REGEX "^[ \t]*#[ \t]*include|__has_include")
    foreach(line ${lines})
      if(line MATCHES "[<\"]([^>\"]+)[>\"]")
        set(name ${CMAKE_MATCH_1})
        if(line MATCHES "<[^>]+>")
          list(FIND standard_headers "${name}" known)
          if(known EQUAL -1)
            list(APPEND failures "${file}: <${name}> is not a standard C++ header")
          endif()
        else()
          # A quoted name must be one of the scanned folders' own files.
          get_filename_component(here ${file} DIRECTORY)
          set(found OFF)
          foreach(base ${here} ${ROOT}/include ${ROOT}/src)
            if(EXISTS "${base}/${name}")
              file(RELATIVE_PATH rel ${ROOT} "${base}/${name}")
              foreach(allowed ${DIRS})
                if(rel MATCHES "^${allowed}/")
                  set(found ON)
                endif()
              endforeach()
            endif()
          endforeach()
          if(NOT found)
            list(APPEND failures "${file}: \"${name}\" is not a header of ${DIRS}")
          endif()
        endif()
      endif()
    endforeach()
  endforeach()
endforeach()

if(scanned EQUAL 0)
  message(FATAL_ERROR "no sources found below ${ROOT} in ${DIRS}")
endif()
if(failures)
  list(JOIN failures "\n  " text)
  message(FATAL_ERROR "system or platform headers included:\n  ${text}")
endif()
message(STATUS "${scanned} files include only standard and own headers")
