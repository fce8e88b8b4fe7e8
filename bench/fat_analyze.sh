#!/usr/bin/env bash
# Analysis speed on a FAT32 image with about 20,000 files, beside the
# independent tools reading the same image: fsck.fat -n and a recursive mdir.
# Prints the times (best of N runs, warm cache) and the ratios.
#   bench/fat_analyze.sh [BUILD_DIR] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/native}
runs=${2:-5}
cli=$build/cli/vantrel-cli
[ -x "$cli" ] || { echo "build vantrel-cli first (cmake --build --preset native)"; exit 2; }
export MTOOLS_SKIP_CHECK=1 LC_ALL=C.UTF-8

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
img=$work/bench32.img
mkfs.fat -C -F 32 -n BENCH "$img" $((512 * 1024)) >/dev/null
src=$work/src
mkdir -p "$src"
for d in $(seq 1 40); do
  mkdir -p "$src/folder$d"
  for f in $(seq 1 500); do
    head -c $(( (f * 37 + d * 11) % 6000 + 1 )) /dev/zero > "$src/folder$d/file$f.dat"
  done
done
mcopy -s -i "$img" "$src"/* ::/
files=$("$cli" analyze "$img" --json | python3 -c 'import json,sys; d=json.load(sys.stdin); print(d["files"], d["folders"])')
echo "image: FAT32, 512 MiB, files and folders: $files"

best() {
  local best_ms=999999999
  for _ in $(seq 1 "$runs"); do
    local t0 t1 ms
    t0=$(date +%s%N)
    "$@" >/dev/null 2>&1 || true
    t1=$(date +%s%N)
    ms=$(( (t1 - t0) / 1000000 ))
    [ "$ms" -lt "$best_ms" ] && best_ms=$ms
  done
  echo "$best_ms"
}

cli_ms=$(best "$cli" analyze "$img")
fsck_ms=$(best fsck.fat -n "$img")
mdir_ms=$(best mdir -/ -a -i "$img" ::)
ratio() { python3 -c "print('%.2f' % ($1 / max($2, 1)))"; }
echo "vantrel-cli analyze: ${cli_ms} ms"
echo "fsck.fat -n:         ${fsck_ms} ms   (vantrel / fsck.fat = $(ratio "$cli_ms" "$fsck_ms"))"
echo "mdir -/ -a:          ${mdir_ms} ms   (vantrel / mdir = $(ratio "$cli_ms" "$mdir_ms"))"
