#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only those missing.
set -euo pipefail
native=(cmake make g++ googletest libgtest-dev libbenchmark-dev)
windows=(mingw-w64 mingw-w64-tools libwine-dev wine64-tools wine wine64 xvfb xdotool x11-utils binutils-mingw-w64)
wine32=(wine32:i386)

missing=()
for p in "${native[@]}" "${windows[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
need_i386=0
dpkg --print-foreign-architectures | grep -qx i386 || need_i386=1
for p in "${wine32[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && [ $need_i386 -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
[ $need_i386 -eq 1 ] && $sudo dpkg --add-architecture i386
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${missing[@]}"
