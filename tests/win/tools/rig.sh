# Shell helpers for tests that drive Windows programs under Wine with the debug-output
# listener and the message-box answerer. Source it, then:
#
#   rig_init WORKDIR TOOLSDIR -- EMULATOR...   scratch folder, folder of dbwin_listen.exe and
#                                              boxbot.exe, and the emulator command (wine-run.sh ...)
#   rig_winpath PATH                           the Windows form (Z:\...) of a Unix path
#   rig_run PROGRAM [ARGS...]                  run a Windows program (or cscript, regsvr32, ...)
#   rig_start_dbwin FILE                       capture debug output into FILE until rig_stop
#   rig_start_boxbot FILE [BOXBOT ARGS...]     answer boxes (see boxbot.cpp), records into FILE
#   rig_stop                                   end both helpers and wait for them
#   rig_script_done NAME OUT ERR               show a script's output and standard error; fail
#                                              unless it reached its COMPLETE marker, no FAIL line
#   rig_fail MESSAGE                           print and exit 1
#
# Both helpers signal readiness through a file, so a program started after rig_start_*
# cannot miss the listener or have a box go unanswered.

rig_fail() { echo "FAIL: $*" >&2; exit 1; }

rig_init() {
  RIG_WORK=$1 RIG_TOOLS=$2
  shift 2
  [ "${1:-}" = -- ] && shift
  RIG_EMULATOR=("$@")
  RIG_PIDS=()
  rm -rf "$RIG_WORK"
  mkdir -p "$RIG_WORK"
  RIG_WORK=$(cd "$RIG_WORK" && pwd -P)
  trap rig_stop EXIT
}

rig_winpath() { local p; p=$(readlink -m "$1"); printf 'Z:%s\n' "${p//\//\\}"; }

rig_run() { "${RIG_EMULATOR[@]}" "$@"; }

rig_wait_for() {  # FILE PID WHAT
  local waited=0
  while [ ! -e "$1" ]; do
    kill -0 "$2" 2>/dev/null || rig_fail "$3 ended before it was ready"
    [ $waited -ge 1200 ] && rig_fail "$3 not ready after 120 s"
    sleep 0.1
    waited=$((waited + 1))
  done
}

rig_start_dbwin() {
  local out=$1 tag=dbwin$RANDOM
  : >"$out"
  rig_run "$RIG_TOOLS/dbwin_listen.exe" "$(rig_winpath "$out")" --ready "$(rig_winpath "$RIG_WORK/$tag.ready")" \
    --stop "$(rig_winpath "$RIG_WORK/rig.stop")" --timeout 600 &
  RIG_PIDS+=($!)
  rig_wait_for "$RIG_WORK/$tag.ready" $! dbwin_listen
}

rig_start_boxbot() {
  local out=$1 tag=boxbot$RANDOM
  shift
  : >"$out"
  rig_run "$RIG_TOOLS/boxbot.exe" "$(rig_winpath "$out")" --ready "$(rig_winpath "$RIG_WORK/$tag.ready")" \
    --stop "$(rig_winpath "$RIG_WORK/rig.stop")" --timeout 600 "$@" &
  RIG_PIDS+=($!)
  rig_wait_for "$RIG_WORK/$tag.ready" $! boxbot
}

rig_stop() {
  [ -n "${RIG_WORK:-}" ] || return 0
  touch "$RIG_WORK/rig.stop"
  local pid
  for pid in "${RIG_PIDS[@]}"; do wait "$pid" 2>/dev/null || true; done
  RIG_PIDS=()
  rm -f "$RIG_WORK/rig.stop"
}

# The marker is looked for in the script's own output only: Wine may report on a thread of its
# own after the script's last line.
rig_script_done() {
  local name=$1 out=$2 err=$3
  tr -d '\r' <"$out"
  if [ -s "$err" ]; then echo "--- standard error:"; tr -d '\r' <"$err"; fi
  tr -d '\r' <"$out" | grep -q '^FAIL' && rig_fail "$name reported failures"
  [ "$(tr -d '\r' <"$out" | grep -v '^$' | tail -n 1)" = COMPLETE ] ||
    rig_fail "$name did not complete (no COMPLETE marker)"
}
