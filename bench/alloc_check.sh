#!/usr/bin/env bash
# What the allocation check before the first write costs, beside the
# analysis of the same image: a 300 MB FAT32 image of 5,000 files (mtools)
# and, as root, a 2 GiB NTFS image of 200,000 files (ntfs-3g mount). Prints
# the analysis (vantrel-cli analyze's own elapsed_ms, best of N) and the
# check (build/native/bench/alloc_check_bench, mount included, best of N).
# On the NTFS images (and the 200,000-file tree of bench/ntfs_tree_image.sh)
# it also counts the heap allocations of the NTFS reader's pass
# (build/native/bench/ntfs_scan_allocs) and fails unless the reader's own
# stay a few dozen in all, none per record.
#   bench/alloc_check.sh [BUILD_DIR] [RUNS] [NTFS_FILES]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/native}
runs=${2:-5}
count=${3:-200000}
cli=$build/cli/vantrel-cli
bench=$build/bench/alloc_check_bench
allocs=$build/bench/ntfs_scan_allocs
[ -x "$cli" ] && [ -x "$bench" ] && [ -x "$allocs" ] ||
  { echo "build vantrel-cli, alloc_check_bench and ntfs_scan_allocs first"; exit 2; }
export MTOOLS_SKIP_CHECK=1 LC_ALL=C.UTF-8
PATH=$PATH:/usr/sbin:/sbin

work=$(mktemp -d)
mnt=$work/mnt
cleanup() { mountpoint -q "$mnt" 2>/dev/null && umount "$mnt"; rm -rf "$work"; }
trap cleanup EXIT

analysis_ms() {  # best elapsed_ms of the analysis alone
  local best=999999999 ms
  for _ in $(seq 1 "$runs"); do
    ms=$("$cli" analyze "$1" --json | python3 -c 'import json,sys; print(json.load(sys.stdin)["elapsed_ms"])')
    [ "$ms" -lt "$best" ] && best=$ms
  done
  echo "$best"
}

check_ms() {  # best time of mount + check
  VT_CHECK_IMAGE=$1 "$bench" --benchmark_repetitions="$runs" --benchmark_format=json 2>/dev/null |
    python3 -c '
import json, sys
runs = [b for b in json.load(sys.stdin)["benchmarks"] if b.get("run_type") == "iteration"]
print("%.1f %d" % (min(b["real_time"] for b in runs), runs[0].get("lost_clusters", 0)))'
}

report() {  # report NAME IMAGE
  local files a c lost
  files=$("$cli" analyze "$2" --json | python3 -c 'import json,sys; d=json.load(sys.stdin); print(d["files"])')
  a=$(analysis_ms "$2")
  read -r c lost < <(check_ms "$2")
  echo "$1, $files files: analysis ${a} ms, allocation check ${c} ms" \
       "(check / analysis = $(python3 -c "print('%.2f' % ($c / max($a, 1)))"), lost clusters $lost)"
}

fat=$work/fat32.img
mkfs.fat -C -F 32 -n BENCH "$fat" $((300 * 1024)) >/dev/null
src=$work/src
for d in $(seq 1 10); do
  mkdir -p "$src/folder$d"
  for f in $(seq 1 500); do
    head -c $(( (f * 977 + d * 131) % 100000 + 1 )) /dev/zero > "$src/folder$d/file$f.dat"
  done
done
mcopy -s -i "$fat" "$src"/* ::/
rm -rf "$src"
report "FAT32 300 MB" "$fat"

if [ "$(id -u)" -ne 0 ]; then
  echo "NTFS: skipped (the image is made through an ntfs-3g mount, which needs root)"
  exit 0
fi
ntfs=$work/ntfs.img
. bench/ntfs_files_image.sh
make_ntfs_files "$ntfs" 2048 "$count" "$mnt"
report "NTFS 2 GiB" "$ntfs"
tree=$work/tree.img
. bench/ntfs_tree_image.sh
make_ntfs_tree "$tree" "$mnt"
report "NTFS 2 GiB tree" "$tree"
echo "heap allocations of the NTFS reader's pass:"
"$allocs" "$ntfs"
"$allocs" "$tree"
