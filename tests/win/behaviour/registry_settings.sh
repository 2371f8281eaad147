#!/bin/bash
# Settings from the real registry, stored with reg.exe: Initialize reads ReportingLevel and
# LogFilename from the current user first and the machine second, and one error reported
# under them shows a box and starts a log as the level says. Then LogMsg with the machine
# switch: absent or " 1" writes nothing, "1" starts %TEMP%\Corvane.Log with its banner.
#   registry_settings.sh WORKDIR TOOLSDIR PROGRAM -- EMULATOR...
set -euo pipefail
. "$(dirname "$0")/behaviour.sh"
bh_init "$@"

logs=$RIG_WORK/logs
mkdir -p "$logs"
user_log=$(rig_winpath "$logs/user.log") machine_log=$(rig_winpath "$logs/machine.log")
apps=(BhRegUser BhRegMachine BhRegNoUserValue BhRegCase BhRegNone)
switch='HKLM\SOFTWARE\Meridox\DEBUG\LogMessageLevel'
# Settings of the test's own applications only; the machine switch is put back to absent.
trap 'bh_reg "?delete $switch /f"; rig_stop' EXIT

settings=()
for app in "${apps[@]}"; do
  settings+=("?delete HKCU\\Software\\Meridox\\Applications\\$app.Application /f"
             "?delete HKLM\\Software\\Meridox\\Applications\\$app.Application /f")
done
settings+=(
  # The user's settings win over the machine's.
  "add $(bh_app_key HKCU BhRegUser ReportingLevel) /ve /d Log /f"
  "add $(bh_app_key HKCU BhRegUser LogFilename) /ve /d $user_log /f"
  "add $(bh_app_key HKLM BhRegUser ReportingLevel) /ve /d Display /f"
  "add $(bh_app_key HKLM BhRegUser LogFilename) /ve /d $(rig_winpath "$logs/not-this.log") /f"
  # Only the machine has them.
  "add $(bh_app_key HKLM BhRegMachine ReportingLevel) /ve /d LogAndDisplay /f"
  "add $(bh_app_key HKLM BhRegMachine LogFilename) /ve /d $machine_log /f"
  # The user's key exists without a default value ("reg add KEY" alone would give it an
  # empty one under Wine): the machine's text counts.
  "add $(bh_app_key HKCU BhRegNoUserValue ReportingLevel) /v Placeholder /d x /f"
  "delete $(bh_app_key HKCU BhRegNoUserValue ReportingLevel) /v Placeholder /f"
  "add $(bh_app_key HKLM BhRegNoUserValue ReportingLevel) /ve /d Display /f"
  # Texts compare exactly: "log" is no level name, which means display; the machine is not asked.
  "add $(bh_app_key HKCU BhRegCase ReportingLevel) /ve /d log /f"
  "add $(bh_app_key HKLM BhRegCase ReportingLevel) /ve /d Log /f"
)
bh_reg "${settings[@]}"

bh_start_dbwin "$RIG_WORK/debug.txt"
rig_start_boxbot "$RIG_WORK/boxes.jsonl"
bh_run settings settings "${apps[@]}"
rig_stop

cat >"$RIG_WORK/expected.out" <<EOF
BhRegUser: level 1 file $user_log
BhRegUser: returned; err 0||||0
BhRegMachine: level 3 file $machine_log
BhRegMachine: returned; err 0||||0
BhRegNoUserValue: level 2 file @DESKTOP@\\BhRegNoUserValue.log
BhRegNoUserValue: returned; err 0||||0
BhRegCase: level 2 file @DESKTOP@\\BhRegCase.log
BhRegCase: returned; err 0||||0
BhRegNone: level 0 file @DESKTOP@\\BhRegNone.log
BhRegNone: returned; err 0||||0
EOF
bh_compare_lines "settings read" "$RIG_WORK/settings.out" "$RIG_WORK/expected.out"

line() { printf 'ERROR: %s - described as: set from the registry, Error Number is: 7' "$1"; }
for app in "${apps[@]}"; do line "$app"; echo; done >"$RIG_WORK/expected.debug"
bh_debug_lines "$RIG_WORK/debug.txt" "$BH_PID" "$RIG_WORK/debug.lines"
bh_compare_lines "debug output" "$RIG_WORK/debug.lines" "$RIG_WORK/expected.debug"

bh_expect_log "$logs/user.log" "$BH_BANNER$(line BhRegUser)"$'\r\n'
bh_expect_log "$logs/machine.log" "$BH_BANNER$(line BhRegMachine)"$'\r\n'
bh_expect_log "$logs/not-this.log" '<missing>'
bh_expect_boxes "$RIG_WORK/boxes.jsonl" 3
i=0
for app in BhRegMachine BhRegNoUserValue BhRegCase; do
  bh_expect_box "$RIG_WORK/boxes.jsonl" $((i += 1)) \
    "\"title\":\"$app\",\"text\":\"set from the registry\",$BH_OK_ONLY,\"icon\":\"exclamation\""
done

# ---- The message log and its machine-wide switch
message_log() {  # RUN-NAME: runs the scenario; sets message_log_path to the log's Unix path
  bh_run "$1" msglog
  [ "$(sed -n 2p "$RIG_WORK/$1.out")" = 'logged: returned; err 0||||0' ] ||
    rig_fail "LogMsg failed:"$'\n'"$(cat "$RIG_WORK/$1.out")"
  local windows_path
  windows_path=$(sed -n 's/^message log //p' "$RIG_WORK/$1.out")
  [[ $windows_path == *'\Corvane.Log' ]] || rig_fail "unexpected message log path '$windows_path'"
  message_log_path=$(rig_run winepath -u "$windows_path" | tr -d '\r')
}
earlier=$'left over from an earlier run\r\n'

bh_reg "?delete $switch /f"
message_log switch-absent
bh_expect_log "$message_log_path" "$earlier"

bh_reg "add $switch /ve /d \" 1\" /f"
message_log switch-blank
bh_expect_log "$message_log_path" "$earlier"

bh_reg "add $switch /ve /d 1 /f"
message_log switch-on
bh_expect_log "$message_log_path" "${BH_BANNER}one"$'\r\n\r\n'"two"$'\r\n'
echo "registry settings passed"
