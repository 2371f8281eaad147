#!/usr/bin/env bash
# Installs the Debian packages one purpose needs, only those missing.
#   install-deps.sh demo   the native build and the demo (MinGW's C compiler and windres build
#                          the sample host's resource DLL)
#   install-deps.sh build  the native tree with its suites and benchmarks
#   install-deps.sh test   everything the suites use: the above, the Windows cross builds and
#                          Wine, the box and browser drivers, the package checks, clang's libFuzzer
set -euo pipefail
purpose=${1:-test}

demo=(cmake make g++ gcc-mingw-w64-x86-64-win32 binutils-mingw-w64-x86-64)
build=("${demo[@]}" googletest libgtest-dev libbenchmark-dev)
test=("${build[@]}" mingw-w64 mingw-w64-tools binutils-mingw-w64 libwine-dev wine64-tools wine wine64 wine32:i386
      xvfb xdotool x11-utils chromium
      lintian dpkg-dev pkg-config file python3
      clang libclang-rt-14-dev)

case $purpose in
demo) wanted=("${demo[@]}") ;;
build) wanted=("${build[@]}") ;;
test) wanted=("${test[@]}") ;;
*) echo "usage: $0 demo|build|test" >&2; exit 2 ;;
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
