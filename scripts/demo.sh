#!/usr/bin/env bash
# The main job: builds the native tree, runs the sample host with its shipped registry
# settings, and shows what the component produced: the call tree captured from the debug
# channel, the error log with its banner, and the message log.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
cmake --preset native >/dev/null
cmake --build --preset native -j2 --target sample_host vxtrace >/dev/null

out=$root/build/demo
rm -rf "$out"
mkdir -p "$out"
export VX380_HKCU=$root/examples/sample_host/user.reg
export VX380_HKLM=$root/examples/sample_host/machine.reg
export VX380_DEBUG_SOCKET=$out/debug.sock
export TEMP=$out

bin=$root/build/native
"$bin/tools/vxtrace/vxtrace" --socket "$VX380_DEBUG_SOCKET" --out "$out/trace.txt" --timeout 60 \
  >"$out/tree.txt" 2>&1 &
tracer=$!
for _ in $(seq 50); do [ -S "$VX380_DEBUG_SOCKET" ] && break; sleep 0.1; done

resources=""
[ -f "$bin/examples/sample_host/SampleMessages.dll" ] && resources=$bin/examples/sample_host/SampleMessages.dll
echo "== The sample host (each report says what its reporting level should do, then what it did)"
(cd "$out" && "$bin/examples/sample_host/sample_host" "$resources")

sleep 0.3
kill -INT "$tracer" 2>/dev/null || true
wait "$tracer" 2>/dev/null || true

echo
echo "== The debug channel as a call tree (vxtrace; raw lines in build/demo/trace.txt)"
cat "$out/tree.txt"
echo
echo "== The error log: build/demo/SampleHost.log"
tr -d '\r' <"$out/SampleHost.log"
echo
echo "== The message log: build/demo/Corvane.Log"
tr -d '\r' <"$out/Corvane.Log"
