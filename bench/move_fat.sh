#!/usr/bin/env bash
# Move throughput on FAT32: vantrel-cli defrag-file on a 100 MB file in 500
# fragments, beside dd copying the same number of bytes within the same
# image file. Prints bytes moved per second, dd's figures and the ratios.
#   bench/move_fat.sh [BUILD_DIR] [RUNS]
# Every move is made durable before the next (two flushes a move), so dd is
# also shown with one flush at the end and with a flush after each
# fragment-sized block. The images are fully allocated files, as a disk or
# a preallocated image is: writing into the holes of a sparse file makes
# each flush several times dearer.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/native}
runs=${2:-3}
cli=$build/cli/vantrel-cli
[ -x "$cli" ] || { echo "build vantrel-cli first (cmake --build --preset native)"; exit 2; }
export MTOOLS_SKIP_CHECK=1 LC_ALL=C.UTF-8 PATH=$PATH:/usr/sbin:/sbin
for tool in mkfs.fat mcopy mdel dd python3; do
  command -v "$tool" >/dev/null || { echo "move_fat: $tool is missing"; exit 2; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/vt-move-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
img=$work/pristine.img
fragments=500
fragment_kib=200  # 100 MB in all
clear_hint() {  # mtools follows FSInfo's next-free hint; from the start it fills gaps
  printf '\xff\xff\xff\xff' | dd of="$img" bs=1 seek=$((512 + 0x1EC)) conv=notrunc status=none
}
mkfs.fat -C -F 32 -s 8 -n MOVEBENCH "$img" $((512 * 1024)) >/dev/null
# Fillers twice the fragment count, every other one deleted: 500 gaps of
# one fragment each, which the big file then fills in order.
mkdir "$work/fill"
head -c $((fragment_kib * 1024)) /dev/urandom >"$work/fill/proto"
names=()
for i in $(seq -w 1 $((2 * fragments))); do
  cp "$work/fill/proto" "$work/fill/f$i.bin"
  names+=("$work/fill/f$i.bin")
done
mmd -i "$img" ::/fill
clear_hint
mcopy -i "$img" "${names[@]}" ::/fill/
odd=()
for i in $(seq -w 1 2 $((2 * fragments))); do odd+=("::/fill/f$i.bin"); done
mdel -i "$img" "${odd[@]}"
rm -rf "$work/fill"
head -c $((fragments * fragment_kib * 1024)) /dev/urandom >"$work/big.bin"
clear_hint
mcopy -i "$img" "$work/big.bin" ::/big.bin
rm -f "$work/big.bin"
before=$("$cli" files "$img" --all --json | python3 -c '
import json, sys
for f in json.load(sys.stdin)["files"]:
    if f["name"] == "big.bin": print(f["fragments"], f["clusters"])')
read -r frag_before clusters <<<"$before"
cluster_bytes=4096
bytes=$((clusters * cluster_bytes))
echo "image: FAT32, 512 MiB, 4 KiB clusters; big.bin: $((bytes / 1024 / 1024)) MiB in $frag_before fragments"

. "$(dirname "$0")/move_common.sh"
time_defrag_file "$cli" "$img" "$work" "$runs" big.bin
best_cli_ns=$best_ns
fsck.fat -n "$work/run.img" >/dev/null || { echo "move_fat: fsck.fat rejects the result"; exit 1; }
moved_bytes=$((moved * cluster_bytes))

# dd within one image file: the first MiBs of the data area to its free end.
dd_compare "$img" "$work" "$runs" "$moved_bytes" $((64 * 1024 * 1024)) $((400 * 1024 * 1024)) \
  $((fragment_kib * 1024)) "$best_cli_ns" "vantrel-cli defrag-file" \
  "$moved clusters moved in $frag_before moves"
