#!/usr/bin/env bash
# Builds the NTFS image of the Explorer-request test with mkntfs and an
# ntfs-3g mount: fragmented files with names in several scripts, some named
# by the request, some inside the folder it names, one elsewhere that it
# does not name.
#
#   "Café crème.bin"                         fragmented, named
#   "Ελληνικά/Αρχείο δεδομένων.dat"          fragmented, named
#   "Документы/"                             named folder:
#       "отчёт.txt", "日本語のファイル.bin", "子フォルダ/深い.bin"   fragmented
#       "малый.txt"                                               whole
#   "Other fragmented.bin"                   fragmented, not named
#
# Fragmenting under ntfs-3g: the volume is filled with one-cluster files,
# every other one (in the order written, which on a fresh volume is LCN
# order) is deleted, the targets are written 1 KB per write() into the holes,
# and the fillers go.
#
# usage: make_request_ntfs_image.sh IMAGE   (as root; exits 77 when mkntfs or
# an ntfs-3g mount is not available)
set -euo pipefail
img=${1:?usage: make_request_ntfs_image.sh IMAGE}
PATH=$PATH:/usr/sbin:/sbin
for tool in mkntfs ntfs-3g python3 umount; do
  command -v "$tool" >/dev/null || { echo "make_request_ntfs_image: $tool is missing" >&2; exit 77; }
done
if [ "$(id -u)" != 0 ]; then
  echo "make_request_ntfs_image: mounting with ntfs-3g needs root" >&2
  exit 77
fi
mnt=$(mktemp -d)
cleanup() {
  mountpoint -q "$mnt" 2>/dev/null && umount "$mnt"
  rmdir "$mnt"
}
trap cleanup EXIT
rm -f "$img"
truncate -s 16M "$img"
mkntfs -F -Q -q -p 0 -H 0 -S 0 -c 4096 -L REQUEST "$img" >/dev/null 2>&1
if ! ntfs-3g "$img" "$mnt" 2>/dev/null; then
  echo "make_request_ntfs_image: ntfs-3g cannot mount here (no FUSE?)" >&2
  exit 77
fi
umount "$mnt"

python3 - "$img" "$mnt" <<'PY'
import os, random, subprocess, sys

img, mnt = sys.argv[1], sys.argv[2]
CLUSTER = 4096
TARGETS = [
    ("Café crème.bin", 9 * CLUSTER + 100),
    ("Ελληνικά/Αρχείο δεδομένων.dat", 7 * CLUSTER),
    ("Документы/отчёт.txt", 6 * CLUSTER + 33),
    ("Документы/日本語のファイル.bin", 11 * CLUSTER),
    ("Документы/子フォルダ/深い.bin", 5 * CLUSTER + 1),
    ("Other fragmented.bin", 8 * CLUSTER),
]
WHOLE = [("Документы/малый.txt", 3 * CLUSTER)]


def data(rel, size):
    return random.Random(rel).randbytes(size)


def write(rel, body, chunk=None):
    path = os.path.join(mnt, rel)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb", buffering=0) as f:
        step = chunk or max(len(body), 1)
        for at in range(0, len(body), step):
            f.write(body[at:at + step])


subprocess.run(["ntfs-3g", img, mnt], check=True)
try:
    for rel, size in WHOLE:
        write(rel, data(rel, size))
    for rel, _ in TARGETS:
        os.makedirs(os.path.dirname(os.path.join(mnt, rel)), exist_ok=True)
    os.makedirs(os.path.join(mnt, "fill"))
    fillers = []
    while True:
        name = os.path.join(mnt, "fill", "%05d" % len(fillers))
        try:
            write(name, b"F" * CLUSTER)
        except OSError:
            if os.path.exists(name):
                os.remove(name)
            break
        fillers.append(name)
    # One-cluster holes enough for the targets; the fillers that go after
    # them leave free runs that hold any one of them whole.
    need = sum(size // CLUSTER + 1 for _, size in TARGETS)
    for name in fillers[0:2 * need + 20:2]:
        os.remove(name)
    for rel, size in TARGETS:
        write(rel, data(rel, size), chunk=1024)
    for name in fillers:
        if os.path.exists(name):
            os.remove(name)
    os.rmdir(os.path.join(mnt, "fill"))
finally:
    subprocess.run(["umount", mnt], check=True)
PY
