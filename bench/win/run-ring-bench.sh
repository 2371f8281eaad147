#!/bin/bash
# The trace ring's Windows bench under Wine: once with nobody listening on the debug output,
# once with a DBWIN listener.
#   bench/win/run-ring-bench.sh [BUILD_DIR]        # default build/mingw64
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
tree=$(cd "${1:-$root/build/mingw64}" && pwd)
die() { echo "run-ring-bench.sh: $*" >&2; exit 1; }
cmake --build "$tree" --target vx380_ring_win_bench dbwin_listen -j2 >/dev/null || die "build failed"
paths=$tree/bench/win/bench-paths.sh
[ -f "$paths" ] || die "$tree has no Windows benchmarks"
# shellcheck source=/dev/null
source "$paths"
# shellcheck source=/dev/null
source "$root/tests/win/tools/rig.sh"
rig_init "$tree/bench/win/ring-work" "$(dirname "$bench_dbwin_listen")" -- "${bench_emulator[@]}"
trap rig_stop EXIT
bench="$tree/bench/win/vx380_ring_win_bench.exe"
"${bench_emulator[@]}" "$bench" --calls 50 --rounds "${VX380_BENCH_ROUNDS:-201}" | tr -d '\r'
echo
rig_start_dbwin "$RIG_WORK/debug.txt"
"${bench_emulator[@]}" "$bench" --calls 10 --rounds "${VX380_BENCH_ROUNDS:-201}" | tr -d '\r'
rig_stop
