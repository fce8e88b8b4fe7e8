#!/usr/bin/env bash
# Analysis speed on two NTFS images of about 200,000 files each, made with
# mkntfs and an ntfs-3g mount (root): "files", 200 folders of 1,000 files
# (bench/ntfs_files_image.sh), and "tree", a used system volume's shape with
# 169,000 small files inside their records, 2,500 folders up to 9 deep and
# folders of 3,500 entries (bench/ntfs_tree_image.sh). Beside each analysis:
# ntfscluster -i (which reads every MFT record), reading the MFT's bytes
# alone (dd of its extents to /dev/null) and ntfsls -R -a. Each pair runs
# alternately N times, warm; medians of wall and CPU time (user and system),
# their ratios and the goals are printed with files per second and peak
# memory, and the analysis alone (the elapsed_ms vantrel-cli reports, which
# leaves out opening the volume and the part of its allocation check that
# follows the pass over the records: $Bitmap and the folders' indexes).
#   bench/ntfs_analyze.sh [BUILD_DIR] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/native}
runs=${2:-9}
cli=$(realpath "$build/cli/vantrel-cli")
[ -x "$cli" ] || { echo "build vantrel-cli first (cmake --build --preset native)"; exit 2; }
PATH=$PATH:/usr/sbin:/sbin

work=$(mktemp -d)
mnt=$work/mnt
cleanup() { mountpoint -q "$mnt" 2>/dev/null && umount "$mnt"; rm -rf "$work"; }
trap cleanup EXIT
. bench/ntfs_files_image.sh
. bench/ntfs_tree_image.sh
make_ntfs_files "$work/files.img" 2048 200000 "$mnt"
make_ntfs_tree "$work/tree.img" "$mnt"

# The MFT's extents as "offset length" in bytes, from ntfsinfo.
mft_extents() {
  local cluster
  cluster=$(ntfsinfo -m "$1" 2>/dev/null | awk '/Cluster Size:/ {print $3; exit}')
  [ -n "$cluster" ] || { echo "ntfsinfo cannot read $1" >&2; exit 2; }
  ntfsinfo -v -i 0 "$1" 2>/dev/null | awk '
    /Dumping attribute \$DATA/ {data = 1; next}
    /Dumping attribute/ {data = 0}
    data && /Runlist:/ {runs = 1; next}
    data && runs && NF == 3 && $1 ~ /^0x/ {print $2, $3}' |
    while read -r lcn count; do echo $((lcn * cluster)) $((count * cluster)); done
}

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg); medians of $runs alternating runs, warm"
for name in files tree; do
  img=$work/$name.img
  reader=$work/read_mft_$name.sh
  {
    echo "set -e"
    mft_extents "$img" | while read -r at bytes; do
      echo "dd if='$img' of=/dev/null bs=1M iflag=skip_bytes,count_bytes skip=$at count=$bytes status=none"
    done
  } > "$reader"
  python3 - "$runs" "$cli" "$name" "$img" "$reader" <<'PY'
import json, statistics, sys
sys.path.insert(0, "bench")
from timed_run import timed_full
runs, cli, name, image, reader = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4], sys.argv[5]
mft_bytes = sum(int(l.split("count=")[1].split()[0]) for l in open(reader) if "count=" in l)
others = {"ntfscluster -i": ["ntfscluster", "-i", image], "read the MFT (dd)": ["sh", reader],
          "ntfsls -R -a": ["ntfsls", "-R", "-a", image]}
goals = {"ntfscluster -i": 0.5, "read the MFT (dd)": 2.0}
wall, cpu, alone, peak, items = [], [], [], 0, 0
theirs = {k: ([], []) for k in others}
for _ in range(runs):
    for key, cmd in others.items():
        t, c, rss, out = timed_full([cli, "analyze", image, "--json"])
        info = json.loads(out)
        items = info["files"] + info["folders"]
        wall.append(t); cpu.append(c); alone.append(info["elapsed_ms"] / 1000); peak = max(peak, rss)
        t, c, _, _ = timed_full(cmd)
        theirs[key][0].append(t); theirs[key][1].append(c)
a, ac, aa = statistics.median(wall), statistics.median(cpu), statistics.median(alone)
print("%s: %d files and folders, MFT %.0f MB" % (name, items, mft_bytes / 1e6))
print("  vantrel-cli analyze %7.3f s, CPU %.3f s (%.0f files/s, peak %.1f MB); the analysis"
      " alone (its elapsed_ms) %.3f s"
      % (a, ac, items / a, peak / 1024, aa))
for key in others:
    b, bc = statistics.median(theirs[key][0]), statistics.median(theirs[key][1])
    goal = goals.get(key)
    verdict = ", goal <= %.1f (%s)" % (goal, "meets" if a / b <= goal else "MISSES") if goal else ""
    print("  %-19s %7.3f s, CPU %.3f s   ratio %.2f%s; CPU %.2f; the analysis alone %.2f"
          % (key, b, bc, a / b, verdict, ac / max(bc, 1e-6), aa / b))
PY
done
