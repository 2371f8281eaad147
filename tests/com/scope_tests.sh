#!/usr/bin/env bash
# Registration scopes under Wine, in a prefix of their own (so no other test's machine-wide
# registration can hide or disturb what is checked here):
#
#   scope_tests.sh peruser WORK TOOLS RUN_NATIVE DLL SCRIPTS_DIR REG_FILE -- EMULATOR...
#   scope_tests.sh regfree WORK TOOLS RUN_NATIVE DLL CLIENT DLL_MANIFEST HOST_MANIFEST -- EMULATOR...
#
# peruser: regsvr32 /n /i:user writes only below HKCU\Software\Classes, a script creates the
# classes, regsvr32 /u /n /i:user leaves HKCU\Software\Classes as it was (an empty container
# the user had stays; a Classes key that registration made goes again), and the machine's
# classes are byte-for-byte unchanged throughout (reg export before and after), also while a
# machine-wide registration exists; then the shipped enable-logging.reg is imported and a
# script sees the level it sets.
# regfree: a host with only manifests (no registration anywhere) creates the classes.
set -uo pipefail

action=$1 work=$2 tools=$3 run_native=$4 dll=$5
shift 5
args=()
while [ $# -gt 0 ] && [ "$1" != -- ]; do args+=("$1"); shift; done
[ "${1:-}" = -- ] && shift

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=../win/tools/rig.sh
source "$here/../win/tools/rig.sh"
rig_init "$work" "$tools" -- "$@"

native() { rig_run "$(rig_winpath "$run_native")" "$@"; }
reg_query() { native reg.exe query "$@" 2>&1 | tr -d '\r'; }
dll_win=$(rig_winpath "$dll")

progids=(VX380ErrorLogging.ErrorLog VX380ErrorLogging.CErrorStatus)
guids=('{8B72F824-63BF-4F49-B01A-FB3AFD7772B5}' '{5B0D7BD0-F0E7-44C6-B88B-E72FF14BFA4C}'
       '{114F5C3E-E8A1-409E-8758-5926EC0D0E56}' '{DAF912A5-F49C-4516-A980-4DCA8CC37C81}'
       '{612D438F-64AA-4931-A339-5754F3796B89}')
user_keys=(
  'HKCU\Software\Classes\VX380ErrorLogging.ErrorLog\Clsid'
  'HKCU\Software\Classes\VX380ErrorLogging.CErrorStatus\Clsid'
  'HKCU\Software\Classes\CLSID\{8B72F824-63BF-4F49-B01A-FB3AFD7772B5}\InprocServer32'
  'HKCU\Software\Classes\CLSID\{5B0D7BD0-F0E7-44C6-B88B-E72FF14BFA4C}\InprocServer32'
  'HKCU\Software\Classes\TypeLib\{114F5C3E-E8A1-409E-8758-5926EC0D0E56}\1.0\409'
  'HKCU\Software\Classes\Interface\{DAF912A5-F49C-4516-A980-4DCA8CC37C81}\ProxyStubClsid32'
  'HKCU\Software\Classes\Interface\{612D438F-64AA-4931-A339-5754F3796B89}\TypeLib'
)

# snapshot KEY NAME: the key exported as text into $RIG_WORK/NAME.txt
snapshot() {
  local file=$RIG_WORK/$2.reg
  native reg.exe export "$1" "$(rig_winpath "$file")" /y >/dev/null 2>&1 || rig_fail "reg export $1 failed"
  iconv -f UTF-16LE -t UTF-8 "$file" | tr -d '\r' >"$RIG_WORK/$2.txt"
}
same() {  # NAME1 NAME2 WHAT
  diff -u "$RIG_WORK/$1.txt" "$RIG_WORK/$2.txt" >"$RIG_WORK/$1-$2.diff" ||
    { head -n 40 "$RIG_WORK/$1-$2.diff"; rig_fail "$3"; }
}
none_of_ours() {  # NAME WHAT
  local name
  for name in "${progids[@]}" "${guids[@]}"; do
    grep -qiF -- "$name" "$RIG_WORK/$1.txt" && rig_fail "$2: $name is still there"
  done
}
run_script() {  # SCRIPT: its output, without CR, into $RIG_WORK/out.clean
  local rc=0
  native cscript.exe //nologo "$(rig_winpath "$1")" >"$RIG_WORK/out.txt" 2>"$RIG_WORK/err.txt" || rc=$?
  [ $rc -eq 0 ] || { cat "$RIG_WORK/out.txt" "$RIG_WORK/err.txt" | tr -d '\r'; rig_fail "cscript exited $rc"; }
  tr -d '\r' <"$RIG_WORK/out.txt" >"$RIG_WORK/out.clean"
  rig_script_done "$(basename "$1")" "$RIG_WORK/out.txt" "$RIG_WORK/err.txt"
}
# Leftovers of an interrupted earlier run would falsify every snapshot, and so would Wine's
# script host, which registers its own type library the first time it runs in a prefix.
clean_slate() {
  native regsvr32.exe /s /u /n /i:user "$dll_win"
  native regsvr32.exe /s /u "$dll_win"
  echo 'WScript.Echo "ready"' >"$RIG_WORK/warm_up.vbs"
  native cscript.exe //nologo "$(rig_winpath "$RIG_WORK/warm_up.vbs")" >/dev/null 2>&1
}

peruser_round() {  # LABEL: per-user registration, use and removal; the machine's classes untouched
  local label=$1 key out
  snapshot 'HKLM\Software\Classes' "machine-$label-before"
  snapshot 'HKCU\Software\Classes' "user-$label-before"
  native regsvr32.exe /s /n /i:user "$dll_win" || rig_fail "regsvr32 /n /i:user failed ($?)"
  for key in "${user_keys[@]}"; do
    reg_query "$key" /s >/dev/null || rig_fail "missing after per-user registration: $key"
  done
  out=$(reg_query 'HKCU\Software\Classes\CLSID\{8B72F824-63BF-4F49-B01A-FB3AFD7772B5}\InprocServer32')
  grep -qiF "$dll_win" <<<"$out" || rig_fail "per-user InprocServer32 does not name $dll_win"
  grep -qE 'ThreadingModel +REG_SZ +Apartment' <<<"$out" || rig_fail "per-user ThreadingModel is not Apartment"
  snapshot 'HKLM\Software\Classes' "machine-$label-registered"
  same "machine-$label-before" "machine-$label-registered" "per-user registration changed the machine's classes"
  echo "[$label] registered for the current user; the machine's classes unchanged"
}

key_state() {  # KEY: absent, empty or used
  local out
  out=$(reg_query "$1" /s) || { echo absent; return; }
  [ "$(grep -c '[^[:space:]]' <<<"$out")" -le 1 ] && echo empty || echo used
}

# Without HKCU\Software\Classes (as in a fresh prefix), registration makes it and removal
# takes it away again; an empty container the user had before stays.
peruser_fresh() {
  case $(key_state 'HKCU\Software\Classes') in
    used) echo "NOTE: HKCU\Software\Classes holds other keys here: the fresh-user case is skipped"; return ;;
    empty) native reg.exe delete 'HKCU\Software\Classes' /f >/dev/null 2>&1 || rig_fail "reg delete failed" ;;
  esac
  native regsvr32.exe /s /u /n /i:user "$dll_win" || rig_fail "per-user unregistration of nothing failed ($?)"
  [ "$(key_state 'HKCU\Software\Classes')" = absent ] || rig_fail "unregistering nothing made HKCU\Software\Classes"
  native regsvr32.exe /s /n /i:user "$dll_win" || rig_fail "regsvr32 /n /i:user failed ($?)"
  native regsvr32.exe /s /u /n /i:user "$dll_win" || rig_fail "regsvr32 /u /n /i:user failed ($?)"
  [ "$(key_state 'HKCU\Software\Classes')" = absent ] ||
    rig_fail "per-user unregistration left the HKCU\Software\Classes that registration made"
  echo "[fresh] HKCU\Software\Classes made by registration and gone with unregistration"
}

peruser_remove() {  # LABEL
  local label=$1
  native regsvr32.exe /s /u /n /i:user "$dll_win" || rig_fail "regsvr32 /u /n /i:user failed ($?)"
  snapshot 'HKCU\Software\Classes' "user-$label-after"
  none_of_ours "user-$label-after" "left in HKCU\\Software\\Classes after per-user unregistration"
  same "user-$label-before" "user-$label-after" "per-user unregistration did not restore HKCU\\Software\\Classes"
  native regsvr32.exe /s /u /n /i:user "$dll_win" || rig_fail "a second per-user unregistration failed ($?)"
  snapshot 'HKLM\Software\Classes' "machine-$label-after"
  same "machine-$label-before" "machine-$label-after" "per-user unregistration changed the machine's classes"
  echo "[$label] unregistered for the current user: nothing of ours left, the machine's classes unchanged"
}

# Windows reads HKCU\Software\Classes before the machine's classes; Wine 8 reads only the
# machine's (HKEY_CLASSES_ROOT is HKLM\Software\Classes there). Which one this is shows in
# HKEY_CLASSES_ROOT itself, and decides what CreateObject must do.
create_from_script() {
  local scripts=$1
  run_script "$scripts/peruser_create.vbs"
  if reg_query 'HKCR\VX380ErrorLogging.ErrorLog' >/dev/null; then
    grep -qx created "$RIG_WORK/out.clean" || rig_fail "CreateObject failed although HKCR shows the per-user class"
    echo "CreateObject found the per-user registration"
  else
    grep -qx 'not created: 429' "$RIG_WORK/out.clean" ||
      rig_fail "HKCR does not show per-user classes, yet CreateObject did not fail with 429"
    echo "NOTE: this Wine does not merge HKCU\\Software\\Classes into HKEY_CLASSES_ROOT:" \
         "CreateObject cannot see per-user classes here (error 429); Windows can"
  fi
}

case "$action" in
  peruser)
    scripts=${args[0]} regfile=${args[1]}
    clean_slate
    peruser_fresh
    # An empty container of the user's own stays where it is (the snapshots compare it).
    own_interface=$(key_state 'HKCU\Software\Classes\Interface')
    [ "$own_interface" = absent ] && { native reg.exe add 'HKCU\Software\Classes\Interface' /f >/dev/null 2>&1 || rig_fail "reg add failed"; }
    # A command line other than "user" is refused and writes nothing.
    snapshot 'HKCU\Software\Classes' user-initial
    if native regsvr32.exe /s /n /i:everyone "$dll_win"; then rig_fail "regsvr32 /n /i:everyone succeeded"; fi
    snapshot 'HKCU\Software\Classes' user-refused
    same user-initial user-refused "a refused DllInstall wrote below HKCU\\Software\\Classes"

    peruser_round alone
    create_from_script "$scripts"
    peruser_remove alone
    [ "$(key_state 'HKCU\Software\Classes\Interface')" = absent ] && rig_fail "the user's own empty Interface key went"

    # Beside a machine-wide registration: each scope leaves the other alone.
    native regsvr32.exe /s "$dll_win" || rig_fail "machine-wide regsvr32 failed ($?)"
    peruser_round beside-machine
    peruser_remove beside-machine
    reg_query 'HKCR\CLSID\{8B72F824-63BF-4F49-B01A-FB3AFD7772B5}\InprocServer32' >/dev/null ||
      rig_fail "per-user unregistration removed the machine-wide class"

    # The shipped .reg turns reporting on for the application it names.
    native reg.exe import "$(rig_winpath "$regfile")" || rig_fail "reg import $(basename "$regfile") failed"
    run_script "$scripts/enable_logging.vbs"
    native reg.exe delete 'HKCU\SOFTWARE\Meridox' /f >/dev/null 2>&1
    [ "$own_interface" = absent ] && native reg.exe delete 'HKCU\Software\Classes\Interface' /f >/dev/null 2>&1
    native regsvr32.exe /s /u "$dll_win" || rig_fail "machine-wide unregistration failed"
    echo "per-user registration complete"
    ;;
  regfree)
    client=${args[0]} dll_manifest=${args[1]} host_manifest=${args[2]}
    clean_slate
    app=$RIG_WORK/app
    mkdir -p "$app"
    cp "$client" "$dll" "$dll_manifest" "$app/"
    cp "$host_manifest" "$app/$(basename "$client").manifest"
    for key in 'HKCR\CLSID' 'HKCU\Software\Classes\CLSID'; do
      reg_query "$key\{8B72F824-63BF-4F49-B01A-FB3AFD7772B5}" >/dev/null &&
        rig_fail "the class is registered ($key): this run would prove nothing"
    done
    rig_run "$(rig_winpath "$app/$(basename "$client")")" >"$RIG_WORK/client.txt" 2>&1
    rc=$?
    tr -d '\r' <"$RIG_WORK/client.txt"
    [ $rc -eq 0 ] || rig_fail "the registration-free host failed ($rc)"
    echo "registration-free use complete"
    ;;
  *)
    rig_fail "unknown action $action"
    ;;
esac
