#!/usr/bin/env bash
# The main job: builds the native tree, runs the sample host with its shipped registry
# settings and its resource DLL of user texts, and shows what the component produced: the
# call tree captured from the debug channel, the error log with its banner, and the message log.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
bin=$root/build/native
out=$root/build/demo
mkdir -p "$root/build"

echo "== Configuring the native build (build/native)"
if ! cmake --preset native >"$root/build/demo-configure.log" 2>&1; then
  cat "$root/build/demo-configure.log"
  exit 1
fi
echo "== Building the library, the sample host, its resource DLL and vxtrace (a few minutes the first time)"
# CMake's own progress lines; everything goes to the log too, shown if the build fails.
log=$root/build/demo-build.log
{ cmake --build --preset native -j"${JOBS:-2}" --target sample_host sample_messages vxtrace 2>&1
  echo $? >"$log.status"; } | tee "$log" | grep --line-buffered -E '^\[ *[0-9]+%\] (Building|Linking|Generating)' || true
if [ "$(cat "$log.status")" != 0 ]; then
  tail -n 40 "$log"
  echo "The build failed; its whole output is in build/demo-build.log." >&2
  exit 1
fi

rm -rf "$out"
mkdir -p "$out"
export VX380_HKCU=$root/examples/sample_host/user.reg
export VX380_HKLM=$root/examples/sample_host/machine.reg
export VX380_DEBUG_SOCKET=$out/debug.sock
export TEMP=$out

# The capture records every line (JSON Lines) and writes the HTML page when it ends.
"$bin/tools/vxtrace/vxtrace" --socket "$VX380_DEBUG_SOCKET" --out "$out/trace.jsonl" --html "$out/trace.html" \
  --timeout 60 >"$out/tree.txt" 2>&1 &
tracer=$!
for _ in $(seq 100); do [ -S "$VX380_DEBUG_SOCKET" ] && break; sleep 0.1; done

resources=$bin/examples/sample_host/SampleMessages.dll
echo
echo "== The sample host (each report says what its reporting level should do, then what it did;"
echo "   the user texts come from build/native/examples/sample_host/SampleMessages.dll, a Windows"
echo "   resource DLL made from examples/sample_host/messages.rc)"
(cd "$out" && "$bin/examples/sample_host/sample_host" "$resources")

sleep 0.3
kill -INT "$tracer" 2>/dev/null || true
wait "$tracer" 2>/dev/null || true

echo
echo "== The debug channel as a call tree (vxtrace; every line is recorded in build/demo/trace.jsonl)"
cat "$out/tree.txt"
echo
echo "== The error log: build/demo/SampleHost.log"
tr -d '\r' <"$out/SampleHost.log"
echo
echo "== The message log: build/demo/Corvane.Log"
tr -d '\r' <"$out/Corvane.Log"

echo
echo "== What to try next"
[ -f "$out/trace.html" ] &&
  echo "  - Open build/demo/trace.html in a browser: the run as flame charts per thread, with its statistics."
echo "  - Replay the recording with the routine table:"
echo "      build/native/tools/vxtrace/vxtrace --read build/demo/trace.jsonl --summary"
echo "  - Install the library, its headers, CMake and pkg-config files and vxtrace:"
echo "      make install            (PREFIX=/usr/local by default; or make package for .deb files)"
echo "  - Use the component from VB, VBA, VBScript, JScript or C++ on Windows: docs/HOSTS.md"
