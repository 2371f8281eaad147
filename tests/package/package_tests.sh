#!/usr/bin/env bash
# The library as other projects get it: installed, packaged, or taken in as sources.
#   package_tests.sh install      <build tree> <prefix>
#   package_tests.sh find_package <consumer sources> <prefix> <work>
#   package_tests.sh pkg_config   <consumer sources> <prefix> <work>
#   package_tests.sh subdirectory <consumer sources> <project sources> <work>
#   package_tests.sh deb          <build tree> <work>           (makes <work>/*.deb)
#   package_tests.sh deb_contents <work> <has man page: 0|1>
#   package_tests.sh deb_install  <work>                        (installs into <work>/root)
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

packages=(libvx380errorlog1 libvx380errorlog-dev vxtrace)
SELF=$(readlink -f "$0")

# The one .deb of a package in a folder.
deb_of() {
  local found
  found=$(find "$1" -maxdepth 1 -name "${2}_*.deb")
  [ -n "$found" ] && [ "$(wc -l <<<"$found")" -eq 1 ] || fail "not one package $2 in $1: ${found:-none}"
  echo "$found"
}

listing() { for deb; do dpkg-deb -c "$deb" | awk '{print $6}'; done; }

# Fails unless every pattern names a file of the package.
expect_files() {
  local deb=$1 files f line found
  shift
  files=$(listing "$deb")
  for f; do
    found=0
    # shellcheck disable=SC2053
    while read -r line; do [[ $line == $f ]] && { found=1; break; }; done <<<"$files"
    [ $found = 1 ] || fail "$deb lacks $f"
  done
  echo "$(basename "$deb"): $# expected files present"
}

# The library package refreshes the library cache by trigger, not from maintainer scripts, and
# its symbols file names every symbol the library exports.
check_lib_control() {
  local deb=$1 work=$2 control=$2/lib-control files=$2/lib-files
  rm -rf "$control" "$files"
  dpkg-deb -e "$deb" "$control"
  dpkg-deb -x "$deb" "$files"
  grep -qx 'activate-noawait ldconfig' "$control/triggers" 2>/dev/null || fail "$deb has no ldconfig trigger"
  for script in preinst postinst prerm postrm; do
    [ ! -e "$control/$script" ] || fail "$deb has a $script: $(cat "$control/$script")"
  done
  [ -f "$control/symbols" ] || fail "$deb has no symbols file"
  head -n 1 "$control/symbols" | grep -qx 'libvx380errorlog.so.1 libvx380errorlog1 #MINVER#' ||
    fail "the symbols file does not start with its library: $(head -n 1 "$control/symbols")"
  local exported listed
  exported=$(nm -D --defined-only "$(find "$files" -name 'libvx380errorlog.so.1.*')" | awk '{print $3}' | sort -u)
  listed=$(sed -n 's/^ \([^@ ]*\)@Base .*/\1/p' "$control/symbols" | sort -u)
  [ -n "$exported" ] && [ "$exported" = "$listed" ] ||
    fail "the symbols file and the library differ: $(diff <(echo "$listed") <(echo "$exported") | head -n 20)"
  # What 1.0 exported is asked for as 1.0; what came later, as the version it came in.
  grep -qx ' _ZN5vx3808ErrorLog10DebugTraceENSt7__cxx1112basic_stringIDsSt11char_traitsIDsESaIDsEEE@Base 1.0' \
    "$control/symbols" || fail "DebugTrace(String) is not dated 1.0 in the symbols file"
  grep -qx ' _ZN5vx3808ErrorLog10DebugTraceEPKDs@Base 1.1' "$control/symbols" ||
    fail "DebugTrace(const char16_t*) is not dated 1.1 in the symbols file"
  echo "symbols file: $(wc -l <<<"$listed") symbols"
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
  for p in "${packages[@]}"; do deb_of "$work" "$p" >/dev/null; done
  n=$(find "$work" -maxdepth 1 -name '*.deb' | wc -l)
  [ "$n" -eq ${#packages[@]} ] || fail "$n packages made, expected ${packages[*]}"
  ls "$work"/*.deb
  ;;
deb_contents)
  work=$1 man=$2
  lib=$(deb_of "$work" libvx380errorlog1) dev=$(deb_of "$work" libvx380errorlog-dev) tool=$(deb_of "$work" vxtrace)
  expect_files "$lib" "./usr/lib/*/libvx380errorlog.so.1" "./usr/lib/*/libvx380errorlog.so.1.1" \
    ./usr/share/doc/libvx380errorlog1/copyright ./usr/share/doc/libvx380errorlog1/changelog.gz
  expect_files "$dev" ./usr/include/vx380/ErrorLog.h ./usr/include/vx380/Automation.h ./usr/include/vx380/Export.h \
    ./usr/include/vx380/CErrorStatus.h ./usr/include/vx380/LateBound.h ./usr/include/vx380/Platform.h \
    ./usr/include/vx380/PosixPlatform.h ./usr/include/vx380/TraceChannel.h \
    "./usr/lib/*/libvx380errorlog.a" "./usr/lib/*/libvx380errorlog.so" \
    "./usr/lib/*/cmake/VX380ErrorLog/VX380ErrorLogConfig.cmake" \
    "./usr/lib/*/cmake/VX380ErrorLog/VX380ErrorLogConfigVersion.cmake" \
    "./usr/lib/*/cmake/VX380ErrorLog/VX380ErrorLogTargets.cmake" "./usr/lib/*/pkgconfig/vx380errorlog.pc" \
    ./usr/share/doc/libvx380errorlog-dev/copyright ./usr/share/doc/libvx380errorlog-dev/changelog.gz \
    ./usr/share/doc/libvx380errorlog-dev/examples/user.reg ./usr/share/doc/libvx380errorlog-dev/examples/machine.reg
  tool_files=(./usr/bin/vxtrace ./usr/share/doc/vxtrace/copyright ./usr/share/doc/vxtrace/changelog.gz)
  [ "$man" = 1 ] && tool_files+=(./usr/share/man/man1/vxtrace.1.gz)
  expect_files "$tool" "${tool_files[@]}"
  # Each file in one package only: the library package holds no link or header, the others no library.
  ! listing "$lib" | grep -qE '\.so$|\.a$|include/|bin/' || fail "$lib holds development files or tools"
  ! listing "$dev" "$tool" | grep -qE '\.so\.1' || fail "the shared library is outside $lib"
  ! listing "$dev" | grep -q 'ModuleState.h' || fail "$dev ships the core's private ModuleState.h"
  ! listing "$lib" "$dev" "$tool" | grep -qE 'gtest|gmock|benchmark|unit_tests' || fail "test files are packaged"
  version=$(dpkg-deb -f "$lib" Version)
  grep -qx "libvx380errorlog1 (= $version)" <<<"$(dpkg-deb -f "$dev" Depends | tr ',' '\n' | sed 's/^ //')" ||
    fail "$dev does not depend on libvx380errorlog1 (= $version): $(dpkg-deb -f "$dev" Depends)"
  check_lib_control "$lib" "$work"
  ;;
deb_install)
  work=$1
  root=$work/root
  rm -rf "$root"
  mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/triggers"
  touch "$root/var/lib/dpkg/status" "$root/var/lib/dpkg/available"
  debs=()
  for p in "${packages[@]}"; do debs+=("$(deb_of "$work" "$p")"); done
  # The system's packages that ours depend on are recorded in the root as installed (their
  # files stay outside it), so dpkg checks every dependency between our packages for real.
  system=$(for deb in "${debs[@]}"; do dpkg-deb -f "$deb" Depends | tr ',' '\n' | awk '{print $1}'; done |
           grep -vxE "$(IFS='|'; echo "${packages[*]}")" | sort -u)
  for p in $system; do
    dpkg-query -W -f='Package: ${Package}\nStatus: install ok installed\nArchitecture: ${Architecture}\nMulti-Arch: ${Multi-Arch}\nVersion: ${Version}\n\n' "$p" \
      >>"$root/var/lib/dpkg/status" || fail "$p is not installed on this machine"
  done
  dpkg --root="$root" --force-not-root --log=/dev/null -i "${debs[@]}" >"$work/dpkg.log" 2>&1 ||
    { cat "$work/dpkg.log"; fail "dpkg could not install the packages into $root"; }
  for p in "${packages[@]}"; do
    dpkg --root="$root" --force-not-root -s "$p" 2>/dev/null | grep -q '^Status: install ok installed' ||
      fail "$p is not installed in $root"
  done
  ;;
deb_consumer)
  src=$1 work=$2
  root=$work/root
  [ -e "$root/usr/include/vx380/ErrorLog.h" ] || fail "nothing installed in $root"
  # The .so link of the development package reaches the library package's file.
  so=$(find "$root/usr/lib" -name libvx380errorlog.so)
  [ -e "$so" ] && [ -n "$(readlink -e "$so")" ] || fail "the development link $so leads nowhere"
  cmake_consumer "$src" "$work/consumer" -DCMAKE_PREFIX_PATH="$root/usr" -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF
  grep -q "$root/usr/include" "$work/consumer/build/CMakeFiles/consumer.dir/flags.make" ||
    fail "the consumer does not use the installed headers"
  expect_shared "$work/consumer/build/consumer"
  run_consumer "$work/consumer/build/consumer" "$work/consumer"
  run_consumer "$work/consumer/build/consumer_static" "$work/consumer"
  bash "$SELF" pkg_config "$src" "$root/usr" "$work/pkg_config"
  "$root/usr/bin/vxtrace" --version >/dev/null || fail "the installed vxtrace does not run"
  ;;
lintian)
  work=$1
  command -v lintian >/dev/null || fail "lintian is not installed"
  debs=()
  for p in "${packages[@]}"; do debs+=("$(deb_of "$work" "$p")"); done
  # Together, so that checks across the packages of one source run too. Exit 2: tags at
  # error or warning severity (printed above); 1: lintian itself failed.
  rc=0
  lintian --allow-root --fail-on error,warning "${debs[@]}" || rc=$?
  [ $rc -ne 2 ] || fail "lintian found errors or warnings"
  [ $rc -eq 0 ] || fail "lintian failed (exit status $rc)"
  echo "lintian: no error or warning in ${packages[*]}"
  ;;
exports)
  lib=$1
  syms=$(nm -D --defined-only -C "$lib" | cut -d' ' -f3-)
  [ -n "$syms" ] || fail "$lib exports nothing"
  public='vx380::(ErrorLog|CErrorStatus|AutomationError|Variant|LateBound|Enumerator|Platform|ListenerAwarePlatform)(::|$)'
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
