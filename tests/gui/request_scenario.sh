#!/usr/bin/env bash
# Requests handed to Vantrel.exe under Wine on an X virtual frame buffer, over
# an NTFS volume made by mkntfs and ntfs-3g:
#  - an Explorer request (the extension's "Defrag" on two files and a folder)
#    starts the program, which defragments exactly what it names;
#  - a request as one quoted argument ("/analyze FILE"), handed to the running
#    copy, lists exactly its files and moves nothing;
#  - "Move file anyway?" for files that are not fragmented: "Skip file" with
#    the box ticked, "Defrag file" with it clear (the first answer holds for
#    the batch either way), "Cancel" (the batch stops);
#  - the program killed while it waits between operations: the volume as a
#    close would leave it (ntfsfix -n, ntfsresize -i, checksums);
#  - a fresh start with the one-argument form, then a hand-off of the
#    two-argument form, each listing exactly its files.
# Judged by ntfsfix -n, every file's checksum and ntfsinfo's run lists.
#
# usage: request_scenario.sh BUILD_DIR OUTDIR
#   BUILD_DIR  a mingw-x86_64 build; OUTDIR receives screenshots and transcript
# Needs root (ntfs-3g mounts); exit 77 when a tool is missing.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:?usage: request_scenario.sh BUILD_DIR OUTDIR}
out=${2:?}
name=request_scenario
needs="xdotool ntfs-3g ntfsinfo ntfsfix ntfsresize mkntfs python3"
[ "$(id -u)" = 0 ] || { echo "$name: the NTFS image needs root" >&2; exit 77; }
. "$here/scenario_lib.sh"
prog=$work/prog
mkdir -p "$prog"
for f in program/Vantrel.exe program/VantrelShell.dll tools/gui_driver/vt-gui-driver.exe \
         tests/gui/vt-shell-invoke.exe; do
  cp "$build/$f" "$prog/" || { echo "$name: $f is missing" >&2; exit 77; }
done
driver=$prog/vt-gui-driver.exe

# --- the volume --------------------------------------------------------------
img=$work/request.img
bash "$here/../tools/make_request_ntfs_image.sh" "$img" >"$work/image.log" 2>&1
rc=$?
[ $rc = 77 ] && exit 77
[ $rc = 0 ] || { cat "$work/image.log" >&2; exit 1; }
# Whole files for the question, each written at once (contiguous).
mnt=$work/mnt
mkdir -p "$mnt"
ntfs-3g "$img" "$mnt" || exit 1
for f in "skip one.bin" "skip two.bin" "move one.bin" "move two.bin" "aaa cancel.bin"; do
  head -c 20000 /dev/urandom >"$mnt/$f"
done
umount "$mnt"
sums "$img" >"$work/before"
runs() {  # runs PATH: the $DATA run list as ntfsinfo reads it
  ntfsinfo -v -F "/$1" "$img" 2>/dev/null | sed -n '/Dumping attribute \$DATA/,/Total runs/p' |
    sed -n '/Runlist:/,$p'
}
frags() { runs "$1" | sed -n 's/.*fragments: \([0-9]*\).*/\1/p'; }
named=("Café crème.bin" "Ελληνικά/Αρχείο δεδομένων.dat" "Документы/отчёт.txt"
       "Документы/日本語のファイル.bin" "Документы/子フォルダ/深い.bin")
whole=("skip one.bin" "skip two.bin" "move one.bin" "move two.bin" "aaa cancel.bin"
       "Документы/малый.txt")
for f in "${named[@]}" "Other fragmented.bin" "${whole[@]}"; do runs "$f" >"$work/runs-${f//\//_}"; done
for f in "${named[@]}" "Other fragmented.bin"; do
  check "before: $f is fragmented ($(frags "$f"))" test "$(frags "$f")" -gt 1
done

# --- the program -------------------------------------------------------------
init_prefix
export VANTREL_VOLUMES="V=$(winpath "$img")"
export VT_DESKTOP=Vantrel
in_desktop() { "$wine" explorer /desktop=$VT_DESKTOP,1280x900 "$@"; }
"$wine" regsvr32 /s "$(winpath "$prog/VantrelShell.dll")" >/dev/null 2>&1
temp=$("$wine" cmd /c echo %TEMP% 2>/dev/null | tr -d '\r')
temp_unix=$("$wine" winepath -u "$temp" 2>/dev/null | tr -d '\r')
request() {  # request FILE PATH...: a request file as the extension writes it
  local file=$1; shift
  { printf 'Vantrel\r\n'; for p in "$@"; do printf 'V:\\%s\r\n' "${p//\//\\}"; done; } >"$file"
}
row_of() { grep -n -F "	$1	" <<<"$rows" | head -1 | cut -d: -f1 | awk '{print $1 - 1}'; }
listed() { cut -f2 <<<"$rows" | sort | tr '\n' ';'; }
expect_list() { printf '%s\n' "$@" | sort | tr '\n' ';'; }
cell() { grep -F "	$1	" <<<"$rows" | cut -f4; }
settle() {  # settle SECONDS: the request handled, its list in $rows
  sleep "$1"
  drive wait-idle 240
  sleep 2
  rows=$(drive files)
  log "$rows"
}

log "# an Explorer request starts the program"
in_desktop "$prog/vt-shell-invoke.exe" defrag 'V:\Café crème.bin' \
  'V:\Ελληνικά\Αρχείο δεδομένων.dat' 'V:\Документы' >/dev/null 2>&1 &
title=$(drive wait-main 120)
check "the main window opens ($title)" test -n "$title"
settle 5
check "it shows the Fragmented Files tab" test "$(drive tab)" = 1
check "the list holds exactly the named files, the folder's among them" test "$(listed)" = \
  "$(expect_list "Café crème.bin" "Αρχείο δεδομένων.dat" "отчёт.txt" "日本語のファイル.bin" \
      "深い.bin" "малый.txt")"
for f in "${named[@]}"; do
  f=${f##*/}
  check "the list shows $f defragmented" test "$(cell "$f")" = "not fragmented"
done
check "the title names the volume" test "$(drive title)" = 'Vantrel - V:\'
check "the extension's request file is deleted" \
  bash -c "! ls '$temp_unix' | grep -qi '^van.*\.tmp\$'"
shot 01-explorer-request

log "# a request in one quoted argument, handed to the running copy"
request "$work/two.txt" "skip one.bin" "skip two.bin" "move one.bin" "move two.bin" \
  "aaa cancel.bin" "Other fragmented.bin"
in_desktop "$prog/Vantrel.exe" "/analyze $(winpath "$work/two.txt")" >/dev/null 2>&1
settle 4
check "it lists exactly its six files" test "$(listed)" = \
  "$(expect_list "skip one.bin" "skip two.bin" "move one.bin" "move two.bin" "aaa cancel.bin" \
      "Other fragmented.bin")"
check "its request file is deleted" test ! -e "$work/two.txt"
check "the count line counts one of six" \
  test "$(drive text 1200)" = "Total fragmented files: 1 out of 6"
shot 02-quoted-request

# One batch: select the rows, Defrag File, the question.
ask() {  # ask NAME...: sets message
  local sel="" n
  rows=$(drive files)
  for n in "$@"; do sel="$sel${sel:+,}$(row_of "$n")"; done
  drive file-select "$sel"
  drive click 1202
  message=$(drive dialog "Vantrel" 30)
  log "$message"
}
no_second_question() { sleep 3; ! drive dialog "Vantrel" 2 >/dev/null 2>&1; }

log "# \"Skip file\" with the box ticked"
ask "skip one.bin" "skip two.bin"
check "the question names the first file" test "$message" = \
  "$(printf 'Vantrel\nskip one.bin does not need to be defragmented.\nMove file anyway?')"
shot 03-prompt-dialog
drive press "Vantrel" 2114
sleep 1
check "the check box ticks" test "$(drive dialog-checked Vantrel 2114)" = 1
shot 04-prompt-dialog-ticked
drive press "Vantrel" 7
check "no second question in the batch" no_second_question
drive wait-idle 60

log "# \"Defrag file\" with the box clear"
ask "move one.bin" "move two.bin"
check "the check box starts clear" test "$(drive dialog-checked Vantrel 2114)" = 0
drive press "Vantrel" 6
check "the answer holds for the second file" no_second_question
drive wait-idle 60

log "# \"Cancel\""
point=$(drive header-point 0)
xdotool mousemove $point click 1
sleep 2
ask "aaa cancel.bin" "Other fragmented.bin"
drive press "Vantrel" 2
check "no question after Cancel" no_second_question
settle 0
check "the file after Cancel stays fragmented" test "$(cell "Other fragmented.bin")" != "not fragmented"
# The keys work in the list after a click, and its selection shows as such.
point=$(drive file-point 2)
xdotool mousemove $point click 1
sleep 1
xdotool key Down
sleep 1
rows=$(drive files)
check "after a click on the third row, Down selects the fourth" \
  test "$(grep -n '^\[\*\]' <<<"$rows" | cut -d: -f1 | tr '\n' ' ')" = "4 "
shot 05-file-page

log "# the options sheet after a task that could not be made"
# The program folder holds no task library here: creating the task fails.
drive click 1105
check "Options opens the sheet" drive sheet-wait 20
drive sheet-page 2
sleep 1
drive sheet-check 2160 1
check "no day ticked: the day list shows none, not \"Sunday\"" \
  test -z "$(drive sheet-text 2149 | head -1)"
drive sheet-mark 2149 1 1
drive sheet-mark 2150 0 1
drive sheet-press 1
message=$(drive msgbox 20)
log "message: $message"
shot 06-task-not-made
drive msgbox-press 1
sleep 2
check "after the message the sheet is still open" drive sheet-wait 2
check "and the main window still waits for it" test "$(drive enabled)" = 0
drive sheet-press 2
check "Cancel closes the sheet" drive sheet-gone 20
check "the main window takes input again" test "$(drive enabled)" = 1
drive click 1105
drive sheet-wait 20
drive sheet-page 2
sleep 1
check "reopened, the switch of the task not made is off" \
  bash -c '[[ "$0" != *checked* ]]' "$(drive sheet-text 2160)"
drive sheet-press 2
drive sheet-gone 20

log "# killed while it waits between operations: nothing held"
# Its batches have ended and the program waits for input. A SIGKILL now must
# leave the volume as closing the program would: no dirty mark, no cluster
# marked that no file owns, no intent record, before any later open could
# mend one.
drive wait-idle 60
program_pid() {  # the Wine process of Vantrel.exe itself ("Z:\...\Vantrel /defrag ...")
  local p
  for p in /proc/[0-9]*; do
    tr '\0' ' ' <"$p/cmdline" 2>/dev/null | grep -Eq '^[^ ]*[\/]Vantrel(\.exe)?( |$)' &&
      { echo "${p#/proc/}"; return; }
  done
}
pid=$(program_pid)
check "the program's process is found" test -n "$pid"
[ -n "$pid" ] && kill -KILL "$pid"
sleep 2
"$server" -k
"$server" -w
check "killed between operations: the volume passes ntfsfix -n" fs_check "$img"
check "killed between operations: ntfsresize -i finds every marked cluster owned" \
  bash -c 'ntfsresize -i -f "$0" >/dev/null 2>&1' "$img"
check "killed between operations: no intent record beside the image" test ! -e "$img.vantrel-moves"
check "killed between operations: every file reads back unchanged" cmp -s "$work/before" <(sums "$img")

log "# a fresh start with one quoted argument, then a two-argument hand-off"
request "$work/three.txt" "Café crème.bin" "Документы/子フォルダ"
request "$work/four.txt" "Other fragmented.bin"
in_desktop "$prog/Vantrel.exe" "/analyze $(winpath "$work/three.txt")" >/dev/null 2>&1 &
title=$(drive wait-main 90)
check "the main window opens again ($title)" test -n "$title"
settle 5
check "the start-up request lists exactly its files" test "$(listed)" = \
  "$(expect_list "Café crème.bin" "深い.bin")"
check "the start-up request shows Fragmented Files" test "$(drive tab)" = 1
check "its request file is deleted" test ! -e "$work/three.txt"
in_desktop "$prog/Vantrel.exe" /analyze "$(winpath "$work/four.txt")" >/dev/null 2>&1
settle 4
check "the handed-off request lists exactly its file" test "$(listed)" = \
  "$(expect_list "Other fragmented.bin")"
check "its request file is deleted" test ! -e "$work/four.txt"
drive close
sleep 3
"$server" -w

# --- the judges --------------------------------------------------------------
log "# the volume"
check "the volume passes ntfsfix -n" fs_check "$img"
check "every file reads back unchanged" cmp -s "$work/before" <(sums "$img")
for f in "${named[@]}"; do
  check "ntfsinfo: $f is in one piece" test "$(frags "$f")" = 1
done
unchanged() { cmp -s "$work/runs-${1//\//_}" <(runs "$1"); }
for f in "Other fragmented.bin" "skip one.bin" "skip two.bin" "aaa cancel.bin" \
         "Документы/малый.txt"; do
  check "ntfsinfo: $f did not move" unchanged "$f"
done
moved() { ! unchanged "$1" && [ "$(frags "$1")" = 1 ]; }
for f in "move one.bin" "move two.bin"; do
  check "ntfsinfo: $f moved and is in one piece" moved "$f"
done

log "$failures failure(s)"
[ "$failures" = 0 ]
