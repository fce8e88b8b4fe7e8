#!/usr/bin/env bash
# The analysis beside the file system's own tools, in one run, on three
# images made by independent tools:
#   NTFS, 2 GiB, FILES files (default 200,000) in folders of 1,000, made with
#     mkntfs and an ntfs-3g mount (root): vantrel-cli analyze / ntfscluster -i
#   NTFS, 2 GiB, 200,000 files shaped like a used system volume, mostly
#     inside their records, 2,500 folders up to 9 deep
#     (bench/ntfs_tree_image.sh): / ntfscluster -i
#   FAT32, 300 MB, 4,896 files in a 24-level tree (mcopy -s): / fsck.fat -n
#   FAT32, 80 MB, 12,197 files in the root and one folder: / fsck.fat -n
# Each pair runs alternately N times (warm cache); medians, their ratio and
# the goal are printed, with vantrel-cli's files per second and peak memory,
# and the per-file time and bytes per file for the NTFS volume.
#   bench/analysis_ratios.sh [BUILD_DIR] [RUNS] [FILES]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/native}
runs=${2:-9}
count=${3:-200000}
cli=$(realpath "$build/cli/vantrel-cli")
[ -x "$cli" ] || { echo "build vantrel-cli first (cmake --build --preset native)"; exit 2; }
PATH=$PATH:/usr/sbin:/sbin
export MTOOLS_SKIP_CHECK=1

work=$(mktemp -d)
mnt=$work/mnt
cleanup() { mountpoint -q "$mnt" 2>/dev/null && umount "$mnt"; rm -rf "$work"; }
trap cleanup EXIT

# --- NTFS
ntfs=$work/ntfs.img
size_mb=$((2048 > count / 150 ? 2048 : count / 150))
. bench/ntfs_files_image.sh
make_ntfs_files "$ntfs" "$size_mb" "$count" "$mnt"
tree=$work/tree.img
. bench/ntfs_tree_image.sh
make_ntfs_tree "$tree" "$mnt"

# --- FAT32, deep tree and flat
deep=$work/deep.img
flat=$work/flat.img
python3 - "$work" <<'PY'
import os, sys
work = sys.argv[1]
path = os.path.join(work, "deep", "top")
for level in range(24):
    path = os.path.join(path, "level%02d" % level)
    os.makedirs(path)
    for f in range(204):
        with open(os.path.join(path, "file%03d.dat" % f), "wb") as o:
            o.write(b"y" * (1000 + (f % 7) * 3000))
for name, n in (("root", 6000), ("one", 6197)):
    d = os.path.join(work, "flat", name)
    os.makedirs(d)
    for f in range(n):
        with open(os.path.join(d, "f%05d.txt" % f), "wb") as o:
            o.write(b"z" * (100 + f % 3000))
PY
mkfs.fat -C -F 32 "$deep" $((300 * 1024)) >/dev/null
mcopy -s -i "$deep" "$work/deep/top" ::
mkfs.fat -C -F 32 "$flat" $((80 * 1024)) >/dev/null
mcopy -i "$flat" "$work"/flat/root/* ::
mcopy -s -i "$flat" "$work/flat/one" ::

compare() {  # LABEL IMAGE GOAL TOOL...
  python3 - "$runs" "$cli" "$@" <<'PY'
import json, os, statistics, subprocess, sys
sys.path.insert(0, "bench")
from timed_run import timed
runs, cli, label, image, goal, tool = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4], float(sys.argv[5]), sys.argv[6:]
info = json.loads(subprocess.run([cli, "analyze", image, "--json"], capture_output=True).stdout)
items = info["files"] + info["folders"]
ours, theirs, peak = [], [], 0
for _ in range(runs):
    t, rss = timed([cli, "analyze", image]); ours.append(t); peak = max(peak, rss)
    theirs.append(timed(tool + [image])[0])
a, b = statistics.median(ours), statistics.median(theirs)
print("%s: %d files and folders" % (label, items))
print("  vantrel-cli analyze %7.3f s (%.0f files/s, %.2f us a file, peak %.1f MB, %.0f bytes a file)"
      % (a, items / a, a / items * 1e6, peak / 1024, peak * 1024 / items))
print("  %-19s %7.3f s   ratio %.2f, goal <= %.1f (%s)"
      % (" ".join(os.path.basename(t) for t in tool), b, a / b, goal, "meets" if a / b <= goal else "MISSES"))
PY
}

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg); medians of $runs alternating runs"
compare "NTFS, $count files" "$ntfs" 0.5 ntfscluster -i
compare "NTFS, 200,000 files, tree" "$tree" 0.5 ntfscluster -i
compare "FAT32 300 MB, 24-level tree" "$deep" 1.0 fsck.fat -n
compare "FAT32 80 MB, flat" "$flat" 1.0 fsck.fat -n
