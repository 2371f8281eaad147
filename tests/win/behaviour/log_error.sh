#!/bin/bash
# LogError on the real platform, row by row of its table: reporting level Off, Log, Display
# or LogAndDisplay, raise switch off or on, on a fresh log and on a log the thread started
# earlier. For each: the box (or none), the debugger line, the error log, the raise, and
# the host's pending error (53) afterwards. Then a Yes/No box answered both ways, the
# source and description fallbacks, and raise requests without a positive number.
#   log_error.sh WORKDIR TOOLSDIR PROGRAM -- EMULATOR...
set -euo pipefail
. "$(dirname "$0")/behaviour.sh"
bh_init "$@"

logs=$RIG_WORK/logs
mkdir -p "$logs"
bh_start_dbwin "$RIG_WORK/debug.txt"
rig_start_boxbot "$RIG_WORK/boxes.jsonl" --count 7 \
  --answer default --answer default --answer default --answer default --answer Yes --answer No --answer default
bh_run table table "$(rig_winpath "$logs")"
rig_stop

pending='53|HostApp|File not found|host.hlp|1234'
raised='1000|App1|Disk full|help.chm|77'
full_line='ERROR: App1 - SaveFile described as: Disk full, Error Number is: 1000'
pre_line='ERROR: Pre - described as: earlier, Error Number is: 1'
expected_out=() expected_debug=() expected_files=()
for level in Off Log Display LogAndDisplay; do
  for raise in noraise raise; do
    for start in fresh earlier; do
      case=$level-$raise-$start
      if [ $raise = raise ]; then
        expected_out+=("$case: raised $raised; err $raised")
      else
        expected_out+=("$case: returned; err $pending")
      fi

      expected_debug+=("== $case")
      [ $start = fresh ] || expected_debug+=("$pre_line")
      expected_debug+=("$full_line")

      # The log gets the line when this level logs or the thread started it before.
      log=''
      [ $start = fresh ] || log="$BH_BANNER$pre_line"$'\r\n'
      case $level in Log | LogAndDisplay) [ -n "$log" ] || log=$BH_BANNER ;; esac
      if [ -n "$log" ]; then
        bh_expect_log "$logs/$case.log" "$log$full_line"$'\r\n'
        expected_files+=("$case.log")
      else
        bh_expect_log "$logs/$case.log" '<missing>'
      fi
    done
  done
done
line20='ERROR: App1 - described as: Disk full, Error Number is: 20'
expected_out+=("buttons-20 first: returned; err $pending" "buttons-20 second: returned; err $pending")
expected_debug+=("== buttons-20" "$line20" "$line20")
bh_expect_log "$logs/buttons-20.log" "$BH_BANNER$line20"$'\r\n'"$line20"$'\r\n'
expected_files+=(buttons-20.log)

expected_out+=("fallbacks shown: returned; err $pending"
               "fallbacks raised: raised 9|BhTable|Unknown error||0; err 9|BhTable|Unknown error||0")
expected_debug+=("== fallbacks" 'ERROR: BhTable - described as: Unknown error, Error Number is: 0'
                 'ERROR: BhTable - described as: Unknown error, Error Number is: 9')

expected_out+=("raise with 0: returned; err $pending" "raise with -1: returned; err $pending")
expected_debug+=("== raise-without-number" 'ERROR: App1 - described as: Disk full, Error Number is: 0'
                 'ERROR: App1 - described as: Disk full')

printf '%s\n' "${expected_out[@]}" >"$RIG_WORK/expected.out"
bh_compare_lines "what the host saw" "$RIG_WORK/table.out" "$RIG_WORK/expected.out"
bh_debug_lines "$RIG_WORK/debug.txt" "$BH_PID" "$RIG_WORK/debug.lines"
printf '%s\n' "${expected_debug[@]}" >"$RIG_WORK/expected.debug"
bh_compare_lines "debug output" "$RIG_WORK/debug.lines" "$RIG_WORK/expected.debug"
[ "$(ls "$logs" | sort)" = "$(printf '%s\n' "${expected_files[@]}" | sort)" ] ||
  rig_fail "unexpected error logs: $(ls "$logs")"

# Boxes: only the Display and LogAndDisplay rows without raise, in that order, then the
# Yes/No box twice and the fallback box.
bh_expect_boxes "$RIG_WORK/boxes.jsonl" 7
error_box='"title":"App1","text":"Disk full",'"$BH_OK_ONLY"',"icon":"exclamation","pressed":1,'
for i in 1 2 3 4; do bh_expect_box "$RIG_WORK/boxes.jsonl" $i "$error_box"; done
yes_no='"title":"App1","text":"Disk full",'"$BH_YES_NO"',"default":6,"icon":"critical"'
bh_expect_box "$RIG_WORK/boxes.jsonl" 5 "$yes_no" '"pressed":6,'
bh_expect_box "$RIG_WORK/boxes.jsonl" 6 "$yes_no" '"pressed":7,'
bh_expect_box "$RIG_WORK/boxes.jsonl" 7 \
  '"title":"BhTable","text":"Unknown error",'"$BH_OK_ONLY"',"icon":"exclamation"'
echo "LogError behaviour: all rows passed"
