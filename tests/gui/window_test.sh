#!/usr/bin/env bash
# The CTest entry of the window scenario: a FAT12 volume made by mkfs.fat
# and mtools whose free space is all one-cluster holes between files in a
# folder named in Cyrillic, with a fragmented file no hole can take.
# usage: window_test.sh BUILD_DIR SHOTS_DIR
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:?usage: window_test.sh BUILD_DIR SHOTS_DIR}
shots=${2:?}
PATH=$PATH:/usr/sbin:/sbin
for tool in mkfs.fat mcopy mdel mdir; do
  command -v "$tool" >/dev/null || { echo "window_test: $tool is missing" >&2; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export MTOOLS_SKIP_CHECK=1 LC_ALL=C.UTF-8
img=$work/holes.img
mkfs.fat -C -F 12 -s 4 -n HOLES "$img" 1024 >/dev/null || exit 1
folder="Папка"
mmd -i "$img" "::$folder"
# Two-kilobyte fillers (a cluster each) until the volume is full, ten at a
# time, then every other one goes.
mkdir -p "$work/fill"
for i in $(seq -w 0 599); do head -c 2048 /dev/urandom >"$work/fill/Файл$i.bin"; done
for b in $(seq -w 0 59); do
  mcopy -i "$img" "$work/fill/Файл$b"?.bin "::$folder/" >/dev/null 2>&1 || break
done
for i in $(seq -w 1 2 599); do echo "::$folder/Файл$i.bin"; done | xargs mdel -i "$img" 2>/dev/null
# Four clusters into the first four holes.
head -c 8192 /dev/urandom >"$work/big"
mcopy -i "$img" "$work/big" "::$folder/Большой.bin" || exit 1
rm -rf "$shots"
bash "$here/window_scenario.sh" "$build" "$shots" "$img"
