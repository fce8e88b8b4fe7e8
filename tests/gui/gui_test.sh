#!/usr/bin/env bash
# The CTest entry of the GUI scenario: a fresh FAT16 image made by mkfs.fat
# and mtools as V:, and as W: a fragmented NTFS image made by mkntfs and
# ntfs-3g (FAT32 where ntfs-3g cannot mount), then run_scenario.sh over them.
# usage: gui_test.sh BUILD_DIR SHOTS_DIR
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:?usage: gui_test.sh BUILD_DIR SHOTS_DIR}
shots=${2:?}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
bash "$here/../tools/make_fat_images.sh" "$work" >/dev/null
rc=$?
[ $rc = 0 ] || exit $rc
second=$work/fat32.img
if bash "$here/../tools/make_ntfs_images.sh" "$work/ntfs" >/dev/null 2>&1; then
  second=$work/ntfs/ntfs-frag.img
else
  echo "gui_test: no NTFS image here (needs root and ntfs-3g); W: is FAT32"
fi
# X: nearly full, for a pass that has to make room.
full=
if python3 "$here/../tools/make_full_fat.py" "$work/full.img" small >/dev/null; then
  full=$work/full.img
fi
rm -rf "$shots"
bash "$here/run_scenario.sh" "$build" "$shots" "$work/fat16.img" "$second" $full
