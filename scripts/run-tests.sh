#!/usr/bin/env bash
# Builds every configuration and runs every suite: native, native under ASan/UBSan,
# and the Windows builds (x86_64 and i686) under Wine. Ends with one summary.
set -uo pipefail
cd "$(dirname "$0")/.."
jobs=${JOBS:-2}
results=()
failed=0

run_preset() {
  local preset=$1
  echo "=== ${preset}: configure and build"
  if ! { cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" -j"$jobs" >"build/${preset}.build.log" 2>&1; }; then
    tail -n 60 "build/${preset}.build.log" 2>/dev/null
    results+=("${preset}: BUILD FAILED")
    failed=1
    return
  fi
  echo "=== ${preset}: tests"
  local log="build/${preset}.ctest.log"
  ctest --preset "$preset" -j"$jobs" >"$log" 2>&1
  local summary
  summary=$(grep -E 'tests passed' "$log" | tail -n 1)
  echo "    ${summary:-no summary}"
  if ! grep -qE '100% tests passed' "$log"; then
    failed=1
    # The failing tests with their output (the presets print output on failure).
    sed -n '/The following tests FAILED/,$p' "$log"
    grep -E -A40 '\*\*\*(Failed|Timeout|Exception)' "$log" | head -n 400
  fi
  results+=("${preset}: ${summary:-no tests ran}")
}

# The channel, ring and capture suites again with every core busy twice over, as on a shared
# machine: they wait on what the product bounds, never on a machine that is idle.
run_loaded() {
  local hogs=$(( $(nproc) * 2 )) pids=() log="build/native.loaded.ctest.log"
  echo "=== native, loaded: channel, ring and capture suites beside ${hogs} busy processes"
  for _ in $(seq "$hogs"); do
    sh -c 'while :; do :; done' &
    pids+=($!)
  done
  ctest --preset native -j2 -R "$LOADED_SUITES" >"$log" 2>&1
  local status=$?
  kill "${pids[@]}" 2>/dev/null
  wait "${pids[@]}" 2>/dev/null
  local summary
  summary=$(grep -E 'tests passed' "$log" | tail -n 1)
  echo "    ${summary:-no summary}"
  if [ $status -ne 0 ]; then
    failed=1
    sed -n '/The following tests FAILED/,$p' "$log"
  fi
  results+=("native, loaded (${hogs} busy processes): ${summary:-no tests ran}")
}
LOADED_SUITES='^(TraceRing|PosixRing|PosixRingPlace|DebugChannel|DebugChannelSafety|SettingsSwitch|Capture|RingCapture|SharedMachine|InputBounds)\.'

mkdir -p build
for preset in ${PRESETS:-native asan mingw64 mingw32}; do
  run_preset "$preset"
  if [ "$preset" = native ] && [[ ! " ${results[*]} " =~ "native: BUILD FAILED" ]]; then run_loaded; fi
done

# Wine servers and Xvfb of the Windows trees end now rather than linger after the run.
for tree in build/mingw64 build/mingw32; do
  [ -d "$tree/wineprefix" ] && cmake/wine-run.sh --tree "$tree" --shutdown >/dev/null 2>&1 || true
done

echo
echo "=== Summary"
printf '  %s\n' "${results[@]}"
exit $failed
