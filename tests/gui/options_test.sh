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
# Many fragmented files: one-cluster fillers, every other one deleted, then
# sixteen files written into the gaps (about 1,600 fragments).
export MTOOLS_SKIP_CHECK=1
img=$work/many.img
mkfs.fat -C -F 16 -s 1 -n MANY "$img" 32768 >/dev/null
mkdir -p "$work/fill" "$work/big"
for i in $(seq 1 3200); do printf 'filler %-492s\n' "$i" >"$work/fill/f$i.bin"; done
for i in $(seq 1 16); do head -c $((50 * 1024)) /dev/urandom >"$work/big/data$i.bin"; done
mmd -i "$img" ::fill ::data
mcopy -i "$img" "$work"/fill/*.bin ::fill/
mdel -i "$img" $(for i in $(seq 1 2 3200); do echo "::fill/f$i.bin"; done)
mcopy -i "$img" "$work"/big/*.bin ::data/
rm -rf "$shots"
bash "$here/options_scenario.sh" "$build" "$shots" "$img" "$work/fat32.img"
