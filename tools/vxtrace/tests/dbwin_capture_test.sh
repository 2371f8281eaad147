#!/bin/bash
# The Windows capture (DBWIN) against a real OutputDebugStringA writer, run through the
# cross-build's emulator (Wine).
#   dbwin_capture_test.sh VXTRACE_EXE SENDER_EXE EMULATOR [EMULATOR_ARGS...]
set -u
vxtrace=$1 sender=$2
shift 2
emu=("$@")
work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT
passed=0 failed=0
fail() { echo "FAIL: $*"; failed=$((failed + 1)); }
# check DESCRIPTION COMMAND...: one counted check
check() {
  local what=$1; shift
  if "$@"; then passed=$((passed + 1)); else fail "$what"; fi
}

# Now and then Wine cannot start a program at all (seen with a fresh prefix, several programs
# starting at once): such a run says so and does nothing else, so it is run again.
not_started() { grep -qs "could not be started" "$@"; }

# Runs a Windows program with its output in $1 and $1.err, again if Wine could not start it.
run() {
  local out=$1 rc=0; shift
  for _ in 1 2 3; do
    "${emu[@]}" "$@" >"$out" 2>"$out.err"
    rc=$?
    not_started "$out" "$out.err" || break
    sleep 1
  done
  return $rc
}

# Starts vxtrace in the background; its output lands in $work/$1.{out,err,rc}.
start() {
  local tag=$1; shift
  rm -f "$work/$tag.rc"
  ln -sf "$work/$tag.out.err" "$work/$tag.err"
  ( run "$work/$tag.out" "$vxtrace" "$@"; echo $? >"$work/$tag.rc" ) &
  pids+=($!)
}
wait_for() {  # file text
  for _ in $(seq 300); do grep -qF -- "$2" "$1" 2>/dev/null && return 0; sleep 0.1; done
  return 1
}
rc_of() {  # the exit status of a background vxtrace, once it has one
  for _ in $(seq 600); do [ -s "$work/$1.rc" ] && { cat "$work/$1.rc"; return; }; sleep 0.1; done
  echo "still running"
}

example=(
  "RBDEBUG , BEG>>> , ........ , Startup , start , EOL "
  "RBDEBUG , L(5)   ,       40 ,   Startup "
  "RBDEBUG , BEG>>> , ........ , ..Load ,  , EOL "
  "RBDEBUG , L(120) ,        9 ,     Load x"
  "RBDEBUG , END<<< ,       16 , ..Load ,  , EOL "
  "RBDEBUG , END<<< ,      250 , Startup , done , EOL "
)

same() { [ "$1" = "$2" ] || { echo "--- got:"; echo "$1"; echo "--- expected:"; echo "$2"; return 1; }; }

# The tree of what a writer sends, and the raw record of it.
start tree --count 6 --timeout 60 --color=never --out "$work/record.txt"
check "vxtrace starts listening" wait_for "$work/tree.err" "listening"
# Meanwhile a second listener is refused.
run "$work/second.out" "$vxtrace" --timeout 5
check "a second listener is refused with status 3" same "$?" 3
check "the refusal says why" grep -q "another debug-output listener" "$work/second.out.err"

run "$work/tree.sender" "$sender" "${example[@]}"
check "the capture ends after --count messages" same "$(rc_of tree)" 0
expected=$'┌ Startup  [start]\n│ · L5  +40 ms\n│ ┌ Load\n│ │ · L120  +9 ms  [x]\n│ └ Load  16 ms\n└ Startup  250 ms  [done]'
# Standard output is in text mode there: CR LF line ends.
check "the call tree" same "$(tr -d '\r' <"$work/tree.out")" "$expected"
check "the recording replays as the same tree" same \
  "$("${emu[@]}" "$vxtrace" --read "$work/record.txt" --color=never 2>&1 | tr -d '\r')" "$expected"

# Raw lines carry the writer's process id; the channel is free again for this listener.
start raw --raw --pids --count 2 --timeout 60
check "the channel can be taken again" wait_for "$work/raw.err" "listening"
run "$work/raw.sender" "$sender" "RBDEBUG: one" "ERROR: App - described as: x, Error Number is: 0"
check "the raw capture ends after --count messages" same "$(rc_of raw)" 0
tr -d '\r' <"$work/raw.out" >"$work/raw.txt"
check "raw lines are tagged with the writer's id" grep -qE '^\[[1-9][0-9]*\] RBDEBUG: one$' "$work/raw.txt"

# Four writers at once, 5,000 lines each: every line kept, each writer's in order, and
# each writer named by process id and process name (one tree per process).
start busy --raw --pids --count 20000 --timeout 300 --out "$work/busy.jsonl"
check "the channel can be taken for the busy run" wait_for "$work/busy.err" "listening"
senders=()
for w in 1 2 3 4; do run "$work/busy$w.sender" "$sender" --numbered "w$w" 5000 & senders+=($!); done
for p in "${senders[@]}"; do wait "$p"; done
check "the busy capture ends after 20,000 messages" same "$(rc_of busy)" 0
tr -d '\r' <"$work/busy.out" >"$work/busy.txt"
check "every line of every writer is there" same "$(grep -c 'RBDEBUG: w[1-4] ' "$work/busy.txt")" 20000
in_order() {
  local w
  for w in 1 2 3 4; do
    grep -o "RBDEBUG: w$w [0-9]*" "$work/busy.txt" | awk -v w="$w" '$3 != NR - 1 { bad = 1 } END { exit bad || NR != 5000 }' ||
      { echo "writer w$w out of order or short"; return 1; }
  done
}
check "each writer's lines in order" in_order
check "four processes, each tagged" same "$(grep -oE '^\[[0-9]+\]' "$work/busy.txt" | sort -u | wc -l)" 4
check "the recording names the process" grep -q '"process":"dbwin_sender.exe"' "$work/busy.jsonl"

# vxtrace --fast: the library's lines come through the trace ring, each with its thread;
# a process with a debugger attached keeps writing to the debug output, and without
# --fast everything goes to the debug output as before.
if [ -n "${RING_SENDER:-}" ]; then
  ring_lines() {  # tag threads lines: every thread's lines present, in order, with its ids
    local t pid tid
    for t in $(seq 0 $(($2 - 1))); do
      read -r _ _ pid tid < <(tr -d '\r' <"$work/$1.sender" | grep "^thread $t ")
      [ "$1" = fast ] || tid=0
      grep -o "\"pid\":$pid,\"tid\":$tid,[^}]*RBDEBUG: $t [0-9]*" "$work/$1.jsonl" | grep -o "RBDEBUG: $t [0-9]*" |
        awk -v n="$3" '$3 != NR - 1 { bad = 1 } END { exit bad || NR != n }' ||
        { echo "$1: thread $t out of order, short or without its ids"; return 1; }
    done
  }
  start fast --fast --raw --pids --count 4000 --timeout 120 --out "$work/fast.jsonl"
  check "--fast offers the trace ring" wait_for "$work/fast.err" "offering the trace ring"
  run "$work/fast.sender" "$RING_SENDER" - 2 numbered 2000
  check "the --fast capture ends after 4,000 messages" same "$(rc_of fast)" 0
  check "through the ring: every line, in order, with its process and thread" ring_lines fast 2 2000

  start debugger --fast --raw --count 50 --timeout 60 --out "$work/debugger.jsonl"
  check "--fast listens again" wait_for "$work/debugger.err" "offering the trace ring"
  run "$work/debugger.sender" "$RING_SENDER" - 1 debugger 50
  check "the debugger-attached capture ends after 50 messages" same "$(rc_of debugger)" 0
  check "a process with a debugger attached writes to the debug output" ring_lines debugger 1 50

  # A writer already tracing when vxtrace --fast starts takes the debug output until the ring
  # is offered a moment later, then the ring: its lines keep their order across the move.
  moved=0 disordered=0
  for round in 1 2 3 4 5 6; do
    for _ in 1 2 3; do
      "${emu[@]}" "$RING_SENDER" - 1 endless 1 >"$work/switch$round.sender" 2>&1 &
      switch_sender=$!
      pids+=($switch_sender)
      wait_for "$work/switch$round.sender" "written" && break
      kill "$switch_sender" 2>/dev/null
      wait "$switch_sender" 2>/dev/null
    done
    start "switch$round" --fast --raw --count 3000 --timeout 120 --out "$work/switch$round.jsonl"
    check "capture $round across the move ends after 3,000 messages" same "$(rc_of "switch$round")" 0
    # The writer goes with its capture: one left waiting for a listener that ended holds the
    # debug output's objects, and the next listener would take them for another one's.
    kill "$switch_sender" 2>/dev/null
    wait "$switch_sender" 2>/dev/null
    grep -q '"tid":0,' "$work/switch$round.jsonl" && grep -q '"tid":[1-9]' "$work/switch$round.jsonl" &&
      moved=$((moved + 1))
    tr -d '\r' <"$work/switch$round.out" | grep -o 'RBDEBUG: 0 [0-9]*' |
      awk '$3 <= last && !bad { print "run '"$round"': " $3 " after " last; bad = 1 } { last = $3 }
           END { exit bad || NR < 2000 }' || disordered=$((disordered + 1))
  done
  check "a writer moving from the debug output to the ring keeps its order ($disordered of 6 runs not)" \
    same "$disordered" 0
  check "the writer did move in some run ($moved of 6)" [ "$moved" -gt 0 ]

  start plain --raw --count 100 --timeout 60 --out "$work/plain.jsonl"
  check "vxtrace without --fast listens" wait_for "$work/plain.err" "listening"
  check "without --fast no ring is offered" same "$(grep -c 'trace ring' "$work/plain.err")" 0
  run "$work/plain.sender" "$RING_SENDER" - 2 numbered 50
  check "the plain capture ends after 100 messages" same "$(rc_of plain)" 0
  check "without --fast the library writes to the debug output" ring_lines plain 2 50
fi

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
