#!/usr/bin/env bash
# Drives the COM server under Wine for the script-level tests.
#
#   com_tests.sh register   WORK TOOLS RUN_NATIVE DLL -- EMULATOR...
#   com_tests.sh unregister WORK TOOLS RUN_NATIVE DLL -- EMULATOR...
#   com_tests.sh script     WORK TOOLS RUN_NATIVE DLL SCRIPT -- EMULATOR...
#   com_tests.sh client     WORK TOOLS RUN_NATIVE DLL PROGRAM ARGS... -- EMULATOR...
#
# register/unregister run regsvr32 and read the registry back with reg.exe; script runs
# SCRIPT with cscript while the debug output is captured and boxes are answered. A
# script prints "FAIL: ..." for each failed check and "COMPLETE" as its last line
# (cscript exits 0 even when a script dies). Beside the script, NAME.debug holds
# extended regular expressions that must each match a whole captured debug line, and
# NAME.boxes the box answers (one per line, as boxbot's --answer takes them), then "--" and
# fixed strings each shown box list must contain. client runs a test program while
# boxes are answered with their default button, so a box can never hang a run.
set -uo pipefail

action=$1 work=$2 tools=$3 run_native=$4 dll=$5
shift 5
script=
program=()
if [ "$action" = script ]; then script=$1; shift; fi
if [ "$action" = client ]; then
  while [ $# -gt 0 ] && [ "$1" != -- ]; do program+=("$1"); shift; done
fi
[ "${1:-}" = -- ] && shift

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=../win/tools/rig.sh
source "$here/../win/tools/rig.sh"
rig_init "$work" "$tools" -- "$@"

native() { rig_run "$(rig_winpath "$run_native")" "$@"; }
dll_win=$(rig_winpath "$dll")
case $(od -An -tx2 -j$(( $(od -An -tu4 -j60 -N4 "$dll") + 4 )) -N2 "$dll" | tr -d ' ') in
  8664) platform=win64 ;;
  *) platform=win32 ;;
esac

keys=(
  'HKCR\VX380ErrorLogging.ErrorLog\Clsid'
  'HKCR\VX380ErrorLogging.CErrorStatus\Clsid'
  'HKCR\CLSID\{8B72F824-63BF-4F49-B01A-FB3AFD7772B5}\InprocServer32'
  'HKCR\CLSID\{5B0D7BD0-F0E7-44C6-B88B-E72FF14BFA4C}\InprocServer32'
  "HKCR\\TypeLib\\{114F5C3E-E8A1-409E-8758-5926EC0D0E56}\\1.0\\409\\$platform"
  'HKCR\Interface\{DAF912A5-F49C-4516-A980-4DCA8CC37C81}'
  'HKCR\Interface\{612D438F-64AA-4931-A339-5754F3796B89}'
)
# Keys that must be gone after unregistering: the whole trees, not only their leaves.
gone=(
  'HKCR\VX380ErrorLogging.ErrorLog'
  'HKCR\VX380ErrorLogging.CErrorStatus'
  'HKCR\CLSID\{8B72F824-63BF-4F49-B01A-FB3AFD7772B5}'
  'HKCR\CLSID\{5B0D7BD0-F0E7-44C6-B88B-E72FF14BFA4C}'
  'HKCR\TypeLib\{114F5C3E-E8A1-409E-8758-5926EC0D0E56}'
  'HKCR\Interface\{DAF912A5-F49C-4516-A980-4DCA8CC37C81}'
  'HKCR\Interface\{612D438F-64AA-4931-A339-5754F3796B89}'
)

reg_query() { native reg.exe query "$@" 2>&1 | tr -d '\r'; }

case "$action" in
  register)
    native regsvr32.exe /s "$dll_win" || rig_fail "regsvr32 failed ($?)"
    for key in "${keys[@]}"; do
      out=$(reg_query "$key" /s) || rig_fail "missing after registration: $key"
      echo "$out"
    done
    server=$(reg_query 'HKCR\CLSID\{8B72F824-63BF-4F49-B01A-FB3AFD7772B5}\InprocServer32')
    grep -qiF "$dll_win" <<<"$server" || rig_fail "InprocServer32 does not name $dll_win"
    grep -qE 'ThreadingModel +REG_SZ +Apartment' <<<"$server" || rig_fail "ThreadingModel is not Apartment"
    progid=$(reg_query 'HKCR\CLSID\{5B0D7BD0-F0E7-44C6-B88B-E72FF14BFA4C}\ProgID')
    grep -qF 'VX380ErrorLogging.CErrorStatus' <<<"$progid" || rig_fail "CErrorStatus ProgID missing"
    echo "registered $dll_win ($platform)"
    ;;
  unregister)
    native regsvr32.exe /u /s "$dll_win" || rig_fail "regsvr32 /u failed ($?)"
    for key in "${gone[@]}"; do
      if out=$(reg_query "$key"); then rig_fail "left behind after unregistration: $key"$'\n'"$out"; fi
    done
    # Unregistering what is not registered succeeds too.
    native regsvr32.exe /u /s "$dll_win" || rig_fail "second regsvr32 /u failed ($?)"
    # And registration comes back whole, for whoever runs next in this prefix.
    native regsvr32.exe /s "$dll_win" || rig_fail "re-registration failed"
    native regsvr32.exe /u /s "$dll_win" || rig_fail "final unregistration failed"
    echo "unregistered $dll_win ($platform), nothing left"
    ;;
  client)
    rig_start_boxbot "$RIG_WORK/boxes.json"
    rig_run "${program[@]}"
    rc=$?
    rig_stop
    if [ -s "$RIG_WORK/boxes.json" ]; then echo "--- boxes answered:"; cat "$RIG_WORK/boxes.json"; fi
    [ $rc -eq 0 ] || rig_fail "${program[0]##*/} exited $rc"
    ;;
  script)
    base=${script%.*}
    answers=() expected_boxes=()
    if [ -f "$base.boxes" ]; then
      section=answers
      while IFS= read -r line || [ -n "$line" ]; do
        line=${line%$'\r'}
        [ -z "$line" ] && continue
        if [ "$line" = -- ]; then section=expect; continue; fi
        if [ $section = answers ]; then answers+=(--answer "$line"); else expected_boxes+=("$line"); fi
      done <"$base.boxes"
    fi
    rig_start_dbwin "$RIG_WORK/debug.txt"
    rig_start_boxbot "$RIG_WORK/boxes.json" "${answers[@]}"
    native cscript.exe //nologo "$(rig_winpath "$script")" "$(rig_winpath "$RIG_WORK")" \
      >"$RIG_WORK/out.txt" 2>"$RIG_WORK/err.txt"
    rc=$?
    rig_stop
    [ $rc -eq 0 ] || { cat "$RIG_WORK/out.txt" "$RIG_WORK/err.txt" | tr -d '\r'; rig_fail "cscript exited $rc"; }
    rig_script_done "$(basename "$script")" "$RIG_WORK/out.txt" "$RIG_WORK/err.txt"
    if [ -f "$base.debug" ]; then
      while IFS= read -r pattern || [ -n "$pattern" ]; do
        pattern=${pattern%$'\r'}
        [ -z "$pattern" ] && continue
        grep -qxE -- "$pattern" "$RIG_WORK/debug.txt" || {
          echo "--- captured debug output:"; cat "$RIG_WORK/debug.txt"
          rig_fail "no debug line matches: $pattern"
        }
      done <"$base.debug"
    fi
    for text in "${expected_boxes[@]}"; do
      grep -qF -- "$text" "$RIG_WORK/boxes.json" || {
        echo "--- boxes shown:"; cat "$RIG_WORK/boxes.json"
        rig_fail "no box showed: $text"
      }
    done
    echo "script $(basename "$script") complete"
    ;;
  *)
    rig_fail "unknown action $action"
    ;;
esac
