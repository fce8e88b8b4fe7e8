#!/usr/bin/env bash
# Analysis speed on an NTFS image with about 200,000 files (made with mkntfs
# and an ntfs-3g mount, as root), beside the NTFS tools reading the same
# image: ntfscluster -i (which reads every MFT record) and ntfsls -R -a.
# Prints best-of-N times (warm cache), ratios, files per second and peak
# memory.
#   bench/ntfs_analyze.sh [BUILD_DIR] [RUNS] [FILES]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/native}
runs=${2:-3}
count=${3:-200000}
cli=$build/cli/vantrel-cli
[ -x "$cli" ] || { echo "build vantrel-cli first (cmake --build --preset native)"; exit 2; }
PATH=$PATH:/usr/sbin:/sbin

work=$(mktemp -d)
mnt=$work/mnt
cleanup() { mountpoint -q "$mnt" 2>/dev/null && umount "$mnt"; rm -rf "$work"; }
trap cleanup EXIT
img=$work/bench.img
. bench/ntfs_files_image.sh
make_ntfs_files "$img" 2048 "$count" "$mnt"

measure() {  # prints "best_ms peak_kib"
  python3 - "$runs" "$@" <<'PY'
import resource, subprocess, sys, time
runs, cmd = int(sys.argv[1]), sys.argv[2:]
best = None
for _ in range(runs):
    t0 = time.perf_counter()
    subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    ms = (time.perf_counter() - t0) * 1000
    best = ms if best is None else min(best, ms)
peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
print("%.0f %d" % (best, peak))
PY
}

read -r files folders < <("$cli" analyze "$img" --json | python3 -c 'import json,sys; d=json.load(sys.stdin); print(d["files"], d["folders"])')
read -r cli_ms cli_kib < <(measure "$cli" analyze "$img")
read -r nc_ms _ < <(measure ntfscluster -i "$img")
read -r ls_ms _ < <(measure ntfsls -R -a "$img")
ratio() { python3 -c "print('%.2f' % ($1 / max($2, 1)))"; }
echo "image: NTFS, 2 GiB, $files files and $folders folders"
echo "vantrel-cli analyze: ${cli_ms} ms, $(python3 -c "print(int(($files + $folders) * 1000 / max($cli_ms, 1)))") files/s, peak ${cli_kib} KiB"
echo "ntfscluster -i:      ${nc_ms} ms   (vantrel / ntfscluster = $(ratio "$cli_ms" "$nc_ms"))"
echo "ntfsls -R -a:        ${ls_ms} ms   (vantrel / ntfsls = $(ratio "$cli_ms" "$ls_ms"))"
