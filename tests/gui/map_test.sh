#!/usr/bin/env bash
# The CTest entry of the map scenario: a FAT16 volume made by mkfs.fat and
# mtools with fragmented files (one named in Cyrillic), then map_scenario.sh.
# usage: map_test.sh BUILD_DIR SHOTS_DIR
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:?usage: map_test.sh BUILD_DIR SHOTS_DIR}
shots=${2:?}
PATH=$PATH:/usr/sbin:/sbin
for tool in mkfs.fat mcopy mdel; do
  command -v "$tool" >/dev/null || { echo "map_test: $tool is missing" >&2; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export MTOOLS_SKIP_CHECK=1 LC_ALL=C.UTF-8
img=$work/map.img
mkfs.fat -C -F 16 -s 1 -n MAPTEST "$img" 8192 >/dev/null || exit 1
gen() { head -c "$2" /dev/urandom >"$1"; }
put() { gen "$work/src" "$1"; mcopy -i "$img" "$work/src" "::$2" || exit 1; }
# One-cluster fillers, every other one deleted: the files written next
# must take the holes.
mmd -i "$img" ::Fill
for i in $(seq -w 0 399); do put 512 "Fill/f$i.bin"; done
# Contiguous files first, behind the fillers.
put 3000 "Epsilon whole.txt"
mmd -i "$img" ::Docs
put 70000 "Docs/Notes.txt"
for i in $(seq -w 1 2 399); do mdel -i "$img" "::Fill/f$i.bin"; done
put 20000 "Alpha fragmented.bin"
put 8000 "Beta fragmented.bin"
put 9000 "Gamma fragmented.bin"
put 10000 "Данные.bin"
fsck.fat -n "$img" >/dev/null || { echo "map_test: fsck.fat rejects the image" >&2; exit 1; }
rm -rf "$shots"
bash "$here/map_scenario.sh" "$build" "$shots" "$img"
