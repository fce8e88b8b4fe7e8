#!/usr/bin/env bash
# Drives Vantrel.exe under Wine on an X virtual frame buffer over two FAT
# images whose media the test switch names (V: solid state, W: a hard disk):
# the drive list's media column, the question before Defrag Drive on V: and
# what each answer does (Cancel: nothing; Yes: a retrim; No: the pass
# anyway), "Retrim" in Defrag Drive's drop-down, the scheduled run
# retrimming V: and defragmenting W:, and the message where the system has
# no retrim. Screenshots of each step; fsck.fat -n and every file's checksum
# judge the volumes.
#
# usage: retrim_scenario.sh BUILD_DIR OUTDIR IMAGE_V IMAGE_W
# Images are changed in place. Exit 77: the tools to run it are missing.
set -uo pipefail
build=${1:?usage: retrim_scenario.sh BUILD_DIR OUTDIR IMAGE_V IMAGE_W}
out=${2:?}
img_v=$(realpath "${3:?}")
img_w=$(realpath "${4:?}")
name=retrim_scenario
needs=xdotool
. "$(dirname "$0")/scenario_lib.sh"
prog=$work/prog
mkdir -p "$prog"
# The program folder as built, with the command line and the driver beside it.
for f in program/Vantrel.exe program/Brakwater.dll program/VantrelShell.dll cli/vantrel-cli.exe \
         tools/gui_driver/vt-gui-driver.exe; do
  cp "$build/$f" "$prog/" || { echo "retrim_scenario: $f is missing" >&2; exit 1; }
done
driver=$prog/vt-gui-driver.exe
exe=$prog/Vantrel.exe
start_program() { "$wine" explorer /desktop=$VT_DESKTOP,1024x720 "$exe" "$@" >/dev/null 2>&1 & }
check_row() { xdotool mousemove $(VT_CLICK_OUTSIDE=1 drive check "$1") click 1; }
question='V:\ is a solid-state drive. Defragmenting it adds wear and does not make it faster. Retrim it instead?'
has() { [[ "$1" == *"$2"* ]]; }
count() { grep -o -F "$2" <<<"$1" | wc -l; }
settings_folder() { dirname "$(find "$WINEPREFIX/drive_c/users" -name Vantrel.ini -path '*Norvane Utilities*' | head -1)"; }

sums "$img_v" >"$work/v.before"
sums "$img_w" >"$work/w.before"
init_prefix
export VANTREL_VOLUMES="V=$(winpath "$img_v");W=$(winpath "$img_w")"
export VANTREL_MEDIA="V=ssd;W=hdd"
export VT_DESKTOP=Vantrel
start_program
drive wait-main 90 >/dev/null
sleep 2
rows=$(drive rows)
log "$rows"
check "the media column: V: is a solid-state drive" \
  bash -c '[[ "$(grep -F "	V:" <<<"$0" | cut -f9)" == "Solid state drive" ]]' "$rows"
check "the media column: W: is a hard disk drive" \
  bash -c '[[ "$(grep -F "	W:" <<<"$0" | cut -f9)" == "Hard disk drive" ]]' "$rows"
check_row 0
sleep 1
drive wait-idle 120
shot retrim-01-media-column

# Cancel: nothing happens.
drive click 1103
message=$(drive dialog "Vantrel" 30)
log "$message"
check "Defrag Drive on V: asks first" test "$(tail -1 <<<"$message")" = "$question"
shot retrim-02-question
drive press "Vantrel" 2
sleep 3
check "Cancel: no completion dialog" bash -c '! "$0" "$1" dialog "Defrag Drive" 3 >/dev/null 2>&1' "$wine" "$driver"
report=$(drive text 2108)
check "Cancel: neither a retrim nor a pass" bash -c '[[ "$0" != *"Retrim Drive"* && "$0" != *"Defrag Drive V:"* ]]' "$report"

# Yes: V: is retrimmed, not defragmented.
drive click 1103
drive dialog "Vantrel" 30 >/dev/null
drive press "Vantrel" 6
message=$(drive dialog "Defrag Drive" 120)
log "$message"
drive press "Defrag Drive" 1
sleep 2
report=$(drive text 2108)
check "Yes: the report holds \"Retrim Drive V:\\\" with its bytes trimmed" \
  bash -c '[[ "$0" == *"Retrim Drive V:\\"* && "$0" == *"Bytes trimmed:"* ]]' "$report"
# Wine has no FSCTL_SET_ZERO_DATA, so the image file cannot be given holes
# from a Windows program there: the section says so instead of a count.
section=${report##*"Retrim Drive V:"}
if [[ "$section" == *"Retrim failed:"* ]]; then
  log "  (the host refused the hole punch: $(grep -o 'Retrim failed:.*' <<<"$section" | head -1))"
fi
check "Yes: V: is not defragmented" bash -c '[[ "$0" != *"Defrag Drive V:"* ]]' "$report"
shot retrim-03-report-after-yes

# No: the pass runs anyway.
drive click 1103
drive dialog "Vantrel" 30 >/dev/null
drive press "Vantrel" 7
drive dialog "Defrag Drive" 300 >/dev/null
drive press "Defrag Drive" 2
sleep 2
report=$(drive text 2108)
check "No: V: is defragmented anyway" bash -c '[[ "$0" == *"Defrag Drive V:\\"* ]]' "$report"

# The drop-down's "Retrim" on both checked drives, without a question.
xdotool mousemove $(drive tab-point 0) click 1
sleep 1
check_row 1
sleep 1
drive wait-idle 120
read -r bx by bw bh <<<"$(drive ctl-rect 1103)"
xdotool mousemove $((bx + bw - 5)) $((by + bh / 2)) click 1
sleep 1
read -r mx my mw mh <<<"$(drive menu-rect)"
shot retrim-04-dropdown
if [ -n "${mh:-}" ]; then
  xdotool mousemove $((mx + mw / 2)) $((my + mh / 2)) click 1
fi
message=$(drive dialog "Retrim" 120)
log "$message"
check "Retrim in the drop-down retrims both checked drives" \
  test "$message" = "$(printf 'Retrim\nRetrim is complete for drive(s):\nV:\\, W:\\ ')"
drive press "Retrim" 1
sleep 2
report=$(drive text 2108)
check "the report holds a retrim of W:" bash -c '[[ "$0" == *"Retrim Drive W:\\"* ]]' "$report"
shot retrim-05-report-after-dropdown
drive close
sleep 3
"$server" -w

# The scheduled run retrims V: and defragments W:.
"$wine" "$prog/vantrel-cli.exe" settings set AutoDefragDrives 21,22, >/dev/null 2>&1
today=$(date +%Y-%m-%d)
before=$(tr -d '\r' <"$(settings_folder)/$today.rtf" 2>/dev/null)
start_program /auto
check "the scheduled run ends by itself" drive tray-gone 300
"$server" -w
logtext=$(tr -d '\r' <"$(settings_folder)/$today.rtf" 2>/dev/null)
check "the scheduled run retrims V:" \
  test "$(count "$logtext" 'Retrim Drive V:')" -gt "$(count "$before" 'Retrim Drive V:')"
check "the scheduled run does not defragment V:" bash -c '[[ "$0" != *"Scheduled Defrag Drive V:"* ]]' "$logtext"
check "the scheduled run defragments W:" bash -c '[[ "$0" == *"Scheduled Defrag Drive W:"* ]]' "$logtext"

# A system without retrim: the message and nothing else.
export VANTREL_MEDIA="V=ssd+noretrim;W=hdd"
start_program
drive wait-main 90 >/dev/null
sleep 2
drive wait-idle 120
drive click 1103
drive dialog "Vantrel" 30 >/dev/null
drive press "Vantrel" 6
message=$(drive dialog "Vantrel" 30)
log "$message"
check "Yes where retrim is not available: the message" \
  test "$(tail -1 <<<"$message")" = "Retrim is not available on this version of Windows."
shot retrim-06-not-available
drive press "Vantrel" 1
sleep 3
check "and nothing else: no completion dialog" bash -c '! "$0" "$1" dialog "Defrag Drive" 3 >/dev/null 2>&1' "$wine" "$driver"
drive close
sleep 3
"$server" -w

check "V: passes its checker" fs_check "$img_v"
check "W: passes its checker" fs_check "$img_w"
check "every file of V: reads back unchanged" cmp -s "$work/v.before" <(sums "$img_v")
check "every file of W: reads back unchanged" cmp -s "$work/w.before" <(sums "$img_w")
log "$failures failure(s)"
[ "$failures" = 0 ]
