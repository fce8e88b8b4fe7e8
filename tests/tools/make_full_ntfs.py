#!/usr/bin/env python3
"""Builds an NTFS volume (mkntfs, then an ntfs-3g mount: needs root) whose
largest free run is a little smaller than a large fragmented file:

    make_full_ntfs.py IMAGE [full|small]

full:  128 MiB, 4 KiB clusters: a 32 MiB file (db/data.db) in ~8,000
       fragments between one-cluster files, a free run of 31 MiB, a few
       hundred free clusters scattered among the small files.
small: 24 MiB: a 2 MiB file in ~500 fragments, a free run of 1.9 MiB.

ntfs-3g chooses where data goes, so the fragments are made the way a full
disk makes them: placeholders alternate with the small files that stay, the
volume is filled to the brim, and the file is written once its placeholders
alone are free. Prints a JSON summary (every file's size) on stdout.
"""
import json
import os
import random
import shutil
import subprocess
import sys
import tempfile

ENV = dict(os.environ, LC_ALL="C.UTF-8", PATH=os.environ.get("PATH", "") + ":/usr/sbin:/sbin")
CLUSTER = 4096
SCALES = {
    "full": dict(mib=128, db_clusters=8192, pieces=8000, gap_clusters=7936, tail=512, every=20),
    "small": dict(mib=24, db_clusters=512, pieces=500, gap_clusters=486, tail=64, every=10),
}


def sh(*args, check=True):
    r = subprocess.run(list(args), env=ENV, capture_output=True)
    if check and r.returncode != 0:
        raise SystemExit("make_full_ntfs: %s failed (%d): %s"
                         % (" ".join(args[:3]), r.returncode, r.stderr.decode()[-600:]))
    return r


def content(name, size):
    return random.Random(name).randbytes(size)


def build(image, scale):
    p = SCALES[scale]
    with open(image, "wb") as f:
        f.truncate(p["mib"] << 20)
    sh("mkntfs", "-F", "-Q", "-q", "-c", str(CLUSTER), "-L", "NEARLYFULL", image)
    mnt = tempfile.mkdtemp(prefix="vt-full-ntfs.")
    files = {}
    sh("ntfs-3g", image, mnt)
    try:
        for d in ("db", "k", "ph", "rest", "tail"):
            os.makedirs(os.path.join(mnt, d))
        db = os.path.join(mnt, "db", "data.db")
        open(db, "wb").close()
        rng = random.Random(7)
        # Pieces of one or two clusters summing to the file's clusters.
        pieces = [1] * p["pieces"]
        for i in rng.sample(range(p["pieces"]), p["db_clusters"] - p["pieces"]):
            pieces[i] += 1
        zero = bytes(2 * CLUSTER)
        for i, n in enumerate(pieces):
            with open(os.path.join(mnt, "ph", "%05d" % i), "wb") as f:
                f.write(zero[:n * CLUSTER])
            name = "k/%05d.bin" % i
            data = content(name, CLUSTER - rng.randint(0, 1000))
            with open(os.path.join(mnt, name), "wb") as f:
                f.write(data)
            files[name] = len(data)
        with open(os.path.join(mnt, "gap"), "wb") as f:
            f.write(bytes(p["gap_clusters"] * CLUSTER))
        for i in range(p["tail"]):
            name = "tail/%05d.bin" % i
            data = content(name, CLUSTER)
            with open(os.path.join(mnt, name), "wb") as f:
                f.write(data)
            files[name] = len(data)
        n = 0
        for clusters in (4, 1):  # small enough to stay whole, mostly
            while True:
                n += 1
                name = "rest/%06d" % n
                try:
                    with open(os.path.join(mnt, name), "wb") as f:
                        f.write(content(name, clusters * CLUSTER))
                    files[name] = clusters * CLUSTER
                except OSError:
                    os.remove(os.path.join(mnt, name))
                    break
        shutil.rmtree(os.path.join(mnt, "ph"))
        size = p["db_clusters"] * CLUSTER
        with open(db, "r+b") as f:
            f.write(content("db/data.db", size))
        files["db/data.db"] = size
        os.remove(os.path.join(mnt, "gap"))
        # Room for what sits next to the free run, scattered among the
        # small files.
        for i in range(0, p["pieces"], p["every"]):
            name = "k/%05d.bin" % i
            os.remove(os.path.join(mnt, name))
            del files[name]
    finally:
        sh("umount", mnt)
        os.rmdir(mnt)
    return {"image": image, "scale": scale, "cluster": CLUSTER, "files": files,
            "fragmented": ["db/data.db"]}


def main():
    if len(sys.argv) not in (2, 3) or (len(sys.argv) == 3 and sys.argv[2] not in SCALES):
        raise SystemExit("usage: make_full_ntfs.py IMAGE [full|small]")
    if os.getuid() != 0:
        print("make_full_ntfs: the ntfs-3g mount needs root", file=sys.stderr)
        sys.exit(77)
    for tool in ("mkntfs", "ntfs-3g", "umount"):
        if not shutil.which(tool, path=ENV["PATH"]):
            print("make_full_ntfs: %s is missing" % tool, file=sys.stderr)
            sys.exit(77)
    summary = build(sys.argv[1], sys.argv[2] if len(sys.argv) == 3 else "full")
    json.dump(summary, sys.stdout)
    print()


if __name__ == "__main__":
    main()
