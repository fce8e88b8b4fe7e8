#!/usr/bin/env bash
# The CTest entry of the options and scheduled-run scenario: a FAT16 volume
# with many fragmented files (so that a cancel arrives while it is being
# defragmented) and the FAT32 test image, then options_scenario.sh.
# usage: options_test.sh BUILD_DIR SHOTS_DIR
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:?usage: options_test.sh BUILD_DIR SHOTS_DIR}
shots=${2:?}
PATH=$PATH:/usr/sbin:/sbin
for tool in mkfs.fat mcopy mdel; do
  command -v "$tool" >/dev/null || { echo "options_test: $tool is missing" >&2; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
bash "$here/../tools/make_fat_images.sh" "$work" >/dev/null
rc=$?
[ $rc = 0 ] || exit $rc
# Many fragmented files (about 1,600 fragments).
img=$work/many.img
bash "$here/../tools/make_gap_image.sh" "$img" 32768 3200 16 50 || exit $?
rm -rf "$shots"
bash "$here/options_scenario.sh" "$build" "$shots" "$img" "$work/fat32.img"
