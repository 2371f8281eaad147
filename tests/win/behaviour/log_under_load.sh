#!/bin/bash
# Many writers, one error log, on the real platform: 8 threads and 4 processes start at once
# and each reports 2,000 errors into the same file. Every line must arrive exactly once,
# whole and in its writer's order, after one banner per writer.
#   log_under_load.sh WORKDIR TOOLSDIR PROGRAM -- EMULATOR...
set -euo pipefail
. "$(dirname "$0")/behaviour.sh"
bh_init "$@"

threads=8 processes=4 count=2000
log=$RIG_WORK/shared.log
bh_run load load "$(rig_winpath "$log")" $threads $processes $count
cat "$RIG_WORK/load.out"

writers=()
for ((i = 0; i < threads; i++)); do writers+=(T$i); done
for ((i = 0; i < processes; i++)); do writers+=(P$i); done

[ "$(tail -c 2 "$log" | od -An -c | tr -d ' ')" = '\r\n' ] || rig_fail "the log does not end in CR LF"
dates=$(grep -cE "^$BH_DATE_TIME"$'\r$' "$log" || true)
[ "$dates" -eq ${#writers[@]} ] || rig_fail "expected ${#writers[@]} banner dates, found $dates"

# Banners must be whole (rule, date, rule); each error line must be exactly the one its
# writer sent, numbered one after the other.
awk -v writers="${writers[*]}" -v count=$count -v rule="$BH_RULE" '
  function bad(why) { if (failures++ < 20) printf "line %d: %s: %s\n", NR, why, $0 > "/dev/stderr" }
  BEGIN {
    n = split(writers, list, " ")
    for (i = 1; i <= n; i++) next_number[list[i]] = 0
    description = "Save described as: Disk full while saving the drawing named in the title block, Error Number is: "
  }
  {
    if (sub(/\r$/, "") != 1) bad("no CR LF")
    if (state == 1) { if ($0 == rule || index($0, "ERROR") == 1) bad("banner torn"); state = 2; next }
    if (state == 2) { if ($0 != rule) bad("banner torn"); state = 0; banners++; next }
    if ($0 == rule) { state = 1; next }
    writer = $2
    if (!(writer in next_number)) { bad("not a line any writer sent"); next }
    if ($0 != "ERROR: " writer " - " description next_number[writer]) { bad("torn, lost or out of order"); next }
    next_number[writer]++
  }
  END {
    if (state != 0) bad("banner cut off")
    if (banners != n) { printf "%d banners for %d writers\n", banners, n > "/dev/stderr"; failures++ }
    for (w in next_number)
      if (next_number[w] != count) { printf "%s: %d of %d lines\n", w, next_number[w], count > "/dev/stderr"; failures++ }
    exit failures > 0
  }' "$log" || rig_fail "the shared error log is not what the writers sent (see above)"
echo "load: $(wc -l <"$log") lines from ${#writers[@]} writers, none lost or torn"
