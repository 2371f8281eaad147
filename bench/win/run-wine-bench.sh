#!/usr/bin/env bash
# Builds the Windows benchmarks of a configured MinGW build tree, registers the COM server in
# the tree's Wine prefix, runs the benchmarks, prints each candidate's time as a ratio of its
# baseline from the same run, and unregisters the server again.
#
#   bench/win/run-wine-bench.sh [BUILD_DIR]          BUILD_DIR defaults to build/mingw64
#
# Registration and the debug-output listener belong to the whole prefix: do not run this
# while ctest runs the COM or rig tests of the same tree.
#
# Environment:
#   VX380_BENCH_CALLS, VX380_BENCH_ROUNDS   vx380_win_bench without a listener (default 50, 401)
#   VX380_BENCH_LISTENER                    0: skip the run with a DBWIN listener (default 1)
#   VX380_BENCH_SCRIPT_RUNS                 cscript processes (default 3)
#   VX380_BENCH_SCRIPT_ROUNDS               rounds per process (default 5)
#   VX380_BENCH_BATCH_MS                    length of one script batch (default 150)
# The bench_* variables come from the tree's bench-paths.sh.
# shellcheck disable=SC2154
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
tree=${1:-$root/build/mingw64}
target=1.2

die() { echo "run-wine-bench.sh: $*" >&2; exit 1; }

[ -f "$tree/CMakeCache.txt" ] || die "$tree is not a configured build tree (cmake --preset mingw64 first)"
cmake --build "$tree" -j2 --target vx380_win_bench >&2 || die "build failed"
paths=$tree/bench/win/bench-paths.sh
[ -f "$paths" ] || die "$tree has no Windows benchmarks (a MinGW tree with VX380_BUILD_BENCH=ON?)"
# Sets bench_exe, bench_dll, bench_run_native, bench_dbwin_listen and bench_emulator.
# shellcheck source=/dev/null
source "$paths"
# shellcheck source=/dev/null
source "$root/tests/win/tools/rig.sh"
rig_init "$tree/bench/win/work" "$(dirname "$bench_dbwin_listen")" -- "${bench_emulator[@]}"
work=$RIG_WORK

native() { rig_run "$(rig_winpath "$bench_run_native")" "$@"; }
dll=$(rig_winpath "$bench_dll")
registered=0
cleanup() {
  rig_stop
  if [ $registered = 1 ]; then
    native regsvr32.exe /u /s "$dll" || echo "run-wine-bench.sh: unregistering $dll failed" >&2
  fi
}
trap cleanup EXIT

native regsvr32.exe /s "$dll" || die "regsvr32 $dll failed"
registered=1

# ---- the C++ client: raw OutputDebugStringA, DebugTrace early bound, through Invoke and by name
"${bench_emulator[@]}" "$bench_exe" --calls "${VX380_BENCH_CALLS:-50}" --rounds "${VX380_BENCH_ROUNDS:-401}" \
  --target $target | tr -d '\r' >"$work/native.txt" || die "vx380_win_bench failed"
cat "$work/native.txt"

if [ "${VX380_BENCH_LISTENER:-1}" != 0 ]; then
  # A listener makes every OutputDebugStringA a round trip to it: fewer calls suffice.
  rig_start_dbwin "$work/debug.txt"
  "${bench_emulator[@]}" "$bench_exe" --calls 10 --rounds 201 --target $target | tr -d '\r' \
    >"$work/listener.txt" || die "vx380_win_bench with a listener failed"
  rig_stop
  echo
  cat "$work/listener.txt"
  # Every call of every candidate must have reached the listener, or the bench timed
  # something other than what it names.
  sent=$(sed -n 's/.* \([0-9][0-9]*\) debug lines sent$/\1/p' "$work/listener.txt")
  got=$(grep -cxF 'RBDEBUG: benchmark line' "$work/debug.txt" || true)
  if [ -z "$sent" ] || [ "$sent" != "$got" ]; then
    die "the listener caught $got benchmark lines, the bench sent ${sent:-?}"
  fi
  echo "(the listener caught all $got lines)"
fi

# ---- the script client: cscript of this build's bitness, several processes
: >"$work/script.txt"
runs=${VX380_BENCH_SCRIPT_RUNS:-3}
for run in $(seq 1 "$runs"); do
  native cscript.exe //nologo "$(rig_winpath "$here/script_calls.vbs")" "${VX380_BENCH_SCRIPT_ROUNDS:-5}" \
    "${VX380_BENCH_BATCH_MS:-150}" | tr -d '\r' >"$work/script-$run.txt" || die "cscript failed"
  [ "$(tail -n 1 "$work/script-$run.txt")" = "done" ] || { cat "$work/script-$run.txt"; die "script run $run did not finish"; }
  sed -n "s/^sample /$run./p" "$work/script-$run.txt" >>"$work/script.txt"
done

# Lines "RUN.ROUND NAME NS"; a ratio is the median over all rounds of the two loops' times
# in the same round.
awk -v target=$target -v runs="$runs" '
  function median(a, n,    i, j, t) {
    for (i = 2; i <= n; i++) { t = a[i]; for (j = i - 1; j >= 1 && a[j] > t; j--) a[j + 1] = a[j]; a[j + 1] = t }
    return a[int(n / 2) + 1]
  }
  function ratio(cand, base,    r, n, v) {
    n = 0
    for (r in seen) if ((r, cand) in ns && (r, base) in ns) v[++n] = ns[r, cand] / ns[r, base]
    return n ? median(v, n) : -1
  }
  function row(cand, base, goal,    value) {
    value = ratio(cand, base)
    if (value < 0) return
    printf "%-44s %-40s %8.3f %8s\n", cand, base, value, goal == "" ? "-" : sprintf("%.2f", goal)
  }
  { ns[$1, $2] = $3; seen[$1] = 1; count[$2]++; times[$2, count[$2]] = $3 }
  END {
    n = 0
    for (r in seen) n++
    printf "\nscript_calls.vbs: %d cscript runs, %d rounds in all, no DBWIN listener\n", runs, n
    printf "\n%-44s %12s\n", "candidate", "median us"
    split("VbsDebugTraceLoop VbsDictionaryExistsLoop VbsEmptySubLoop VbsBareLoop", order, " ")
    for (i = 1; i <= 4; i++) {
      name = order[i]
      for (j = 1; j <= count[name]; j++) v[j] = times[name, j]
      printf "%-44s %12.3f\n", name, median(v, count[name]) / 1000
    }
    printf "\n%-44s %-40s %8s %8s\n", "candidate", "baseline", "ratio", "target"
    row("VbsDebugTraceLoop", "VbsDictionaryExistsLoop", target)
    row("VbsDebugTraceLoop", "VbsEmptySubLoop", "")
    row("VbsDictionaryExistsLoop", "VbsEmptySubLoop", "")
  }' "$work/script.txt"

cat <<EOF

Targets: as printed beside each ratio ($target unless the row says otherwise); "-" marks rows shown
  for context only.
vx380_win_bench: DebugTrace early bound (vtable) and through IDispatch::Invoke (identifier looked
  up once) against a raw OutputDebugStringA of the same bytes, and Invoke against the early-bound
  call (what the dispatch translation adds, target 1.05). ByNameDebugTrace calls the way a
  script engine does (name lookup and Invoke with a by-reference variable on every call), against
  Scripting.Dictionary.Exists called the same way plus one raw OutputDebugStringA: the fair
  in-process counterpart of the script comparison below.
script_calls.vbs: per call, each loop pays the script engine's late-bound call by name plus the
  member's own work plus the loop. DebugTrace makes one OutputDebugStringA per call (a Wine server
  round trip, RawOutputDebugStringA above); Dictionary.Exists makes no system call at all. So
  VbsDebugTraceLoop/VbsDictionaryExistsLoop charges the whole OutputDebugStringA to DebugTrace
  alone and says little about the server's own overhead; ByNameDebugTrace above does.
  VbsEmptySubLoop calls an empty VBScript Sub: the engine's own cost of one call.
EOF
