#!/usr/bin/env bash
# Move throughput on NTFS: vantrel-cli defrag-file on a file of about 100 MB
# in about 500 fragments (made through an ntfs-3g mount, as root), beside dd
# copying the same number of bytes within the same image file (plain, with
# one flush at the end, and flushing each fragment-sized block). Prints bytes
# moved per second and the ratios; checks the result with ntfsfix -n and the
# file's checksum through an ntfs-3g mount.
#   bench/move_ntfs.sh [BUILD_DIR] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/native}
runs=${2:-3}
cli=$build/cli/vantrel-cli
[ -x "$cli" ] || { echo "build vantrel-cli first (cmake --build --preset native)"; exit 2; }
PATH=$PATH:/usr/sbin:/sbin
work=$(mktemp -d "${TMPDIR:-/tmp}/vt-move-ntfs.XXXXXX")
mnt=$work/mnt
cleanup() { mountpoint -q "$mnt" 2>/dev/null && umount "$mnt"; [ -n "${VT_BENCH_KEEP:-}" ] && cp "$img" "$VT_BENCH_KEEP"; rm -rf "$work"; }
trap cleanup EXIT
img=$work/pristine.img
fragments=500
fragment_kib=200
truncate -s 512M "$img"
mkntfs -F -Q -q -L MOVEBENCH "$img"
mkdir -p "$mnt"
# Fill the volume with fragment-sized files, delete every other one in LCN order (the
# allocator serves the largest free range of each bitmap stretch, so
# creation order does not leave even gaps), then write the big file into
# the holes a little at a time.
ntfs-3g "$img" "$mnt"
python3 - "$mnt" "$fragment_kib" $((2 * fragments)) <<'PY'
import os, sys
mnt, kib, n = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
os.makedirs(os.path.join(mnt, "fill"))
block = b"F" * (kib * 1024)
# Fill the volume to the brim, so that the holes left are the only room.
i = 0
while True:
    try:
        with open(os.path.join(mnt, "fill", "%05d" % i), "wb") as f:
            f.write(block)
    except OSError:
        break
    i += 1
PY
umount "$mnt"
ntfscluster -v -c 0-$((1 << 40)) "$img" 2>/dev/null | python3 -c '
import re, sys
lcn = None; first = {}
for line in sys.stdin:
    if line.startswith("Inode: "): lcn = None
    m = re.match(r"\s+0\s+(\d+)-\d+ \(\d+\)", line)
    if m: lcn = int(m.group(1))
    m = re.match(r"Inode \d+ /fill/(\d+)/\$DATA", line)
    if m and lcn is not None: first[m.group(1)] = lcn
order = sorted(first, key=lambda k: first[k])
print("\n".join(order[0::2]))' >"$work/delete.txt"
ntfs-3g "$img" "$mnt"
while read -r name; do rm -f "$mnt/fill/$name"; done <"$work/delete.txt"
python3 - "$mnt" $((fragments * fragment_kib * 1024)) <<'PY'
import os, sys
mnt, size = sys.argv[1], int(sys.argv[2])
chunk = os.urandom(64 * 1024)
with open(os.path.join(mnt, "big.bin"), "wb", buffering=0) as f:
    written = 0
    while written < size:
        piece = chunk[: min(len(chunk), size - written)]
        for k in range(0, len(piece), 1024):
            f.write(piece[k:k + 1024])
        written += len(piece)
PY
rm -rf "$mnt/fill"
umount "$mnt"
# Room for the whole file in one run: the volume grows by 256 MiB at its end.
truncate -s 768M "$img"
ntfsresize -f -f -b -s 768M "$img" >/dev/null 2>&1 || ntfsresize -f -f -s 768M "$img" >/dev/null
# ntfsresize marks the volume for a check; nothing needs one here, and
# the image writes only to clean volumes.
ntfsfix -d "$img" >/dev/null

ntfs-3g -o ro "$img" "$mnt"
before_sum=$(sha256sum <"$mnt/big.bin")
umount "$mnt"
read -r frag_before clusters bpc < <("$cli" files "$img" --all --json | python3 -c '
import json, sys
for f in json.load(sys.stdin)["files"]:
    if f["name"] == "big.bin": print(f["fragments"], f["clusters"], 4096)')
bytes=$((clusters * bpc))
echo "image: NTFS, 512 MiB, 4 KiB clusters; big.bin: $((bytes / 1024 / 1024)) MiB in $frag_before fragments"

. "$(dirname "$0")/move_common.sh"
time_defrag_file "$cli" "$img" "$work" "$runs" big.bin
ntfsfix -n "$work/run.img" >/dev/null || { echo "move_ntfs: ntfsfix -n rejects the result"; exit 1; }
mkdir -p "$mnt"
ntfs-3g -o ro "$work/run.img" "$mnt"
after_sum=$(sha256sum <"$mnt/big.bin")
umount "$mnt"
[ "$after_sum" = "$before_sum" ] || { echo "move_ntfs: big.bin reads differently after the moves"; exit 1; }

# dd within one image file: 64 MiB in, to the volume's grown free end.
dd_compare "$img" "$work" "$runs" $((moved * bpc)) $((64 * 1024 * 1024)) $((560 * 1024 * 1024)) \
  $((fragment_kib * 1024)) "$best_ns" "vantrel-cli defrag-file" \
  "$moved clusters moved in $frag_before moves"
