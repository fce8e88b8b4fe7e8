#!/usr/bin/env bash
# The main window under Wine on an X virtual frame buffer, over one FAT12
# image X: whose free space is all one-cluster holes:
#  - resize, close and start again, then maximise and restore: every control
#    inside the window (rectangles from the driver) and the window drawn the
#    same as before (pixels);
#  - a "/defrag <request>" at start-up shows only the Fragmented Files page;
#  - the request's file cannot be placed, "Would you like to do this now?"
#    -> Yes runs the free-space pass (fsck.fat -n and every file's checksum);
#  - the status bar shows a Cyrillic path as it is;
#  - screenshots at 96 and 144 DPI;
#  - "/uninstall" removes the scheduled task and the extension's
#    registration, and says so when the task cannot be removed.
#
# usage: window_scenario.sh BUILD_DIR OUTDIR IMAGE_X
# The image is changed in place. Exit 77: the tools to run it are missing.
set -uo pipefail
build=${1:?usage: window_scenario.sh BUILD_DIR OUTDIR IMAGE_X}
out=${2:?}
img_x=$(realpath "${3:?}")
name=window_scenario
needs="xdotool convert compare"
. "$(dirname "$0")/scenario_lib.sh"
prog=$work/prog
mkdir -p "$prog"
for f in program/Vantrel.exe program/Brakwater.dll program/VantrelShell.dll \
         tools/gui_driver/vt-gui-driver.exe; do
  cp "$build/$f" "$prog/" || { echo "window_scenario: $f is missing" >&2; exit 1; }
done
driver=$prog/vt-gui-driver.exe
exe=$prog/Vantrel.exe
export VT_DESKTOP=Vantrel
start_program() {
  "$wine" explorer /desktop=$VT_DESKTOP,1200x860 "$exe" "$@" >/dev/null 2>&1 &
  program=$!
}
has() { [[ "$1" == *"$2"* ]]; }
# Every visible control inside the client area, and one page shown.
layout_ok() {
  local report
  report=$(drive layout)
  log "  layout: $(tr '\n' ';' <<<"$report")"
  [[ "$report" != *outside* && "$report" == *"pages 1"* ]]
}
closed() {  # the main window has gone and the program has ended
  for _ in $(seq 1 120); do
    kill -0 "$program" 2>/dev/null || return 0
    sleep 0.5
  done
  return 1
}
# The main window's picture, cut from the screen.
grab_main() {  # grab_main FILE
  local x y w h
  read -r x y w h <<<"$(drive main-rect)"
  sleep 1
  import -display "$DISPLAY" -window root "$work/screen.png"
  convert "$work/screen.png" -crop "${w}x${h}+${x}+${y}" +repage "$1"
}
clsid='{5A1C07E2-94B3-4F6D-A2C8-3E7D19B04F55}'
registered64() { "$wine" reg query "HKCR\\CLSID\\$clsid\\InprocServer32" /reg:64 >/dev/null 2>&1; }

sums "$img_x" >"$work/x.before"
init_prefix
# Task Scheduler 1.0, whose work items Wine keeps as files.
"$wine" reg add 'HKCU\Software\Wine' /v Version /d winxp64 /f >/dev/null 2>&1
"$server" -w
job=$WINEPREFIX/drive_c/windows/tasks/Vantrel.job
export VANTREL_VOLUMES="X=$(winpath "$img_x")"

# --- Resize, close, start again ---------------------------------------------
start_program
drive wait-main 90 >/dev/null
sleep 2
check "at the first start every control is inside the window" layout_ok
# X: checked (and so kept checked for the next start): the free-space pass
# runs over the checked drives.
xdotool mousemove $(VT_CLICK_OUTSIDE=1 drive check 0) click 1
sleep 1
drive wait-idle 120
drive resize 1000 700
sleep 2
check "after a resize every control is inside the window" layout_ok
drive close
check "the window closes" closed

# --- A request at start-up ---------------------------------------------------
printf 'Vantrel\r\nX:\\Папка\\Большой.bin\r\n' >"$WINEPREFIX/drive_c/request.txt"
start_program /defrag 'C:\request.txt'
drive wait-main 90 >/dev/null
sleep 1
check "the request opens the Fragmented Files tab" test "$(drive tab)" = 1
check "started again after a resize, with a request: every control inside, one page shown" layout_ok
shot window-01-request-at-start

# --- "Would you like to do this now?" -> Yes ---------------------------------
message=$(drive dialog "Vantrel" 120)
log "$message"
check "the file finds no room: \"Would you like to do this now?\"" \
  has "$message" "Would you like to do this now?"
shot window-02-free-space-question
drive press "Vantrel" 6
done_text=""
for _ in $(seq 1 120); do
  if done_text=$(drive dialog "Defrag Free Space" 1 2>/dev/null); then break; fi
  if other=$(drive dialog "Vantrel" 1 2>/dev/null); then
    log "  then: $(tr '\n' ' ' <<<"$other")"
    drive press "Vantrel" 1
  fi
  done_text=""
done
log "$done_text"
check "Yes runs the free-space pass to its end" has "$done_text" "Defrag Free Space"
shot window-03-free-space-done
drive press "Defrag Free Space" 2
sleep 2
report=$(drive text 2108)
log "$report"
check "the report holds the free-space pass of X:" has "$report" 'Defrag free space X:\'

# --- Maximise and restore ----------------------------------------------------
xdotool mousemove 5 5
drive tab-point 0 >/dev/null
grab_main "$work/before.png"
drive maximize
sleep 2
check "maximised: every control inside the window" layout_ok
shot window-04-maximised
drive restore
sleep 2
check "restored: every control inside the window" layout_ok
grab_main "$work/after.png"
cp "$work/before.png" "$out/window-05-before-maximise.png"
cp "$work/after.png" "$out/window-06-after-restore.png"
diff_px=$(compare -metric AE "$work/before.png" "$work/after.png" null: 2>&1 | cut -d' ' -f1)
log "  pixels that differ after maximise and restore: $diff_px"
check "maximise and restore leave the window drawn as before" \
  bash -c '[[ "$0" =~ ^[0-9]+$ ]] && [ "$0" -lt 200 ]' "$diff_px"

# --- A Cyrillic path in the status bar ---------------------------------------
drive click 2101  # the uncompressed view: the pointer names its file
sleep 2
read -r mx my mw mh <<<"$(drive map-rect)"
status=""
for ((y = my + 3; y < my + mh && y < my + 60; y += 6)); do
  for ((x = mx + 3; x < mx + mw; x += 9)); do
    xdotool mousemove "$x" "$y"
    sleep 0.2
    status=$(drive wtext 1091)
    has "$status" "Папка" && break 2
  done
done
log "  status bar: $status"
check "the status bar shows the Cyrillic path as it is" has "$status" 'X:\Папка'
shot window-07-cyrillic-status
drive close
closed
# The volume is closed (and its dirty bit cleared) with the program.
check "X: passes fsck.fat -n" fs_check "$img_x"
fsck.fat -n "$img_x" 2>&1 | head -20 >>"$out/transcript.txt"
sums "$img_x" >"$work/x.after"
check "every file of X: keeps its bytes" cmp -s "$work/x.before" "$work/x.after"

# --- 144 and 96 DPI ----------------------------------------------------------
at_dpi() {  # at_dpi DPI SHOT: a start with the system's DPI set so
  "$wine" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
  "$server" -k
  "$server" -w
  start_program
  drive wait-main 90 >/dev/null
  sleep 3
  check "at $1 DPI every control is inside the window" layout_ok
  shot "$2"
  drive close
  closed
}
at_dpi 144 window-08-main-144dpi
at_dpi 96 window-09-main-96dpi

# --- /uninstall --------------------------------------------------------------
"$wine" regsvr32 /s "$(winpath "$prog/VantrelShell.dll")" >/dev/null 2>&1
mkdir -p "$(dirname "$job")"
printf 'work item' >"$job"
check "the extension is registered before" registered64
"$wine" explorer /desktop=$VT_DESKTOP,1200x860 "$exe" /uninstall >/dev/null 2>&1 &
uninstall=$!
box=$(drive dialog "Vantrel" 15 2>/dev/null) && { log "  /uninstall said: $box"; drive press "Vantrel" 1; }
wait "$uninstall"
check "/uninstall removes the scheduled task" test ! -e "$job"
unregistered() { ! registered64; }
check "/uninstall removes the extension's registration (64-bit view)" unregistered
# A task that cannot be removed is told.
printf 'work item' >"$job"
chmod 444 "$job"
"$wine" explorer /desktop=$VT_DESKTOP,1200x860 "$exe" /uninstall >/dev/null 2>&1 &
uninstall=$!
box=$(drive dialog "Vantrel" 30)
log "$box"
check "a task that cannot be removed: \"Unable to remove the scheduled task\"" \
  has "$box" 'Unable to remove the scheduled task "Vantrel".'
check "it gives the failure's own error code, not 0" \
  bash -c '[[ "$0" == *"Error code: 0x8"* && "$0" != *"0x00000000"* ]]' "$box"
shot window-10-uninstall-refused
drive press "Vantrel" 1
wait "$uninstall"
chmod 644 "$job"

log "failures: $failures"
[ "$failures" = 0 ]
