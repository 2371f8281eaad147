#!/bin/bash
# Runs a Windows program under Wine for the cross-built tests (CMAKE_CROSSCOMPILING_EMULATOR).
#
#   wine-run.sh [--arch win64|win32] [--tree BUILD_DIR] [--] PROGRAM [ARGS...]
#   wine-run.sh [--arch ...] [--tree ...] --init       make the prefix and display ready, print their settings
#   wine-run.sh [--tree ...] --shutdown                stop this tree's wineserver and Xvfb
#
# Each build tree gets its own Wine prefix (BUILD_DIR/wineprefix), made on first use
# without any prompt, and, when no DISPLAY is set, its own Xvfb server shared by all
# tests of the tree. Parallel ctest jobs wait for each other while the prefix is made.
#
# Environment:
#   VX380_WINE_TREE     build tree (default: --tree, else the nearest directory above $PWD holding CMakeCache.txt)
#   VX380_WINE_ARCH     win64 or win32 (default: --arch, else win64)
#   VX380_WINEPREFIX    prefix to use instead of BUILD_DIR/wineprefix
#   VX380_WINEDEBUG     WINEDEBUG for the program (default -all)
#   VX380_WINE_LOCALE   Unix locale Wine derives the Windows one from (default C.UTF-8: en-US, code page 1252)
#   VX380_XVFB          1: use our own Xvfb even when DISPLAY is set; 0: never start one
#   VX380_XVFB_IDLE     seconds without any Wine process of the prefix before our Xvfb exits (default 60)
#   VX380_WINESERVER_PERSIST  seconds wineserver lingers after its last client (default 30)
set -euo pipefail

script=$(readlink -f "${BASH_SOURCE[0]}")
arch=${VX380_WINE_ARCH:-}
tree=${VX380_WINE_TREE:-}
action=run

die() { echo "wine-run.sh: $*" >&2; exit 125; }

while [ $# -gt 0 ]; do
  case "$1" in
    --arch) arch=$2; shift 2 ;;
    --arch=*) arch=${1#--arch=}; shift ;;
    --tree) tree=$2; shift 2 ;;
    --tree=*) tree=${1#--tree=}; shift ;;
    --init) action=init; shift ;;
    --shutdown) action=shutdown; shift ;;
    --watch-xvfb) action=watch; shift; break ;;
    --) shift; break ;;
    *) break ;;
  esac
done

arch=${arch:-win64}
case "$arch" in win64|win32) ;; *) die "unknown arch '$arch' (win64 or win32)" ;; esac

if [ -z "$tree" ]; then
  dir=$PWD
  while [ "$dir" != / ] && [ ! -f "$dir/CMakeCache.txt" ]; do dir=$(dirname "$dir"); done
  [ -f "$dir/CMakeCache.txt" ] || die "no build tree: pass --tree or set VX380_WINE_TREE"
  tree=$dir
fi
mkdir -p "$tree"
tree=$(cd "$tree" && pwd -P)
prefix=${VX380_WINEPREFIX:-$tree/wineprefix}
state=$tree/wine-rig
mkdir -p "$state"

# Wine must not see the caller's prefix, and needs a home even in a bare container.
export WINEPREFIX=$prefix
export HOME=${HOME:-$state}
# Wine takes the Windows locale (formats, ANSI code page) from the Unix one: pin it, so
# date and number texts do not depend on who runs the tests. C.UTF-8 is US English, 1252.
export LC_ALL=${VX380_WINE_LOCALE:-C.UTF-8}
unset LANGUAGE
unset WINEARCH WINESERVER WINELOADER
export WINEDLLOVERRIDES="mscoree,mshtml=${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"

# ---------------------------------------------------------------- Xvfb

# A process of ours still using the prefix? (wineserver and every Wine process carry WINEPREFIX.)
prefix_in_use() {
  local f
  for f in /proc/[0-9]*/environ; do
    [ "$f" = "/proc/$$/environ" ] && continue
    grep -qsxzF "WINEPREFIX=$prefix" "$f" && return 0
  done
  return 1
}

xvfb_alive() {  # reads $state/xvfb: "<display> <pid>"
  local display pid
  [ -s "$state/xvfb" ] || return 1
  read -r display pid <"$state/xvfb" || return 1
  [ -n "$display" ] && [ -n "$pid" ] || return 1
  kill -0 "$pid" 2>/dev/null || return 1
  [ "$(readlink "/proc/$pid/exe" 2>/dev/null)" = "$(readlink -f "$(command -v Xvfb)")" ] || return 1
  [ -S "/tmp/.X11-unix/X$display" ] || return 1
  xvfb_display=$display
}

watch_xvfb() {  # runs detached: ends our Xvfb once nothing has used the prefix for a while
  local pid=$1 idle=0 limit=${VX380_XVFB_IDLE:-60}
  unset WINEPREFIX  # our own children must not count as users of the prefix
  while kill -0 "$pid" 2>/dev/null; do
    sleep 5
    # The build tree was deleted: nobody can use this display any more.
    [ -d "$state" ] || { kill "$pid" 2>/dev/null; exit 0; }
    if prefix_in_use || [ -n "$(find "$state/xvfb.used" -newermt "-${limit} seconds" 2>/dev/null)" ]; then
      idle=0
      continue
    fi
    idle=$((idle + 5))
    if [ "$idle" -ge "$limit" ]; then
      exec 8>"$state/xvfb.lock"
      flock 8
      prefix_in_use && { idle=0; flock -u 8; continue; }
      kill "$pid" 2>/dev/null || true
      rm -f "$state/xvfb"
      exit 0
    fi
  done
  rm -f "$state/xvfb"
}

start_xvfb() {
  command -v Xvfb >/dev/null || die "no DISPLAY and Xvfb is not installed"
  rm -f "$state/xvfb.fd"
  # -displayfd picks a free display and reports it once the server accepts clients.
  env -u WINEPREFIX setsid Xvfb -displayfd 7 -nolisten tcp -screen 0 1280x1024x24 \
    7>"$state/xvfb.fd" </dev/null >>"$state/xvfb.log" 2>&1 8>&- 9>&- &
  local pid=$! waited=0
  while [ ! -s "$state/xvfb.fd" ]; do
    kill -0 "$pid" 2>/dev/null || die "Xvfb failed to start (see $state/xvfb.log)"
    [ $waited -ge 300 ] && { kill "$pid"; die "Xvfb did not come up (see $state/xvfb.log)"; }
    sleep 0.1
    waited=$((waited + 1))
  done
  xvfb_display=$(tr -dc '0-9' <"$state/xvfb.fd")
  echo "$xvfb_display $pid" >"$state/xvfb"
  # The watcher must not keep the prefix "in use" itself, nor hold any of our pipes.
  env -u WINEPREFIX setsid "$script" --tree "$tree" --watch-xvfb "$pid" \
    </dev/null >>"$state/xvfb.log" 2>&1 7>&- 8>&- 9>&- &
}

use_display() {
  local want=${VX380_XVFB:-}
  if [ "$want" = 0 ] || { [ -n "${DISPLAY:-}" ] && [ "$want" != 1 ]; }; then return; fi
  exec 8>"$state/xvfb.lock"
  flock 8
  xvfb_alive || start_xvfb
  touch "$state/xvfb.used"
  flock -u 8
  exec 8>&-
  export DISPLAY=":$xvfb_display"
}

# ---------------------------------------------------------------- prefix

ensure_prefix() {
  local marker=$prefix/.vx380-ready
  [ "$(cat "$marker" 2>/dev/null)" = "$arch" ] && return
  exec 9>"$state/prefix.lock"
  flock 9
  if [ "$(cat "$marker" 2>/dev/null)" != "$arch" ]; then
    echo "wine-run.sh: creating $arch prefix $prefix" >&2
    wineserver -k 9>&- >/dev/null 2>&1 || true
    # Only a prefix this script made (or an empty folder) is ever thrown away.
    if [ -d "$prefix" ] && [ -n "$(ls -A "$prefix")" ] && [ ! -f "$prefix/.vx380-owned" ]; then
      die "$prefix exists and was not made by wine-run.sh; remove it or choose another VX380_WINEPREFIX"
    fi
    rm -rf "$prefix"
    mkdir -p "$prefix"
    touch "$prefix/.vx380-owned"
    # No Mono or Gecko prompts (WINEDLLOVERRIDES above), no debug noise.
    WINEARCH=$arch WINEDEBUG=-all timeout 600 wineboot -i 9>&- </dev/null >>"$state/prefix.log" 2>&1 ||
      die "wineboot failed (see $state/prefix.log)"
    # Unmanaged windows: closing a managed box costs seconds under Wine.
    WINEDEBUG=-all timeout 120 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f \
      9>&- </dev/null >>"$state/prefix.log" 2>&1 || die "cannot configure the prefix (see $state/prefix.log)"
    timeout 120 wineserver -w 9>&- || true
    echo "$arch" >"$marker"
  fi
  flock -u 9
  exec 9>&-
}

start_wineserver() {
  # The server and Wine's own background processes (services, desktop, RPC) outlive the
  # program that starts them and keep its stderr open, so a test runner would wait for
  # them. Start them here, detached from our stdio, before any program runs; they stay
  # while the prefix is in use and end on their own once it has been idle a while.
  exec 9>"$state/server.lock"
  flock 9
  if setsid wineserver -p"${VX380_WINESERVER_PERSIST:-30}" </dev/null >/dev/null 2>&1 7>&- 8>&- 9>&-; then
    WINEDEBUG=-all timeout 120 wine net start rpcss </dev/null >/dev/null 2>&1 7>&- 8>&- 9>&- || true
  fi
  flock -u 9
  exec 9>&-
}

case "$action" in
  watch) watch_xvfb "$1"; exit 0 ;;
  shutdown)
    wineserver -k >/dev/null 2>&1 || true
    if xvfb_alive; then read -r _ pid <"$state/xvfb"; kill "$pid" 2>/dev/null || true; fi
    rm -f "$state/xvfb"
    exit 0
    ;;
esac

use_display
ensure_prefix
[ "$action" = init ] || start_wineserver

if [ "$action" = init ]; then
  echo "WINEPREFIX=$WINEPREFIX"
  echo "DISPLAY=${DISPLAY:-}"
  echo "WINEDLLOVERRIDES=$WINEDLLOVERRIDES"
  exit 0
fi

[ $# -gt 0 ] || die "no program given"
export WINEDEBUG=${VX380_WINEDEBUG:--all}
exec wine "$@"
