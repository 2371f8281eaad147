# Helpers of the behaviour scripts, on top of ../tools/rig.sh. Each script starts with
#   . "$(dirname "$0")/behaviour.sh"
#   bh_init "$@"        # WORKDIR TOOLSDIR PROGRAM -- EMULATOR...
# and then runs scenarios of PROGRAM (vx380_behaviour.exe) with bh_run.
. "$(dirname "${BASH_SOURCE[0]}")/../tools/rig.sh"

# A banner as the logs hold it once bh_log_text has put DATE - TIME in place of the clock.
BH_RULE='=============================='
BH_BANNER="$BH_RULE"$'\r\n'"DATE - TIME"$'\r\n'"$BH_RULE"$'\r\n'
# The user's short date and time in the test prefix's locale (en-US unless the tree says otherwise).
BH_DATE_TIME='[0-9]{1,2}/[0-9]{1,2}/[0-9]{4} - [0-9]{1,2}:[0-9]{2}:[0-9]{2} [AP]M'
[ -z "${VX380_WINE_LOCALE:-}" ] || BH_DATE_TIME='[^ ].* - [^ ].*'

bh_init() {
  local work=$1 tools=$2
  BH_PROGRAM=$3
  shift 3
  rig_init "$work" "$tools" "$@"
}

# bh_run NAME ARGS...: runs the scenario, its stdout (without CRs) into $RIG_WORK/NAME.out,
# and sets BH_PID to the scenario's Windows process id.
bh_run() {
  local name=$1 status=0
  shift
  rig_run "$BH_PROGRAM" "$@" >"$RIG_WORK/$name.raw" || status=$?
  tr -d '\r' <"$RIG_WORK/$name.raw" >"$RIG_WORK/$name.out"
  [ $status -eq 0 ] || rig_fail "scenario $* exited with $status:"$'\n'"$(cat "$RIG_WORK/$name.out")"
  BH_PID=$(sed -n 's/^pid \([0-9]*\)$/\1/p' "$RIG_WORK/$name.out")
  [ -n "$BH_PID" ] || rig_fail "scenario $* did not say its pid"
  sed -i '/^pid [0-9]*$/d' "$RIG_WORK/$name.out"
}

# Like rig_start_dbwin, but every message is preceded by its sender's pid and a TAB, so
# that one message per line can be told from a line sent in pieces.
bh_start_dbwin() {
  local out=$1 tag=dbwin$RANDOM
  : >"$out"
  rig_run "$RIG_TOOLS/dbwin_listen.exe" "$(rig_winpath "$out")" --pid --ready "$(rig_winpath "$RIG_WORK/$tag.ready")" \
    --stop "$(rig_winpath "$RIG_WORK/rig.stop")" --timeout 600 &
  RIG_PIDS+=($!)
  rig_wait_for "$RIG_WORK/$tag.ready" $! dbwin_listen
}

# bh_debug_lines CAPTURE PID OUT: checks that every message in CAPTURE came from PID and
# was one whole line ending in LF, with no CR, and writes the lines without the pids to OUT.
bh_debug_lines() {
  local capture=$1 pid=$2 out=$3
  if [ -s "$capture" ] && [ -n "$(tail -c 1 "$capture")" ]; then
    rig_fail "the last debug message does not end in LF:"$'\n'"$(tail -n 3 "$capture" | cat -A)"
  fi
  grep -q $'\r' "$capture" && rig_fail "a debug message holds a CR:"$'\n'"$(grep $'\r' "$capture" | cat -A)"
  awk -F '\t' -v pid="$pid" '
    NF != 2 { print "a message in pieces or several lines in one message: " $0 > "/dev/stderr"; bad = 1; next }
    $1 != pid { print "a message from another process: " $0 > "/dev/stderr"; bad = 1; next }
    { print $2 }
    END { exit bad }' "$capture" >"$out" || rig_fail "debug output is not one message per line (see above)"
}

# The ERE for an expected line: its text literally, except that @MS@ stands for a count of
# milliseconds right-aligned in eight columns, @TIME@ for a time of day, @NUM@ for an integer,
# @DESKTOP@ for the user's desktop folder in the prefix.
bh_pattern() {
  local re desktop='C:\\users\\[^\\]+\\Desktop'
  local ms='(       [0-9]|      [0-9]{2}|     [0-9]{3}|    [0-9]{4}|   [0-9]{5}|  [0-9]{6}| [0-9]{7}|[0-9]{8})'
  local time='[0-9]{1,2}:[0-9]{2}:[0-9]{2} [AP]M' num='-?[0-9]+'
  re=$(printf '%s' "$1" | sed -e 's/[][\\.*^$(){}?+|]/\\&/g')
  re=${re//@MS@/"$ms"}
  re=${re//@TIME@/"$time"}
  re=${re//@NUM@/"$num"}
  re=${re//@DESKTOP@/"$desktop"}
  printf '^%s$' "$re"
}

# bh_compare_lines WHAT ACTUAL_FILE EXPECTED_FILE: line by line, exactly or by pattern.
bh_compare_lines() {
  local what=$1 i re
  local -a actual expected
  mapfile -t actual <"$2"
  mapfile -t expected <"$3"
  for ((i = 0; i < ${#expected[@]} || i < ${#actual[@]}; i++)); do
    if [[ ${expected[i]-} == *@*@* ]]; then
      re=$(bh_pattern "${expected[i]}")
      [ $i -lt ${#actual[@]} ] && [[ ${actual[i]} =~ $re ]] && continue
    else
      [ $i -lt ${#actual[@]} ] && [ $i -lt ${#expected[@]} ] && [ "${actual[i]}" = "${expected[i]}" ] && continue
    fi
    rig_fail "$what differs at line $((i + 1)):"$'\n'"  expected: ${expected[i]-<nothing>}"$'\n'"  actual:   ${actual[i]-<nothing>}"$'\n'"$(diff "$3" "$2")"
  done
}

# bh_log_text FILE: the file's bytes with the banner's date and time replaced by DATE - TIME,
# or <missing>.
bh_log_text() {
  [ -e "$1" ] || { printf '<missing>'; return; }
  sed -E "s#^$BH_DATE_TIME(\r?)\$#DATE - TIME\1#" "$1"
}

# bh_expect_log FILE EXPECTED: the log holds exactly EXPECTED (after bh_log_text).
bh_expect_log() {
  local actual
  actual=$(bh_log_text "$1"; echo .)
  [ "$actual" = "$2." ] ||
    rig_fail "$(basename "$1") differs:"$'\n'"--- expected"$'\n'"$(printf '%s' "$2" | cat -A)"$'\n'"--- actual"$'\n'"$(printf '%s' "${actual%.}" | cat -A)"
}

# bh_expect_boxes FILE COUNT: exactly COUNT boxes were answered.
bh_expect_boxes() {
  local n
  n=$(wc -l <"$1")
  [ "$n" -eq "$2" ] || rig_fail "expected $2 boxes, boxbot saw $n:"$'\n'"$(cat "$1")"
}

# bh_expect_box FILE INDEX FRAGMENT...: box INDEX (1 = first) was shown by the scenario
# (BH_PID) and its record holds every FRAGMENT of JSON.
bh_expect_box() {
  local file=$1 index=$2 record fragment
  shift 2
  record=$(grep -F "{\"index\":$index,\"pid\":" "$file" || true)
  [ -n "$record" ] || rig_fail "no box $index:"$'\n'"$(cat "$file")"
  [[ $record == *"\"pid\":$BH_PID,"* ]] || rig_fail "box $index is not the scenario's: $record"
  for fragment; do
    [[ $record == *"$fragment"* ]] || rig_fail "box $index lacks $fragment:"$'\n'"$record"
  done
}

# bh_app_key ROOT APP SETTING: the registry key of one of an application's settings.
bh_app_key() { printf '%s\\Software\\Meridox\\Applications\\%s.Application\\ErrorReporting\\%s' "$1" "$2" "$3"; }

# Fragments of box records.
BH_OK_ONLY='"buttons":[{"id":1,"text":"OK"}],"default":1'
BH_YES_NO='"buttons":[{"id":6,"text":"&Yes"},{"id":7,"text":"&No"}]'

# bh_reg COMMANDS...: runs reg.exe commands, one per argument (each a command line after
# "reg "), in one Windows session started by PROGRAM, so that reg.exe has its bitness and
# writes the registry view the scenarios read. Stops at the first that fails, except for
# those marked with a leading "?" (deletes of keys that may not be there).
bh_reg() {
  local batch=$RIG_WORK/reg$RANDOM.cmd line
  : >"$batch"
  # Wine's cmd takes "reg ... >nul || exit" for a failure, so errorlevel is tested on a line of its own.
  for line; do
    case "$line" in
      \?*) printf '@reg %s >nul 2>&1\r\n' "${line#?}" >>"$batch" ;;
      *) printf '@reg %s >nul\r\n@if errorlevel 1 exit /b 1\r\n' "$line" >>"$batch" ;;
    esac
  done
  printf '@exit /b 0\r\n' >>"$batch"
  rig_run "$BH_PROGRAM" system "cmd.exe /c $(rig_winpath "$batch")" </dev/null >"$batch.log" 2>&1 ||
    rig_fail "reg.exe failed:"$'\n'"$(cat "$batch")"$'\n'"$(cat "$batch.log")"
}
