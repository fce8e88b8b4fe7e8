#!/usr/bin/env bash
# Makes the seed corpus of fuzz/ntfs_fuzz.cpp in fuzz/corpus/ntfs_fuzz from a
# small mkntfs image filled through an ntfs-3g mount (folders with index
# blocks, a DOS name, a compressed and a sparse file): the volume as chunks
# of the clusters the image backend reads (boot sector, $MFT and its bitmap,
# $Bitmap, index blocks, small files), some of its records, a folder's
# index, and a compression unit. Run as root; exits 77 when ntfs-3g cannot
# mount here.
#   fuzz/make_ntfs_seeds.sh [OUTDIR]
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-fuzz/corpus/ntfs_fuzz}
PATH=$PATH:/usr/sbin:/sbin
for tool in mkntfs ntfs-3g ntfscluster python3; do
  command -v "$tool" >/dev/null || { echo "make_ntfs_seeds: $tool is missing" >&2; exit 77; }
done
work=$(mktemp -d)
cleanup() {
  mountpoint -q "$work/mnt" 2>/dev/null && umount "$work/mnt"
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/mnt" "$out"
img=$work/seed.img
truncate -s 3M "$img"
mkntfs -F -Q -f -p 0 -H 0 -S 0 -c 1024 -L SEED "$img" >/dev/null 2>&1
ntfs-3g -o compression "$img" "$work/mnt" || { echo "make_ntfs_seeds: cannot mount" >&2; exit 77; }
python3 - "$work/mnt" <<'PY'
import os, sys
m = sys.argv[1]
os.makedirs(m + "/dir/sub")
for i in range(30):
    with open(m + "/dir/file with a long name %02d.txt" % i, "w") as f:
        f.write("x" * i)
with open(m + "/dir/Long File Name.txt", "w") as f:
    f.write("long")
os.setxattr(m + "/dir/Long File Name.txt", "system.ntfs_dos_name", b"LONGFI~1.TXT")
with open(m + "/dir/sub/data.bin", "wb") as f:
    f.write(bytes(range(256)) * 20)
os.makedirs(m + "/packed")
os.setxattr(m + "/packed", "system.ntfs_attrib_be", bytes([0, 0, 8, 0]))
with open(m + "/packed/text.txt", "w") as f:
    f.write("compress me, compress me again\n" * 2000)
with open(m + "/sparse.bin", "wb") as f:
    f.seek(200000)
    f.write(b"end")
PY
umount "$work/mnt"
ntfscluster -v -c 0-100000000 "$img" >"$work/clusters.txt" 2>/dev/null || true
python3 - "$img" "$work/clusters.txt" "$out" <<'PY'
import re, struct, sys
img, listing, out = sys.argv[1], sys.argv[2], sys.argv[3]
data = open(img, "rb").read()
cluster = 512 * data[0x0D]
record = 1024
mft_lcn = struct.unpack_from("<Q", data, 0x30)[0]
# Clusters of the attributes the backend reads, per ntfscluster -v.
keep, pending, dirs = set(), [], {}
skip = ("$LogFile", "$UpCase", "$Secure", "$MFTMirr", "$AttrDef")
for line in open(listing, encoding="utf-8", errors="replace"):
    m = re.match(r"\s+\d+\s+(\d+)-(\d+) \((\d+)\)", line)
    if m:
        pending.append((int(m.group(1)), int(m.group(2))))
        continue
    m = re.match(r"Inode (\d+) (/\S*)", line)
    if m:
        path = line.split(" ", 2)[2].strip()
        if not any(s in path for s in skip):
            for a, b in pending:
                if b - a < 200:
                    keep.update(range(a, b + 1))
            if "$INDEX_ALLOCATION" in path:
                dirs[int(m.group(1))] = [c for a, b in pending for c in range(a, b + 1)]
        pending = []
    elif line.startswith("Inode: "):
        pending = []
keep.update(range(0, 8192 // cluster))  # the boot sector's cluster(s)
sectors = sorted({c * cluster // 512 + k for c in keep for k in range(cluster // 512)})
chunks, run = [], []
for s in sectors:
    if run and s == run[-1] + 1 and len(run) < 65535:
        run.append(s)
    else:
        if run:
            chunks.append(run)
        run = [s]
chunks.append(run)
blob = bytearray([0])
for run in chunks:
    blob += struct.pack("<IH", run[0], len(run)) + data[run[0] * 512:(run[-1] + 1) * 512]
open(out + "/volume", "wb").write(blob)

def rec(n):
    at = mft_lcn * cluster + n * record
    return data[at:at + record]

def attribute(raw, wanted):
    """The resident value of the first attribute of a type (fix-ups undone)."""
    r = bytearray(raw)
    usa, count = struct.unpack_from("<HH", r, 4)
    for i in range(1, count):
        r[512 * i - 2:512 * i] = r[usa + 2 * i:usa + 2 * i + 2]
    at = struct.unpack_from("<H", r, 0x14)[0]
    while at + 8 <= len(r):
        t, length = struct.unpack_from("<II", r, at)
        if t == 0xFFFFFFFF or length == 0:
            break
        if t == wanted and r[at + 8] == 0:
            vlen, voff = struct.unpack_from("<IH", r, at + 0x10)
            return bytes(r[at + voff:at + voff + vlen])
        at += length
    return None

for n in (0, 5, 6, 64, 65, 66, 70):
    raw = rec(n)
    if raw[:4] == b"FILE":
        open(out + "/record-%d" % n, "wb").write(bytes([1]) + raw)
for n, clusters in dirs.items():
    root = attribute(rec(n), 0x90)
    if root:
        alloc = b"".join(data[c * cluster:(c + 1) * cluster] for c in clusters)
        shift = {512: 0, 1024: 1, 2048: 2, 4096: 3}[min(cluster, 4096)]
        open(out + "/index-%d" % n, "wb").write(
            bytes([2]) + struct.pack("<HB", len(root), shift) + root + alloc)
# The first compression unit of the compressed file: its stored clusters.
text = re.search(r"((?:\s+\d+\s+\d+-\d+ \(\d+\)\n)+)Inode \d+ /packed/text.txt/\$DATA",
                 open(listing, encoding="utf-8", errors="replace").read())
if text:
    first = re.match(r"\s+\d+\s+(\d+)-(\d+)", text.group(1))
    a, b = int(first.group(1)), int(first.group(2))
    unit = data[a * cluster:(b + 1) * cluster]
    open(out + "/lznt1", "wb").write(bytes([3]) + struct.pack("<H", 16 * cluster) + unit)
PY
ls -l "$out"
