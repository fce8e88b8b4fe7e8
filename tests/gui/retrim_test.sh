#!/usr/bin/env bash
# The CTest entry of the retrim scenario: the FAT16 and FAT32 images that
# make_fat_images.sh makes with mkfs.fat and mtools as V: and W:.
# usage: retrim_test.sh BUILD_DIR SHOTS_DIR
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:?usage: retrim_test.sh BUILD_DIR SHOTS_DIR}
shots=${2:?}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
bash "$here/../tools/make_fat_images.sh" "$work" >/dev/null
rc=$?
[ $rc = 0 ] || exit $rc
rm -rf "$shots"
bash "$here/retrim_scenario.sh" "$build" "$shots" "$work/fat16.img" "$work/fat32.img"
