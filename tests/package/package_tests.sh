#!/usr/bin/env bash
# The library as other projects get it: installed, packaged, or taken in as sources.
#   package_tests.sh install      <build tree> <prefix>
#   package_tests.sh find_package <consumer sources> <prefix> <work>
#   package_tests.sh pkg_config   <consumer sources> <prefix> <work>
#   package_tests.sh subdirectory <consumer sources> <project sources> <work>
#   package_tests.sh deb          <build tree> <work>           (makes <work>/*.deb)
#   package_tests.sh deb_contents <work> <has man page: 0|1>
#   package_tests.sh deb_consumer <consumer sources> <work>
#   package_tests.sh lintian      <work>
#   package_tests.sh exports      <shared library>
set -euo pipefail

fail() { echo "FAIL: $*" >&2; exit 1; }

# Runs a consumer with a settings file that sends errors to a log in <work>, then reads the log.
run_consumer() {
  local exe=$1 work=$2
  local log=$work/consumer.log
  rm -f "$log"
  printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\SOFTWARE\\Meridox\\Applications\\PkgConsumer.Application\\ErrorReporting\\ReportingLevel]\r\n@="Log"\r\n\r\n[HKEY_CURRENT_USER\\SOFTWARE\\Meridox\\Applications\\PkgConsumer.Application\\ErrorReporting\\LogFilename]\r\n@="%s"\r\n' \
    "$log" >"$work/user.reg"
  VX380_HKCU=$work/user.reg VX380_HKLM=$work/no-machine.reg VX380_DEBUG_SOCKET=$work/no-listener.sock \
    VX380_MSGBOX=stderr "$exe" </dev/null || fail "$exe exited with $?"
  [ -f "$log" ] || fail "no error log at $log"
  grep -q '^==============================' "$log" || fail "no banner in the error log: $(cat "$log")"
  grep -qF 'ERROR: PkgConsumer - SaveDrawing described as: Disk full, Error Number is: 61' "$log" ||
    fail "the error is not in the log: $(cat "$log")"
  echo "consumer logged: $(tr -d '\r' <"$log" | tail -n 1)"
}

cmake_consumer() {
  local src=$1 work=$2
  shift 2
  rm -rf "$work/build"
  mkdir -p "$work"
  cmake -S "$src" -B "$work/build" -DCMAKE_BUILD_TYPE=Release "$@" >"$work/configure.log" 2>&1 ||
    { cat "$work/configure.log"; fail "the consumer does not configure"; }
  cmake --build "$work/build" -j"${JOBS:-2}" >"$work/build.log" 2>&1 ||
    { tail -n 40 "$work/build.log"; fail "the consumer does not build"; }
}

# The consumer's executable must load the library's shared object, not carry a static copy.
expect_shared() {
  readelf -d "$1" | grep -q 'NEEDED.*libvx380errorlog\.so\.1' || fail "$1 does not link libvx380errorlog.so.1"
}

cmd=$1
shift
case $cmd in
install)
  rm -rf "$2"
  cmake --install "$1" --prefix "$2" >/dev/null
  ;;
find_package)
  src=$1 prefix=$2 work=$3
  mkdir -p "$work"
  cmake_consumer "$src" "$work" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF
  grep -q -- '-std=c++17' "$work/build/CMakeFiles/consumer.dir/flags.make" || fail "the consumer is not built as C++17"
  grep -qx "VX380ErrorLog_DIR:PATH=$prefix/.*" "$work/build/CMakeCache.txt" || fail "the package was not found in $prefix"
  expect_shared "$work/build/consumer"
  run_consumer "$work/build/consumer" "$work"
  ! readelf -d "$work/build/consumer_static" | grep -q 'NEEDED.*libvx380errorlog' ||
    fail "the consumer of VX380::ErrorLogStatic loads the shared library"
  run_consumer "$work/build/consumer_static" "$work"
  ;;
pkg_config)
  src=$1 prefix=$2 work=$3
  mkdir -p "$work"
  pc=$(find "$prefix" -name vx380errorlog.pc -print -quit)
  [ -n "$pc" ] || fail "no vx380errorlog.pc below $prefix"
  export PKG_CONFIG_PATH=$(dirname "$pc") PKG_CONFIG_LIBDIR=/nonexistent
  flags=$(pkg-config --cflags --libs vx380errorlog) || fail "pkg-config does not know vx380errorlog"
  libdir=$(pkg-config --variable=libdir vx380errorlog)
  # shellcheck disable=SC2086
  g++ -std=c++17 -o "$work/consumer" "$src/main.cpp" $flags -Wl,-rpath,"$libdir" || fail "the consumer does not build"
  expect_shared "$work/consumer"
  run_consumer "$work/consumer" "$work"
  ;;
subdirectory)
  src=$1 project=$2 work=$3
  mkdir -p "$work"
  # Nothing of the test or bench tool chains may be needed: hide both from the consumer.
  cmake_consumer "$src" "$work" -DVX380_SOURCE_DIR="$project" \
    -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON
  targets=$(cmake --build "$work/build" --target help)
  for t in vx380_unit_tests vx380_posix_tests vxtrace vx380_bench sample_host drw2d_standin; do
    ! grep -qw "$t" <<<"$targets" || fail "the consumer's build has the project's target $t"
  done
  grep -q 'consumer' <<<"$targets" || fail "no consumer target"
  run_consumer "$work/build/consumer" "$work"
  ;;
deb)
  tree=$1 work=$2
  rm -rf "$work"
  mkdir -p "$work"
  cpack --config "$tree/CPackConfig.cmake" -G DEB -B "$work" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; fail "cpack failed"; }
  ls "$work"/*.deb
  ;;
deb_contents)
  work=$1 man=$2
  deb=$(ls "$work"/*.deb)
  listing=$(dpkg-deb -c "$deb" | awk '{print $6}')
  expected=(
    ./usr/include/vx380/ErrorLog.h ./usr/include/vx380/Automation.h ./usr/include/vx380/Export.h
    ./usr/include/vx380/CErrorStatus.h ./usr/include/vx380/LateBound.h ./usr/include/vx380/Platform.h
    ./usr/include/vx380/PosixPlatform.h ./usr/include/vx380/TraceChannel.h
    "./usr/lib/*/libvx380errorlog.a" "./usr/lib/*/libvx380errorlog.so" "./usr/lib/*/libvx380errorlog.so.1"
    "./usr/lib/*/libvx380errorlog.so.1.0"
    "./usr/lib/*/cmake/VX380ErrorLog/VX380ErrorLogConfig.cmake"
    "./usr/lib/*/cmake/VX380ErrorLog/VX380ErrorLogConfigVersion.cmake"
    "./usr/lib/*/cmake/VX380ErrorLog/VX380ErrorLogTargets.cmake"
    "./usr/lib/*/pkgconfig/vx380errorlog.pc"
    ./usr/bin/vxtrace
    ./usr/share/doc/vx380errorlog/copyright ./usr/share/doc/vx380errorlog/changelog.gz
    ./usr/share/doc/vx380errorlog/examples/user.reg ./usr/share/doc/vx380errorlog/examples/machine.reg)
  [ "$man" = 1 ] && expected+=(./usr/share/man/man1/vxtrace.1.gz)
  for f in "${expected[@]}"; do
    # shellcheck disable=SC2053
    found=0
    while read -r line; do [[ $line == $f ]] && { found=1; break; }; done <<<"$listing"
    [ $found = 1 ] || fail "$deb lacks $f"
  done
  ! grep -q 'ModuleState.h' <<<"$listing" || fail "$deb ships the core's private ModuleState.h"
  ! grep -qE 'gtest|gmock|benchmark|unit_tests' <<<"$listing" || fail "$deb ships test files"
  echo "${#expected[@]} expected files present"
  ;;
deb_consumer)
  src=$1 work=$2
  deb=$(ls "$work"/*.deb)
  root=$work/root
  rm -rf "$root"
  dpkg -x "$deb" "$root"
  cmake_consumer "$src" "$work/consumer" -DCMAKE_PREFIX_PATH="$root/usr" -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF
  grep -q "$root/usr/include" "$work/consumer/build/CMakeFiles/consumer.dir/flags.make" ||
    fail "the consumer does not use the unpacked headers"
  run_consumer "$work/consumer/build/consumer" "$work/consumer"
  run_consumer "$work/consumer/build/consumer_static" "$work/consumer"
  ;;
lintian)
  work=$1
  deb=$(ls "$work"/*.deb)
  command -v lintian >/dev/null || fail "lintian is not installed"
  # Exit 1: tags at error severity; above 1: lintian itself failed.
  rc=0
  lintian --allow-root --fail-on error "$deb" || rc=$?
  [ $rc -eq 0 ] || fail "lintian exit status $rc"
  ;;
exports)
  lib=$1
  syms=$(nm -D --defined-only -C "$lib" | cut -d' ' -f3-)
  [ -n "$syms" ] || fail "$lib exports nothing"
  public='vx380::(ErrorLog|CErrorStatus|AutomationError|Variant|LateBound|Enumerator|Platform)(::|$)'
  functions='vx380::(Err|RuntimeErrorText|RaiseRuntime|ErrorFromCurrentException|CheckedInteger|CheckedLong|ToUtf8|FromUtf8|FromUtf8Strict|CurrentPlatform|SetPlatform|SystemPlatform|CutAtNull|posix::SetMessageBoxHandler|posix::DebugSocketPath|posix::SettingsFilePath|posix::PrivateRuntimeDir)(\[abi:cxx11\])?\('
  bad=$(sed -E 's/^(vtable|typeinfo|typeinfo name) for //' <<<"$syms" | grep -vE "^($public|$functions)" || true)
  [ -z "$bad" ] || fail "exported beyond the public API:
$bad"
  for needed in 'vx380::ErrorLog::LogError(' 'vx380::ErrorLog::Default()' 'typeinfo for vx380::AutomationError' \
                'vx380::SetPlatform(' 'vx380::posix::SetMessageBoxHandler('; do
    grep -qF "$needed" <<<"$syms" || fail "$lib does not export $needed"
  done
  echo "$(wc -l <<<"$syms") symbols, all of the public API"
  ;;
*) fail "unknown step $cmd" ;;
esac
