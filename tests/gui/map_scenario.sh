#!/usr/bin/env bash
# Drives Vantrel.exe under Wine on an X virtual frame buffer through the
# cluster map, its strip and the fragmented-file page, then through
# Explorer's path (the registered VantrelShell.dll invoked on two files,
# one named in Cyrillic). Screenshots of the map are read back pixel by
# pixel against the same map drawn by vantrel-cli from the volume. Every
# file's checksum is taken before and compared after; fsck.fat judges the
# volume.
#
# usage: map_scenario.sh BUILD_DIR OUTDIR IMAGE
#   BUILD_DIR  a mingw-x86_64 build (Vantrel.exe, VantrelShell.dll,
#              vantrel-cli.exe, vt-gui-driver.exe, vt-shell-invoke.exe)
#   IMAGE      a FAT image made by map_test.sh (its files are named below)
# The image is changed in place. Exit 77: the tools to run it are missing.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:?usage: map_scenario.sh BUILD_DIR OUTDIR IMAGE}
out=${2:?}
img=$(realpath "${3:?}")
name=map_scenario
needs="xdotool python3"
. "$here/scenario_lib.sh"
# The program and its extension side by side, as an installation has them.
prog=$work/prog
mkdir -p "$prog"
for f in program/Vantrel.exe program/VantrelShell.dll cli/vantrel-cli.exe \
         tools/gui_driver/vt-gui-driver.exe tests/gui/vt-shell-invoke.exe; do
  cp "$build/$f" "$prog/" || { echo "map_scenario: $f is missing" >&2; exit 77; }
done
driver=$prog/vt-gui-driver.exe
grab() { import -display "$DISPLAY" -window root "PNG24:$1"; }
px() { python3 "$here/png_pixels.py" "$@"; }
click() {  # click X Y [BUTTON]
  [ $# -ge 2 ] || { log "  (nothing to click)"; return 1; }
  xdotool mousemove "$1" "$2" click "${3:-1}"; sleep 1
}
# The open popup menu's text lines, as "Y enabled" or "Y grey", read from
# the screen (its items live in the program's process).
read_menu() {  # sets items, menu_x
  items=""
  menu_x=0
  sleep 1
  read -r menu_x menu_y menu_w menu_h <<<"$(drive menu-rect)"
  [ -n "${menu_h:-}" ] || return 0
  grab "$work/menu.png"
  items=$(px menu-items "$work/menu.png" "$menu_x" "$menu_y" "$menu_w" "$menu_h")
}
item_state() { sed -n "$1p" <<<"$items" | cut -d' ' -f2; }
item_click() { click $((menu_x + 40)) "$(sed -n "$1p" <<<"$items" | cut -d' ' -f1)"; }

sums "$img" >"$work/before"

# The map as vantrel-cli draws it from the volume, for the view the window
# shows now; the window's pixels must be the same, pixel for pixel.
compare_map() {  # compare_map NAME
  local name=$1 rect x y w h s first extra=() result
  rect=$(drive map-rect); read -r x y w h <<<"$rect"
  s=$(drive text 2102 | tr -dc '0-9')
  first=$(drive text 1080)
  [ "$(drive checked 2101)" = 0 ] && extra=(--uncompressed --first-cluster "$first")
  grab "$work/$name.png"
  "$wine" "$prog/vantrel-cli.exe" map "$(winpath "$img")" --png "$(winpath "$work/$name-cli.png")" \
    --width "$w" --height "$h" --block-size "$s" "${extra[@]}" >/dev/null 2>&1
  result=$(px compare "$work/$name.png" "$x" "$y" "$work/$name-cli.png" 0 26 "$w" "$h")
  log "  $name: block size $s, ${w}x$h, first $first, differing pixels: $result"
  [ "${result%% *}" = 0 ]
}

init_prefix

export VANTREL_VOLUMES="V=$(winpath "$img")"
export VT_DESKTOP=Vantrel
"$wine" explorer /desktop=$VT_DESKTOP,1280x900 "$prog/Vantrel.exe" >/dev/null 2>&1 &
check "the main window opens" test "$(drive wait-main 90)" = "Vantrel"
sleep 2
drive resize 1100 800
sleep 1

# --- the map -----------------------------------------------------------------
log "# the map"
point=$(VT_CLICK_OUTSIDE=1 drive check 0)
click $point
sleep 1
drive wait-idle 120
check "checking V: analyses it" test "$(drive text 1091)" = "Analysis complete."
sleep 2
check "after the analysis the map is in the compressed view" test "$(drive checked 2101)" = 1
check "the compressed map agrees with the map model" compare_map compressed
rect=$(drive map-rect); read -r mx my mw mh <<<"$rect"
srect=$(drive strip-rect); read -r sx sy sw sh <<<"$srect"
check "no marker on the strip in the compressed view" \
  test "$(px count "$work/compressed.png" "$sx" "$sy" "$sw" "$sh" 238 238 0)" = 0
shot 01-map-compressed

# A click in the compressed view: the uncompressed view with the clicked
# cluster on the top row.
s=7
per_block=$(drive text 2111 | sed -n 's/.*1 Block = \([0-9]*\) Clusters.*/\1/p')
cx=$((mx + 20 * s + 3)); cy=$((my + 10 * s + 3))
clicked=$(( (10 * (mw / s) + 20) * per_block ))
click $cx $cy
sleep 1
first=$(drive text 1080)
per_row=$((mw / s))
log "  clicked cluster $clicked (block $per_block clusters), top row starts at $first"
check "a click switches to the uncompressed view" test "$(drive checked 2101)" = 0
check "the clicked cluster is on the top row" \
  bash -c "[ $first -le $clicked ] && [ $clicked -lt $((first + per_row)) ]"
check "the uncompressed map agrees with the map model" compare_map uncompressed
# The strip marks the visible range: a two-pixel yellow frame.
check "the strip marks the visible range" \
  bash -c "[ \$(python3 '$here/png_pixels.py' count '$work/uncompressed.png' $sx $sy $sw $sh 238 238 0) -gt 0 ]"
shot 02-map-uncompressed

log "# block sizes"
for n in 1 2 3 4 5 6 7 8 9 10; do
  drive block $n
  sleep 1
  check "block size $n draws as the model says" compare_map "block-$n"
done
drive block 7
sleep 1

# The pointer over a fragmented file's cluster names the cluster and file.
log "# pointer, menu and Defrag file"
"$wine" "$prog/vantrel-cli.exe" map "$(winpath "$img")" --bytes "$(winpath "$work/bytes")" >/dev/null 2>&1
first=$(drive text 1080)
rect=$(drive map-rect); read -r mx my mw mh <<<"$rect"
per_row=$((mw / 7))
target=$(python3 - "$work/bytes" "$first" "$((per_row * (mh / 7)))" <<'PY'
import sys
data = open(sys.argv[1], 'rb').read()
first, count = int(sys.argv[2]), int(sys.argv[3])
# The first cluster of a fragmented file in view whose next cluster is free
# space, and a free cluster.
frag = next((c for c in range(first, min(first + count, len(data) - 1)) if data[c] & 0x0F), -1)
free = next((c for c in range(first, min(first + count, len(data) - 1)) if data[c] == 0x20), -1)
print(frag, free)
PY
)
read -r frag free <<<"$target"
to_point() { echo $((mx + (($1 - first) % per_row) * 7 + 3)) $((my + (($1 - first) / per_row) * 7 + 3)); }
log "  fragmented cluster $frag, free cluster $free"
xdotool mousemove $(to_point "$frag"); sleep 1
xdotool mousemove_relative 1 0; sleep 1
pane=$(drive pane 1)
status=$(drive text 1091)
log "  pane 1: $pane; status: $status"
check "the pointer text names the cluster" test "$pane" = "cluster: $frag"
check "the pointer text names the owning file" bash -c '[[ "$0" == *"Alpha fragmented.bin"*"Fragments = "* ]]' "$status"

# A click selects the file and shows its balloon; dragged on with the
# button held, the balloon follows the pointer and the selection stays.
log "# click, drag and balloon"
block_pixel() {  # block_pixel SHOT CLUSTER: pixel (1, 1) of the cluster's block
  px pixel "$1" $((mx + (($2 - first) % per_row) * 7 + 1)) $((my + (($2 - first) / per_row) * 7 + 1))
}
xdotool mousemove $(to_point "$frag"); sleep 1
xdotool mousedown 1; sleep 1
balloon=$(drive balloon)
log "  balloon: $balloon"
check "a click shows the file's balloon" bash -c '[[ "$0" == *" Alpha fragmented.bin" ]]' "$balloon"
shot 03a-map-balloon
xdotool mousemove $(to_point "$free"); sleep 1
balloon=$(drive balloon)
log "  balloon after the drag: $balloon"
xdotool mouseup 1
check "dragged onto free space, the balloon names it" bash -c '[[ "$0" == *" Free" ]]' "$balloon"
# Read once the balloon has gone (10 seconds), so that it covers no block.
sleep 11
check "the balloon closes after 10 seconds" bash -c "! '$wine' '$driver' balloon >/dev/null 2>&1"
grab "$work/drag.png"
check "the drag keeps the file selected" test "$(block_pixel "$work/drag.png" "$frag")" = "180 180 20"
check "the drag does not select the free space" \
  test "$(block_pixel "$work/drag.png" "$free")" != "180 180 20"

# Menu 132, top to bottom: Defrag file, Block size, Compressed view, Jump to
# next fragment, Jump to previous fragment, Explore, Properties.
click $(to_point "$frag") 3
read_menu
log "$items"
shot 03-context-menu
check "the file's menu has its seven lines" test "$(grep -c . <<<"$items")" = 7
check "on a file: Defrag file, Explore and Properties enabled" \
  test "$(item_state 1)$(item_state 6)$(item_state 7)" = enabledenabledenabled
check "on the file's first fragment: next enabled, previous grey" \
  test "$(item_state 4)$(item_state 5)" = enabledgrey
item_click 4
check "Jump to next fragment to a cluster on the top row does not scroll" \
  test "$(drive text 1080)" = "$first"
click $(to_point "$free") 3
read_menu
log "$items"
check "on free space: Defrag file, both jumps, Explore and Properties grey" \
  test "$(item_state 1)$(item_state 4)$(item_state 5)$(item_state 6)$(item_state 7)" = greygreygreygreygrey
xdotool key Escape; sleep 1

# The file page first, so that "Defrag file" in the map has a row to update.
click $(drive tab-point 1)
sleep 3
files=$(drive files)
log "$files"
check "the file page lists the fragmented files" \
  bash -c '[[ "$0" == *"Alpha fragmented.bin"* && "$0" == *"Beta fragmented.bin"* && "$0" != *"Epsilon whole.txt"* ]]' "$files"
alpha_before=$(grep "Alpha fragmented.bin" <<<"$files" | cut -f4)

click $(to_point "$frag") 3
read_menu
item_click 1
sleep 2
drive wait-idle 120
sleep 2
check "Defrag file ends with \"Finished\"" test "$(drive text 1091)" = "Finished"
grab "$work/defragged.png"
rect=$(drive map-rect); read -r mx my mw mh <<<"$rect"
defragged=$(px blocks "$work/defragged.png" "$mx" "$my" "$mw" "$mh" 7 20 180 20)
log "  blocks shown Defragged: $defragged"
check "the map shows the moved clusters as Defragged" test "$defragged" -gt 0
shot 04-map-defragged
files=$(drive files)
check "the file page's row follows: Alpha no longer fragmented (was $alpha_before)" \
  bash -c '[[ "$(grep "Alpha fragmented.bin" <<<"$0" | cut -f4)" == "not fragmented" ]]' "$files"

# Page Down scrolls by a page and names the cluster now under the pointer;
# a resize keeps the cluster at the top on the top row.
log "# Page Down and a resize"
rect=$(drive map-rect); read -r mx my mw mh <<<"$rect"
per_row=$((mw / 7))
click $((mx + 5 * 7 + 3)) $((my + 2 * 7 + 3))
xdotool key Home; sleep 1
xdotool key Next; sleep 1
top=$(drive text 1080)
pane=$(drive pane 1)
log "  after Page Down: top row starts at $top; pane 1: $pane"
check "Page Down scrolls the map" test "$top" -gt 0
check "Page Down names the cluster under the pointer" test "$pane" = "cluster: $((top + 2 * per_row + 5))"
drive resize 1160 800; sleep 2
rect=$(drive map-rect); read -r mx my mw mh <<<"$rect"
new_top=$(drive text 1080)
log "  after the resize: ${mw}px wide, $((mw / 7)) clusters a row, top row starts at $new_top"
check "a resize keeps cluster $top on the top row" \
  bash -c "[ $new_top -le $top ] && [ $top -lt $((new_top + mw / 7)) ]"
drive resize 1100 800; sleep 2

# --- the file page -----------------------------------------------------------
log "# the file page"
for col in 0 1 2 3 4 5 6; do
  click $(drive header-point $col)
  rows=$(drive files)
  n=$(grep -c . <<<"$rows")
  case $col in
    0) sorted=$(cut -f2 <<<"$rows" | LC_ALL=C sort -f -c 2>&1 && echo yes) ;;
    2|3) sorted=$( (cut -f$((col + 2)) <<<"$rows" | tr -d ',' | sed 's/not fragmented/1/' |
                    awk '{print $1}' | sort -n -c) 2>&1 && echo yes) ;;
    *) sorted=yes ;;
  esac
  check "sorting by column $col keeps the $n rows and orders them" \
    bash -c "[ '$sorted' = yes ] && [ $n -ge 3 ]"
done
drive set-text 1206 b; drive set-text 1206 be; drive set-text 1206 bet
sleep 3
rows=$(drive files)
log "$rows"
check "the filter's final text wins" \
  bash -c '[ -n "$0" ] && ! grep -vi bet <<<"$0" >/dev/null' "$rows"
drive set-text 1206 ""
sleep 3
# Typing in the Filter while the pointer crosses the map: every key goes to
# the Filter.
rect=$(drive map-rect); read -r mx my mw mh <<<"$rect"
read -r ex ey ew eh <<<"$(drive ctl-rect 1206)"
click $((ex + ew / 2)) $((ey + eh / 2))
for ch in h a l f; do
  xdotool type "$ch"
  for step in 1 2 3; do xdotool mousemove $((mx + step * mw / 4)) $((my + step * mh / 4)); sleep 0.3; done
done
sleep 2
typed=$(drive text 1206)
log "  the Filter reads \"$typed\"; the focus: $(drive focus)"
check "typing in the Filter with the pointer over the map keeps every character" test "$typed" = half
drive set-text 1206 ""
sleep 3
shot 05-file-page
# Both placements, each on its own selection.
rows=$(drive files)
beta=$(grep -n "Beta fragmented.bin" <<<"$rows" | cut -d: -f1)
drive file-select $((beta - 1))
sleep 1
drive click 1202
sleep 2; drive wait-idle 120
rows=$(drive files)
check "Defrag File (best fit) defragments Beta" \
  bash -c '[[ "$(grep "Beta fragmented.bin" <<<"$0" | cut -f4)" == "not fragmented" ]]' "$rows"
# The drop-down part of "Defrag File" (enabled with a selection) offers the
# placements; the choice is stored in the settings file, which vantrel-cli
# reads as well.
gamma=$(grep -n "Gamma fragmented.bin" <<<"$rows" | cut -d: -f1)
drive file-select $((gamma - 1))
sleep 1
read -r bx by bw bh <<<"$(drive ctl-rect 1202)"
click $((bx + bw - 5)) $((by + bh / 2))
read_menu
log "$items"
shot 05b-placement-menu
check "the drop-down offers the two placements" test "$(grep -c . <<<"$items")" = 2
item_click 2
placement=$("$wine" "$prog/vantrel-cli.exe" settings get DefragFileMode 2>/dev/null | tr -d '\r')
check "choosing \"Move to outer\" stores placement 1 ($placement)" test "$placement" = 1
drive click 1202
sleep 2; drive wait-idle 120
rows=$(drive files)
check "Defrag File (move to outer) defragments Gamma" \
  bash -c '[[ "$(grep "Gamma fragmented.bin" <<<"$0" | cut -f4)" == "not fragmented" ]]' "$rows"
log "$rows"

# --- the Report page ---------------------------------------------------------
log "# the Report page"
appdata=$("$wine" cmd /c echo %APPDATA% 2>/dev/null | tr -d '\r')
logs=$("$wine" winepath -u "$appdata\\Norvane Utilities\\Vantrel" 2>/dev/null | tr -d '\r')
mkdir -p "$logs"
printf '{\\rtf1\\ansi An older log\\par\r\n}\r\n' >"$logs/2009-03-01.rtf"
click $(drive tab-point 2)
sleep 3
shot 08-report-page
read -r rx ry rw rh <<<"$(drive ctl-rect 2108)"
# The pane's menu: both commands.
click $((rx + rw / 2)) $((ry + rh / 2)) 3
read_menu
log "$items"
shot 08a-report-menu
check "the report pane's menu has its two lines, both enabled" \
  test "$(grep -c enabled <<<"$items")" = 2
xdotool key Escape; sleep 1
# The older log in the viewer: its menu opens, "Clear report" grey.
drive combo-select 2175 0
sleep 2
check "the older log opens in the viewer (the button reads \"Close log\")" \
  test "$(drive text 1002)" = "Close log"
read -r vx vy vw vh <<<"$(drive ctl-rect 9999)"
click $((vx + vw / 2)) $((vy + vh / 2)) 3
read_menu
log "$items"
shot 08b-log-viewer-menu
check "a right click in the log viewer opens the menu" test "$(grep -c . <<<"$items")" = 2
check "in the viewer \"Clear report\" is grey and \"Copy to clipboard\" enabled" \
  test "$(item_state 1)$(item_state 2)" = greyenabled
xdotool key Escape; sleep 1
drive click 1002
sleep 1
check "Close log shows the pane again" test "$(drive text 1002)" = "View log"
click $(drive tab-point 1)
sleep 2

# --- Explorer's path ---------------------------------------------------------
log "# Explorer's path"
temp=$("$wine" cmd /c echo %TEMP% 2>/dev/null | tr -d '\r')
temp_unix=$("$wine" winepath -u "$temp" 2>/dev/null | tr -d '\r')
log "  temporary folder: $temp ($temp_unix)"
"$wine" regsvr32 /s "$(winpath "$prog/VantrelShell.dll")" >/dev/null 2>&1
# Inside the program's desktop, as Explorer would be: the started copy must
# find the running one to hand its request over.
in_desktop() { "$wine" explorer /desktop=$VT_DESKTOP,1280x900 "$@"; }
in_desktop "$prog/vt-shell-invoke.exe" defrag 'V:\Данные.bin' 'V:\Epsilon whole.txt' >/dev/null 2>&1
check "the extension is registered" \
  bash -c "'$wine' reg query 'HKCR\\CLSID\\{5A1C07E2-94B3-4F6D-A2C8-3E7D19B04F55}' >/dev/null 2>&1"
sleep 5
drive wait-idle 180
sleep 2
rows=$(drive files)
log "$rows"
check "the request analyses exactly its two files" \
  bash -c '[ "$(grep -c . <<<"$0")" = 2 ] && [[ "$0" == *"Данные.bin"* && "$0" == *"Epsilon whole.txt"* ]]' "$rows"
check "the Cyrillic-named file is defragmented" \
  bash -c '[[ "$(grep "Данные.bin" <<<"$0" | cut -f4)" == "not fragmented" ]]' "$rows"
# The extension names its request files "Van*.tmp" (GetTempFileName).
check "the request file is deleted" \
  bash -c "[ -d '$temp_unix' ] && ! ls '$temp_unix' | grep -qi '^van.*\.tmp\$'"
shot 06-explorer-request

# A request naming two volumes.
printf 'Vantrel\r\nV:\\a.txt\r\nW:\\b.txt\r\n' >"$temp_unix/two-volumes.txt"
in_desktop "$prog/Vantrel.exe" /defrag "$temp\\two-volumes.txt" >/dev/null 2>&1 &
message=$(drive dialog "Vantrel" 30)
log "$message"
check "two volumes are refused" \
  bash -c '[[ "$0" == *"You can only process files from one volume at a time."* ]]' "$message"
shot 07-two-volumes
drive press "Vantrel" 1
sleep 2
check "the refused request's file is deleted" test ! -e "$temp_unix/two-volumes.txt"

# A defrag request with nothing fragmented.
in_desktop "$prog/vt-shell-invoke.exe" defrag 'V:\Epsilon whole.txt' >/dev/null 2>&1
message=$(drive dialog "Vantrel" 60)
check "nothing fragmented: \"No files required defragmenting.\"" \
  bash -c '[[ "$0" == *"No files required defragmenting."* ]]' "$message"
drive press "Vantrel" 1
sleep 2

drive close
sleep 3
"$server" -w
check "V: passes fsck.fat" fsck.fat -n "$img"
check "every file reads back unchanged" cmp -s "$work/before" <(sums "$img")

# --- 144 DPI -----------------------------------------------------------------
# The owner-drawn strip scales with the window's DPI (block sizes stay in
# pixels): its frame's band above the image is 4 pixels at 96 DPI, 6 at 144.
log "# 144 DPI"
"$wine" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 144 /f >/dev/null 2>&1
"$server" -w
"$wine" explorer /desktop=$VT_DESKTOP,1280x900 "$prog/Vantrel.exe" >/dev/null 2>&1 &
check "the main window opens at 144 DPI" test "$(drive wait-main 90)" = "Vantrel"
sleep 2
drive resize 1260 880
sleep 1
if [[ "$(drive rows | head -1)" == "[x]"* ]]; then
  drive click 1102  # Analyze
else
  point=$(VT_CLICK_OUTSIDE=1 drive check 0)
  click $point
fi
sleep 1
drive wait-idle 120
sleep 2
srect=$(drive strip-rect); read -r sx sy sw sh <<<"$srect"
grab "$work/dpi.png"
band=$(px count "$work/dpi.png" $((sx + sw / 2)) "$sy" 1 10 0 0 221)
log "  strip ${sw}x$sh at ($sx, $sy); rows of the frame's band above the image: $band"
check "at 144 DPI the strip's band is 6 pixels" test "$band" = 6
shot 09-main-144dpi
drive close
sleep 3
"$server" -w
log "$failures failure(s)"
[ "$failures" = 0 ]
