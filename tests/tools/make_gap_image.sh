#!/usr/bin/env bash
# A FAT16 volume of many fragmented files, so that a stop arrives while a
# drive is still being worked on: one-cluster fillers in ::fill, every other
# one deleted, then files of random bytes written into the gaps (::data).
# usage: make_gap_image.sh IMAGE KIB FILLERS FILES FILE_KIB
set -euo pipefail
img=${1:?usage: make_gap_image.sh IMAGE KIB FILLERS FILES FILE_KIB}
kib=${2:?} fillers=${3:?} files=${4:?} file_kib=${5:?}
export MTOOLS_SKIP_CHECK=1
PATH=$PATH:/usr/sbin:/sbin
src=$(mktemp -d)
trap 'rm -rf "$src"' EXIT
mkfs.fat -C -F 16 -s 1 -n MANY "$img" "$kib" >/dev/null
mkdir -p "$src/fill" "$src/data"
for i in $(seq 1 "$fillers"); do printf 'filler %-492s\n' "$i" >"$src/fill/f$i.bin"; done
for i in $(seq 1 "$files"); do head -c $((file_kib * 1024)) /dev/urandom >"$src/data/data$i.bin"; done
mmd -i "$img" ::fill ::data
mcopy -i "$img" "$src"/fill/*.bin ::fill/
mdel -i "$img" $(for i in $(seq 1 2 "$fillers"); do echo "::fill/f$i.bin"; done)
mcopy -i "$img" "$src"/data/*.bin ::data/
