#!/bin/bash
# The rig proves itself: boxdemo.exe sends debug lines and shows two boxes; the listener
# must capture the lines and boxbot must read both boxes and press the buttons asked for.
#   rig_selftest.sh WORKDIR BINDIR -- EMULATOR...
set -euo pipefail
. "$(dirname "$0")/tools/rig.sh"
work=$1 bin=$2
shift 2
rig_init "$work" "$bin" "$@"

rig_start_dbwin "$RIG_WORK/debug.txt"
rig_start_boxbot "$RIG_WORK/boxes.jsonl" --count 2 --answer No --answer id:2
answers=$(rig_run "$bin/boxdemo.exe" | tr -d '\r')
rig_stop

[ "$answers" = "7 2" ] || rig_fail "boxdemo saw answers '$answers', expected '7 2'"

expected_debug=$'boxdemo: before the boxes\nboxdemo: first answer 7\nboxdemo: second answer 2\n'
[ "$(cat "$RIG_WORK/debug.txt"; echo .)" = "$expected_debug." ] ||
  rig_fail "debug output differs:"$'\n'"$(cat -A "$RIG_WORK/debug.txt")"

first='"title":"Box Demo","text":"Proceed with the café order?","buttons":[{"id":6,"text":"&Yes"},{"id":7,"text":"&No"}],"default":6,"icon":"question","pressed":7,"pressedText":"&No"}'
second='"title":"With Help","text":"Line one\r\nLine \"two\"","buttons":[{"id":1,"text":"OK"},{"id":2,"text":"Cancel"},{"id":9,"text":"Help"}],"default":1,"icon":"exclamation","pressed":2,"pressedText":"Cancel"}'
[ "$(wc -l <"$RIG_WORK/boxes.jsonl")" -eq 2 ] || rig_fail "expected 2 box records:"$'\n'"$(cat "$RIG_WORK/boxes.jsonl")"
grep -qF "{\"index\":1," "$RIG_WORK/boxes.jsonl" && grep -qF "$first" "$RIG_WORK/boxes.jsonl" ||
  rig_fail "first box differs:"$'\n'"$(cat "$RIG_WORK/boxes.jsonl")"
grep -qF "$second" "$RIG_WORK/boxes.jsonl" || rig_fail "second box differs:"$'\n'"$(cat "$RIG_WORK/boxes.jsonl")"
echo "rig self-test passed"
