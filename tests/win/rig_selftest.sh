#!/bin/bash
# The rig proves itself: boxdemo.exe sends debug lines and shows five boxes; the listener
# must capture the lines and boxbot must read every box (title, text, buttons, icon) and
# press the buttons asked for.
#   rig_selftest.sh WORKDIR BINDIR -- EMULATOR...
set -euo pipefail
. "$(dirname "$0")/tools/rig.sh"
work=$1 bin=$2
shift 2
rig_init "$work" "$bin" "$@"

rig_start_dbwin "$RIG_WORK/debug.txt"
rig_start_boxbot "$RIG_WORK/boxes.jsonl" --count 5 --answer No --answer id:2 --answer default
answers=$(rig_run "$bin/boxdemo.exe" | tr -d '\r')
rig_stop

[ "$answers" = "7 2 1 1 1" ] || rig_fail "boxdemo saw answers '$answers', expected '7 2 1 1 1'"

expected_debug=$'boxdemo: before the boxes\nboxdemo: first answer 7\nboxdemo: second answer 2\n'
expected_debug+=$'boxdemo: style 16 answer 1\nboxdemo: style 64 answer 1\nboxdemo: style 0 answer 1\n'
[ "$(cat "$RIG_WORK/debug.txt"; echo .)" = "$expected_debug." ] ||
  rig_fail "debug output differs:"$'\n'"$(cat -A "$RIG_WORK/debug.txt")"

first='"title":"Box Demo","text":"Proceed with the café order?","buttons":[{"id":6,"text":"&Yes"},{"id":7,"text":"&No"}],"default":6,"icon":"question","pressed":7,"pressedText":"&No"}'
second='"title":"With Help","text":"Line one\r\nLine \"two\"","buttons":[{"id":1,"text":"OK"},{"id":2,"text":"Cancel"},{"id":9,"text":"Help"}],"default":1,"icon":"exclamation","pressed":2,"pressedText":"Cancel"}'
expect_box() {  # INDEX RECORD-TAIL
  grep -qF "{\"index\":$1,\"pid\":" "$RIG_WORK/boxes.jsonl" && grep -F "{\"index\":$1," "$RIG_WORK/boxes.jsonl" | grep -qF "$2" ||
    rig_fail "box $1 differs from ...$2:"$'\n'"$(cat "$RIG_WORK/boxes.jsonl")"
}
[ "$(wc -l <"$RIG_WORK/boxes.jsonl")" -eq 5 ] || rig_fail "expected 5 box records:"$'\n'"$(cat "$RIG_WORK/boxes.jsonl")"
expect_box 1 "$first"
expect_box 2 "$second"
expect_box 3 '"title":"Icons","text":"Style 16","buttons":[{"id":1,"text":"OK"}],"default":1,"icon":"critical","pressed":1,'
expect_box 4 '"text":"Style 64","buttons":[{"id":1,"text":"OK"}],"default":1,"icon":"information","pressed":1,'
expect_box 5 '"text":"Style 0","buttons":[{"id":1,"text":"OK"}],"default":1,"icon":"none","pressed":1,'
# A script is done when its own output ends with the marker; Wine's words on its standard error
# after that do not count, and a FAIL line or a missing marker always does.
script_verdict() {  # OUT-TEXT ERR-TEXT
  printf '%b' "$1" >"$RIG_WORK/s.out"; printf '%b' "$2" >"$RIG_WORK/s.err"
  (rig_script_done probe "$RIG_WORK/s.out" "$RIG_WORK/s.err" >/dev/null 2>&1) && echo done || echo refused
}
[ "$(script_verdict 'a\r\nCOMPLETE\r\n\r\n' 'wine client error:3c8: sendmsg\n')" = done ] || rig_fail "noise after COMPLETE refused"
[ "$(script_verdict 'a\n' 'COMPLETE\n')" = refused ] || rig_fail "COMPLETE on standard error accepted"
[ "$(script_verdict 'COMPLETE\na\n' '')" = refused ] || rig_fail "output after COMPLETE accepted"
[ "$(script_verdict 'FAIL: x\nCOMPLETE\n' '')" = refused ] || rig_fail "a FAIL line accepted"
echo "rig self-test passed"
