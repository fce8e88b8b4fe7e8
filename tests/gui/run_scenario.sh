#!/usr/bin/env bash
# Runs Vantrel.exe under Wine on an X virtual frame buffer over two volume
# images and drives it through the drive workflow, saving a screenshot of
# each step: the drive list, an analysis by checking a drive, Defrag Drive
# on both drives with its completion dialog, "View Report", the hand-off of
# a second start's command line and of "/auto". Every file's checksum is
# taken before and compared after, and the file systems' checkers judge the
# volumes (fsck.fat -n; ntfsfix -n for NTFS).
#
# With IMAGE_X, a nearly full FAT volume (tests/tools/make_full_fat.py)
# whose fragmented files no free run holds, X: is checked too: its pass
# makes room, and every file under its big/ folder ends in one run of
# clusters by mshowfat.
#
# usage: run_scenario.sh BUILD_DIR OUTDIR IMAGE_V IMAGE_W [IMAGE_X]
#   BUILD_DIR  a mingw-x86_64 build (program/ with Vantrel.exe, vt-gui-driver.exe)
#   OUTDIR     receives the screenshots and the transcript
# Images are changed in place (they are defragmented). Exit 77: the tools
# to run it are missing.
set -uo pipefail
build=${1:?usage: run_scenario.sh BUILD_DIR OUTDIR IMAGE_V IMAGE_W}
out=${2:?}
img_v=$(realpath "${3:?}")
img_w=$(realpath "${4:?}")
img_x=${5:+$(realpath "$5")}
exe=$build/program/Vantrel.exe
driver=$build/tools/gui_driver/vt-gui-driver.exe
name=run_scenario
needs="xdotool mshowfat mdir"
[ -f "$exe" ] && [ -f "$driver" ] || { echo "run_scenario: Vantrel.exe or the driver is missing" >&2; exit 77; }
. "$(dirname "$0")/scenario_lib.sh"
# A real click on a row's check box: the page takes only the user's clicks.
check_row() {  # check_row ROW
  local point
  point=$(VT_CLICK_OUTSIDE=1 drive check "$1")
  xdotool mousemove $point click 1
}
sums "$img_v" >"$work/v.before"
sums "$img_w" >"$work/w.before"
# The big files of X: and how many runs of clusters each takes.
big_runs() {  # big_runs IMAGE: "NAME RUNS" per file of ::/big
  local f
  for f in $(mdir -b -i "$1" ::/big 2>/dev/null | sed 's|^::/big/||'); do
    echo "$f $(mshowfat -i "$1" "::/big/$f" 2>/dev/null | grep -o '<[0-9-]*>' | wc -l)"
  done
}
if [ -n "$img_x" ]; then
  sums "$img_x" >"$work/x.before"
  big_runs "$img_x" >"$work/x.runs.before"
  check "X:'s big files are fragmented before the pass" \
    bash -c '[ -s "$0" ] && awk "\$2 <= 1 {exit 1}" "$0"' "$work/x.runs.before"
fi

init_prefix

export VANTREL_VOLUMES="V=$(winpath "$img_v");W=$(winpath "$img_w")${img_x:+;X=$(winpath "$img_x")}"
export VT_DESKTOP=Vantrel
"$wine" explorer /desktop=$VT_DESKTOP,1024x720 "$exe" >/dev/null 2>&1 &
title=$(drive wait-main 90)
check "the main window opens" test "$title" = "Vantrel"
sleep 2
rows=$(drive rows)
log "$rows"
fs_name() { if file -b "$1" | grep -q NTFS; then echo NTFS; else echo FAT; fi; }
check "the drive list shows V: and W: with their file systems" \
  bash -c '[[ "$(grep -F "	V:" <<<"$0")" == *"$1"* && "$(grep -F "	W:" <<<"$0")" == *"$2"* ]]' \
  "$rows" "$(fs_name "$img_v")" "$(fs_name "$img_w")"
shot 01-main-before-analysis

check_row 0
sleep 1
drive wait-idle 120
status=$(drive text 1091)
check "checking V: analyses it: \"$status\"" test "$status" = "Analysis complete."
rows=$(drive rows)
log "$rows"
check "V:'s row shows its statistics" bash -c '[[ "$(head -1 <<<"$0" | cut -f3)" =~ ^[0-9,]+$ ]]' "$rows"
check "the title names the current drive" test "$(drive title)" = 'Vantrel - V:\'
shot 02-main-after-analysis

check_row 1
sleep 1
drive wait-idle 120
drives='V:\, W:\'
if [ -n "$img_x" ]; then
  check_row 2
  sleep 1
  drive wait-idle 120
  drives='V:\, W:\, X:\'
fi
drive click 1103
message=$(drive dialog "Defrag Drive" 300)
log "$message"
check "the completion dialog names every checked drive" \
  test "$message" = "$(printf 'Defrag Drive \nDefragmentation is complete for drive(s):\n%s ' "$drives")"
check "the status bar keeps the pass's closing text behind the dialog" \
  test "$(drive text 1091)" = "Defrag drive complete"
shot 03-completion-dialog
drive press "Defrag Drive" 1
sleep 2
check "View Report selects the Report tab" test "$(drive tab)" = 2
report=$(drive text 2108)
echo "$report" >"$out/report.txt"
check "the report holds the analysis of V:" bash -c '[[ "$0" == *"Analyze Drive V:\\"* ]]' "$report"
check "the report holds both drive passes" \
  bash -c '[[ "$0" == *"Defrag Drive V:\\"* && "$0" == *"Defrag Drive W:\\"* ]]' "$report"
# Each section reports its own drive's pass: files of its drive, bytes moved.
section() { local t=${1#*"Action: Defrag Drive $2"}; echo "${t%%Action: *}"; }
for d in V W; do
  other=$([ $d = V ] && echo W || echo V)
  check "the Defrag Drive $d: section reports $d:'s own pass" \
    bash -c '[[ "$0" != *"$1:\\"* && "$0" == *"Bytes processed:"* && "$0" != *"Bytes processed:	0 bytes"* ]]' \
    "$(section "$report" "$d:\\")" "$other"
done
shot 04-report-tab

# A second start hands its command line over and ends.
"$wine" explorer /desktop=$VT_DESKTOP,1024x720 "$exe" /defrag 'C:\request.txt' >/dev/null 2>&1
sleep 4
check "a second start's command line opens the Fragmented Files tab" test "$(drive tab)" = 1
# Its request file does not exist: the request is dropped without a word.
check "a request whose file is missing is dropped" test -z "$(drive text 1200)"
"$wine" explorer /desktop=$VT_DESKTOP,1024x720 "$exe" /auto >/dev/null 2>&1 &
message=$(drive dialog "Vantrel" 30)
log "$message"
check "a scheduled start while open shows the scheduler message" \
  bash -c '[[ "$0" == *"Windows Scheduler is attempting to start a scheduled defrag"* ]]' "$message"
shot 05-scheduler-message
drive press "Vantrel" 1
sleep 2
shot 06-fragmented-files-tab

drive close
sleep 3
"$server" -w
check "V: passes its checker" fs_check "$img_v"
check "W: passes its checker" fs_check "$img_w"
check "every file of V: reads back unchanged" cmp -s "$work/v.before" <(sums "$img_v")
check "every file of W: reads back unchanged" cmp -s "$work/w.before" <(sums "$img_w")
if [ -n "$img_x" ]; then
  big_runs "$img_x" >"$work/x.runs.after"
  log "X: big files' runs before: $(tr '\n' ' ' <"$work/x.runs.before")"
  log "X: big files' runs after:  $(tr '\n' ' ' <"$work/x.runs.after")"
  check "the pass made room: every big file of the nearly full X: is one run (mshowfat)" \
    bash -c '[ -s "$0" ] && awk "\$2 != 1 {exit 1}" "$0"' "$work/x.runs.after"
  check "X: passes fsck.fat -n" fs_check "$img_x"
  check "every file of X: reads back unchanged" cmp -s "$work/x.before" <(sums "$img_x")
fi

log "$failures failure(s)"
[ "$failures" = 0 ]
