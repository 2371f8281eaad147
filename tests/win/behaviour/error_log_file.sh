#!/bin/bash
# The error log file on the real platform: one banner per thread and one line per error,
# a second thread adding its own banner to the same file, and a log in a folder that does
# not exist yet: the calls succeed without a box, and the log starts once it can be opened.
#   error_log_file.sh WORKDIR TOOLSDIR PROGRAM -- EMULATOR...
set -euo pipefail
. "$(dirname "$0")/behaviour.sh"
bh_init "$@"

logs=$RIG_WORK/logs
mkdir -p "$logs"
bh_start_dbwin "$RIG_WORK/debug.txt"
rig_start_boxbot "$RIG_WORK/boxes.jsonl"  # none expected; answered so that a stray one cannot hang the run
bh_run logfile logfile "$(rig_winpath "$logs")"
rig_stop

# Initialize leaves the application's name as the source of the thread's error object.
clear='0|BhLogFile|||0' pending='53|HostApp|File not found|host.hlp|1234'
cat >"$RIG_WORK/expected.out" <<EOF
first thread: returned; err $clear
second thread: returned; err $clear
first thread again: returned; err $clear
folder missing: returned; err $pending
folder made: returned; err $pending
EOF
bh_compare_lines "what the host saw" "$RIG_WORK/logfile.out" "$RIG_WORK/expected.out"

line() { printf 'ERROR: %s - described as: %s, Error Number is: 0' "$1" "$2"; }
printf '%s\n' "$(line A one)" "$(line A two)" "$(line B three)" "$(line A four)" "$(line C first)" \
  "$(line C second)" >"$RIG_WORK/expected.debug"
bh_debug_lines "$RIG_WORK/debug.txt" "$BH_PID" "$RIG_WORK/debug.lines"
bh_compare_lines "debug output" "$RIG_WORK/debug.lines" "$RIG_WORK/expected.debug"

crlf=$'\r\n'
bh_expect_log "$logs/shared.log" \
  "$BH_BANNER$(line A one)$crlf$(line A two)$crlf$BH_BANNER$(line B three)$crlf$(line A four)$crlf"
bh_expect_log "$logs/missing/retry.log" "$BH_BANNER$(line C second)$crlf"
bh_expect_boxes "$RIG_WORK/boxes.jsonl" 0
echo "error log file behaviour passed"
