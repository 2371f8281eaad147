#!/bin/bash
# Tracing through the real debug output channel: entry, exit and line markers of a call tree
# with real elapsed times, suppressed levels, the empty stack, a marker outside any routine
# (warning line and failure box), the debug prompt answered Yes and No and its notice while
# suppressed, time stamps behind the user's Timing switch, and the stack's capacity.
#   trace.sh WORKDIR TOOLSDIR PROGRAM -- EMULATOR...
set -euo pipefail
. "$(dirname "$0")/behaviour.sh"
bh_init "$@"

switches=()
for app in BhTrace BhTraceMachine BhTraceOff; do
  switches+=("?delete HKCU\\Software\\Meridox\\Applications\\$app.Application /f"
             "?delete HKLM\\Software\\Meridox\\Applications\\$app.Application /f")
done
switches+=(
  "add $(bh_app_key HKCU BhTrace Timing) /ve /d \" True \" /f"
  "add $(bh_app_key HKLM BhTraceMachine Timing) /ve /d True /f"  # only the user's switch counts
  "add $(bh_app_key HKCU BhTraceOff Timing) /ve /d yes /f"
)
bh_reg "${switches[@]}"

bh_start_dbwin "$RIG_WORK/debug.txt"
rig_start_boxbot "$RIG_WORK/boxes.jsonl" --count 5 \
  --answer default --answer default --answer Yes --answer No --answer default
bh_run trace trace
rig_stop

printf '%s\n' 'prompt while suppressed: 1' 'prompt: 6' 'prompt: 7' >"$RIG_WORK/expected.out"
bh_compare_lines "prompt answers" "$RIG_WORK/trace.out" "$RIG_WORK/expected.out"

# Entry and exit lines end in " , EOL " with its blank, markers in the blank before the note.
printf '%s\n' \
  '== before any entry' \
  'RBDEBUGLINE Called Without RBDEBUGENTER or RBDEBUGMODULE' \
  'RBDEBUG Stack is empty' \
  'RBDEBUG Stack is empty' \
  '== call tree' \
  'RBDEBUG , BEG>>> , ........ , Startup , start , EOL ' \
  'RBDEBUG , L(5)   , @MS@ ,   Startup ' \
  'RBDEBUG , BEG>>> , ........ , ..Load ,  , EOL ' \
  'RBDEBUG , L(120) , @MS@ ,     Load x' \
  'RBDEBUG , END<<< , @MS@ , ..Load ,  , EOL ' \
  'RBDEBUGTIMING , timestamp , quiet , @TIME@ , @NUM@' \
  'RBDEBUG , L(10)  , @MS@ ,   Startup ' \
  'RBDEBUG , END<<< , @MS@ , Startup , done , EOL ' \
  '== time stamps' \
  'RBDEBUGTIMING , timestamp , stamp , @TIME@ , @NUM@' \
  '== deep stack' \
  'RBDEBUG Stack is empty' \
  '== end' >"$RIG_WORK/expected.debug"
bh_debug_lines "$RIG_WORK/debug.txt" "$BH_PID" "$RIG_WORK/debug.lines"
bh_compare_lines "debug output" "$RIG_WORK/debug.lines" "$RIG_WORK/expected.debug"

# The times come from one real clock: Startup slept 40 ms before its first marker and Load
# 10 ms before its own; each later time of a routine is at least its earlier one.
ms() { grep -F "$1" "$RIG_WORK/debug.lines" | awk -F ' , ' '{ print $3 + 0 }'; }
l5=$(ms 'L(5) ') l120=$(ms 'L(120)') load=$(ms 'END<<< , ' | head -n 1) l10=$(ms 'L(10) ') startup=$(ms 'END<<< , ' | tail -n 1)
[ "$l5" -ge 38 ] && [ "$l120" -ge 8 ] && [ "$load" -ge "$l120" ] && [ "$l10" -ge $((l5 + load)) ] &&
  [ "$startup" -ge "$l10" ] ||
  rig_fail "implausible times: L(5) $l5, L(120) $l120, Load $load, L(10) $l10, Startup $startup"

boxes=$RIG_WORK/boxes.jsonl
bh_expect_boxes "$boxes" 5
bh_expect_box "$boxes" 1 '"text":"RBDEBUGLINE ' ",$BH_OK_ONLY,\"icon\":\"exclamation\""
bh_expect_box "$boxes" 2 '"title":"ErrorLogging","text":"RBDEBUGMESSAGE Called, expecting a response, but with debug currently suppressed",'"$BH_OK_ONLY"',"icon":"none","pressed":1,'
prompt='"title":"Check","text":"Continue?",'"$BH_YES_NO"',"default":6,"icon":"question"'
bh_expect_box "$boxes" 3 "$prompt" '"pressed":6,'
bh_expect_box "$boxes" 4 "$prompt" '"pressed":7,'
bh_expect_box "$boxes" 5 '"text":"RBDEBUGMODULE ' '\r\nProgress was: Processing entry to module",' \
  ",$BH_OK_ONLY,\"icon\":\"exclamation\""
echo "trace behaviour passed"
