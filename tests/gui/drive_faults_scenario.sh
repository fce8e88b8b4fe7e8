#!/usr/bin/env bash
# The drive page's own faults through Vantrel.exe's windows under Wine:
#  - V: analysed, its files on the Fragmented Files page; then W: checked
#    instead: the page shows W:'s files, and "Defrag File" on its first row
#    makes exactly that W: file contiguous (mshowfat), nothing on V: moves;
#  - Analyze with no drive checked: the message box is the active window
#    (Return closes it) and the buttons stay usable afterwards;
#  - Stop during Defrag Drive: the completion text agrees with its caption,
#    the status bar and the report's heading say it stopped, the report
#    names the file the stop left part-way; a second start meanwhile gets
#    the wait message in front (Return closes it), the second copy ended;
#  - "/auto" with "Cancel Defrag" chosen as soon as the first drive starts:
#    that drive's report is written, the second drive is never started.
# Every file's checksum before and after, fsck.fat -n on every volume.
#
# usage: drive_faults_scenario.sh BUILD_DIR OUTDIR
#   BUILD_DIR  a mingw-x86_64 build (program/Vantrel.exe, the GUI driver)
#   OUTDIR     receives the screenshots and the transcript
# Exit 77: the tools to run it are missing.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:?usage: drive_faults_scenario.sh BUILD_DIR OUTDIR}
out=${2:?}
exe=$build/program/Vantrel.exe
driver=$build/tools/gui_driver/vt-gui-driver.exe
name=drive_faults_scenario
needs="xdotool mshowfat mkfs.fat mdel"
[ -f "$exe" ] && [ -f "$driver" ] || { echo "$name: Vantrel.exe or the driver is missing" >&2; exit 77; }
rm -rf "$out"
. "$here/scenario_lib.sh"

bash "$here/../tools/make_fat_images.sh" "$work/img" >/dev/null || exit $?
img_v=$work/img/fat16.img
img_w=$work/img/fat32.img
# The scheduled run's first drive: enough fragmented files that the cancel
# arrives while the drive is still being worked on.
img_x=$work/busy.img
bash "$here/../tools/make_gap_image.sh" "$img_x" 32768 3200 16 50 || exit $?

for v in v w x; do eval "sums \"\$img_$v\"" >"$work/$v.before"; done
image_hash() { sha256sum "$1" | cut -d' ' -f1; }
check_row() { xdotool mousemove $(VT_CLICK_OUTSIDE=1 drive check "$1") click 1; }
show_tab() { xdotool mousemove $(drive tab-point "$1") click 1; sleep 2; }
# The file list's rows: selected, Name, Size, Fragments, Clusters, Degree,
# Last write, Folder (tab-separated).
folders_of() { cut -f8 <<<"$1" | sort -u | tr '\n' ' '; }

init_prefix
export VANTREL_VOLUMES="V=$(winpath "$img_v");W=$(winpath "$img_w");X=$(winpath "$img_x")"
export VT_DESKTOP=Vantrel
"$wine" explorer /desktop=$VT_DESKTOP,1024x720 "$exe" >/dev/null 2>&1 &
check "the main window opens" test "$(drive wait-main 90)" = "Vantrel"
sleep 2
log "$(drive rows)"

# --- another drive made current: the file list follows it --------------------
check_row 0
sleep 1
drive wait-idle 120
show_tab 1
files=$(drive files)
log "V: files: $(folders_of "$files")"
check "the Fragmented Files page shows V:'s files" \
  bash -c '[ -n "$0" ] && ! cut -f8 <<<"$0" | grep -qv "^V:"' "$files"
show_tab 0
check_row 0  # V: unchecked
check_row 1  # W: checked: W: becomes current and is analysed
sleep 1
drive wait-idle 120
check "W: is the current drive" test "$(drive title)" = 'Vantrel - W:\'
show_tab 1
files=$(drive files)
log "$files"
check "the Fragmented Files page now shows W:'s files only" \
  bash -c '[ -n "$0" ] && ! cut -f8 <<<"$0" | grep -qv "^W:"' "$files"
shot 01-file-list-follows-the-current-drive
first=$(head -1 <<<"$files")
file_name=$(cut -f2 <<<"$first")
folder=$(cut -f8 <<<"$first")
# "W:\Level 1" and "x.bin" as mtools names it: "::Level 1/x.bin".
sub=$(sed -e 's/^W:\\//' -e 's/\\$//' -e 's/\\/\//g' <<<"$folder")
mpath="::${sub:+$sub/}$file_name"
chain_before=$(mshowfat -i "$img_w" "$mpath" 2>&1)
log "before: $mpath $chain_before"
# mshowfat lists a file's runs of clusters: "<4> <8-9> ..."
runs() { grep -o '<[0-9-]*>' <<<"$1" | wc -l; }
check "the first row names a fragmented W: file" test "$(runs "$chain_before")" -gt 1
v_hash=$(image_hash "$img_v")
drive file-select 0
drive click 1202
sleep 2
drive wait-idle 120
sleep 1  # the image backend writes through; the program keeps running
chain_after=$(mshowfat -i "$img_w" "$mpath" 2>&1)
log "after: $mpath $chain_after"
check "\"Defrag File\" made that W: file one run of clusters" test "$(runs "$chain_after")" = 1
check "nothing on V: moved" test "$(image_hash "$img_v")" = "$v_hash"
shot 02-after-defrag-file

# --- Analyze with nothing checked --------------------------------------------
show_tab 0
check_row 1  # W: unchecked: nothing is checked now
sleep 1
drive click 1102
message=$(drive msgbox 20)
log "message: $message"
check "Analyze with nothing checked asks for a checkmark" \
  test "$message" = "Please place a checkmark on the drive(s) to process."
shot 03-no-checkmark-message
xdotool key Return
sleep 2
check "Return closes the message (it is the active window)" bash -c '! "$0" "$1" msgbox 1 >/dev/null 2>&1' "$wine" "$driver"
drive msgbox-press 1 2>/dev/null  # leaves nothing open if Return did not
check "the buttons are usable again, Stop is not" drive wait-idle 5
shot 04-buttons-usable-after-the-message
# --- Stop during Defrag Drive --------------------------------------------------
check_row 2  # X:, the busy volume: analysed
sleep 1
drive wait-idle 120
before=$(drive rows | grep -F "	X:" | cut -f4)
drive click 1103
sleep 1
drive click 1106
message=$(drive dialog "Defrag Drive" 300)
log "$message"
check "after Stop the completion dialog says the run was stopped, as its caption does" \
  test "$message" = "$(printf 'Defrag Drive  Cancelled\nDefragmentation was stopped for drive(s):\nX:\\ ')"
check "the status bar behind it says the pass was stopped" test "$(drive text 1091)" = "Defrag drive stopped"
shot 05-stopped-completion-dialog
# A second start while the run still holds the program (its dialog is up):
# the running copy tells the user to wait, in front where Return closes
# it, and the second copy has already ended.
"$wine" explorer /desktop=$VT_DESKTOP,1024x720 "$exe" /defrag 'C:\no-request.txt' >/dev/null 2>&1 &
second=$!
message=$(drive msgbox 30)
check "a second start while busy: \"$message\"" \
  test "$message" = "Please wait for the current operation to complete."
ended() { for _ in $(seq 1 20); do kill -0 "$second" 2>/dev/null || return 0; sleep 0.5; done; return 1; }
check "the second copy ended without waiting for the answer" ended
check "the stopped run's dialog stays above the main window under it" \
  test "$(drive above-main "Defrag Drive")" = 1
shot 05b-busy-hand-off-message
xdotool key Return
sleep 2
check "Return closes the wait message (it is the active window)" \
  bash -c '! "$0" "$1" msgbox 1 >/dev/null 2>&1' "$wine" "$driver"
drive msgbox-press 1 2>/dev/null  # leaves nothing open if Return did not
completion_open() { drive dialog "Defrag Drive" 5 >/dev/null; }
check "the completion dialog is still there behind it" completion_open
drive press "Defrag Drive" 1  # View Report
sleep 2
after=$(drive rows | grep -F "	X:" | cut -f4)
report=$(drive text 2108)
log "X: fragmented files before $before, after the stopped pass $after"
log "$(grep -F 'Stopped part-way:' <<<"$report")"
# The stop most likely lands inside a file; if between two, the row has fewer.
check "the report names the file the stop left part-way, or the row shows fewer fragmented files" \
  bash -c '[[ "$0" == *"Stopped part-way:"*"X:\\data\\"*"fragments)"* ]] || [ "${1//,/}" -gt "${2//,/}" ]' \
  "$report" "$before" "$after"
check "the report's heading says the pass stopped, not that it completed" \
  bash -c '[[ "$0" == *"Action: Defrag Drive X:\\ Stopped at "* && "$0" != *"Action: Defrag Drive X:\\ Completed at "* ]]' "$report"
shot 06-report-of-the-stopped-pass
drive close
sleep 3
"$server" -w

# --- "/auto": Cancel Defrag as the first drive starts --------------------------
ini=$(find "$WINEPREFIX/drive_c/users" -name Vantrel.ini -path '*Norvane Utilities*' | head -1)
check "the settings file exists" test -f "$ini"
# X: (23) first, then W: (22). The stopped pass above left X: only a few
# fragmented files, which a pass can finish before any click lands: the run
# gets a fresh busy volume as X:, with three times the work.
sed -i 's/^\[Settings\]\r\?$/&\nAutoDefragDrives="23,22,"\r/' "$ini"
img_y=$work/busy-auto.img
bash "$here/../tools/make_gap_image.sh" "$img_y" 32768 9600 48 50 || exit $?
sums "$img_y" >"$work/y.before"
export VANTREL_VOLUMES="V=$(winpath "$img_v");W=$(winpath "$img_w");X=$(winpath "$img_y")"
w_hash=$(image_hash "$img_w")
"$wine" explorer /desktop=$VT_DESKTOP,1024x720 "$exe" /auto >/dev/null 2>&1 &
# One driver waits for the tray and watches its tip: a second start of the
# driver in between can come after a short pass has ended.
"$wine" "$driver" tray-cancel 'Vantrel - Defragging X:\' 0 >"$work/cancel.out" 2>>"$out/driver.err"
check "the tip names X: and the tray menu opens" grep -q "menu open" "$work/cancel.out"
check "the run ends by itself after Cancel Defrag" drive tray-gone 300
"$server" -w
report=$(tr -d '\r' <"$(dirname "$ini")/$(date +%Y-%m-%d).rtf" 2>/dev/null)
check "today's log holds X:'s report" bash -c '[[ "$0" == *"Scheduled Defrag Drive X:"* ]]' "$report"
check "W: was never started" bash -c '[[ "$0" != *"Scheduled Defrag Drive W:"* ]]' "$report"
check "nothing on W: moved" test "$(image_hash "$img_w")" = "$w_hash"

for v in v w x y; do
  eval "img=\$img_$v"
  check "$(basename "$img") passes fsck.fat -n" fs_check "$img"
  check "every file of $(basename "$img") reads back unchanged" cmp -s "$work/$v.before" <(sums "$img")
done
log "$failures failure(s)"
[ "$failures" = 0 ]
