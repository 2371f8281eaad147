#!/usr/bin/env bash
# Installs the Debian packages one purpose needs, only those missing.
#   install-deps.sh demo     the demo: CMake, make and g++ (its resource DLL is made natively)
#   install-deps.sh install  `make install`: the same
#   install-deps.sh build    the native tree with its suites and benchmarks (and the peers the
#                            benchmarks compare with: spdlog, LTTng-UST with its session tools)
#   install-deps.sh package  the Debian packages and the Windows kit: MinGW-w64 for both
#                            architectures, widl with the IDL files and type libraries of Wine's
#                            development packages (not Wine itself), dpkg-dev and file
#   install-deps.sh test     everything the suites use: the above, Wine, the box and browser
#                            drivers, lintian, pkg-config, clang's libFuzzer, libabigail's abidiff
set -euo pipefail
purpose=${1:-test}

native=(cmake make g++)
build=("${native[@]}" googletest libgtest-dev libbenchmark-dev libspdlog-dev liblttng-ust-dev lttng-tools pkg-config)
package=("${native[@]}" gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
         gcc-mingw-w64-i686-posix g++-mingw-w64-i686-posix binutils-mingw-w64-i686
         wine64-tools libwine-dev libwine:i386 dpkg-dev file)
test=("${build[@]}" "${package[@]}" mingw-w64 mingw-w64-tools binutils-mingw-w64 wine wine64 wine32:i386
      xvfb xdotool x11-utils chromium
      lintian pkg-config python3 abigail-tools clang-format
      clang libclang-rt-14-dev)

case $purpose in
demo | install) wanted=("${native[@]}") ;;
build) wanted=("${build[@]}") ;;
package) wanted=("${package[@]}") ;;
test) wanted=("${test[@]}") ;;
*) echo "usage: $0 demo|install|build|package|test" >&2; exit 2 ;;
esac

missing=()
need_i386=0
for p in "${wanted[@]}"; do
  if [[ $p == *:i386 ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    need_i386=1
  fi
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing for ${purpose}: ${missing[*]}"
[ $need_i386 -eq 1 ] && $sudo dpkg --add-architecture i386
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${missing[@]}"
