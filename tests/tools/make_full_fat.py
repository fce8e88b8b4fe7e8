#!/usr/bin/env python3
"""Builds a nearly full FAT volume with mkfs.fat and mtools: thousands of
small files, a few hundred small free runs between them, and some dozens of
fragmented files, each smaller than the free space in total but larger than
any free run.

    make_full_fat.py IMAGE [full|small]

full:  FAT32, 80 MiB, 1 KiB clusters, ~12,000 small files, ~1,787 free
       clusters in ~494 runs (the largest 37), 62 fragmented files of 25 to
       783 clusters.
roomy: the files of full on 96 MiB, the last 16 MiB left free.
small: FAT16, 8 MiB, 1 KiB clusters, ~1,200 small files, ~180 free clusters
       in ~50 runs, 8 fragmented files of 25 to 150 clusters (for the tests).

The layout is written in LCN order with mtools' first-free allocation (the
FAT32 next-free hint cleared before each write): small files, placeholders
for the fragmented files' pieces and for the holes; a last file fills the
volume to the brim. Then each fragmented file's own placeholders are
deleted and the file written, so it takes exactly its pieces; last the
holes' placeholders are deleted. Prints a JSON summary on stdout.
"""
import json
import os
import random
import shutil
import subprocess
import sys
import tempfile

ENV = dict(os.environ, MTOOLS_SKIP_CHECK="1", LC_ALL="C.UTF-8", TZ="UTC",
           PATH=os.environ.get("PATH", "") + ":/usr/sbin:/sbin")
CLUSTER = 1024

SCALES = {
    "full": dict(fat=32, mib=80, small_files=12000, holes=494, free=1787, largest_hole=37,
                 big_files=62, big_min=25, big_max=783, per_folder=400),
    # The same files with room: the last 16 MiB stay free.
    "roomy": dict(fat=32, mib=96, small_files=12000, holes=494, free=1787, largest_hole=37,
                  big_files=62, big_min=25, big_max=783, per_folder=400, brim=False),
    "small": dict(fat=16, mib=8, small_files=1200, holes=50, free=180, largest_hole=12,
                  big_files=8, big_min=25, big_max=150, per_folder=300),
}


def sh(*args):
    r = subprocess.run(list(args), env=ENV, capture_output=True)
    if r.returncode != 0:
        raise SystemExit("make_full_fat: %s failed (%d): %s"
                         % (" ".join(args[:3]), r.returncode, r.stderr.decode()[-600:]))
    return r


def content(name, size):
    return random.Random(name).randbytes(size)


def plan(scale):
    p = SCALES[scale]
    rng = random.Random(20261209)  # "roomy" must plan what "full" plans
    # Fragmented files: sizes spread on a log scale between the bounds, each
    # cut into 2 to 12 pieces.
    bigs = []
    for i in range(p["big_files"]):
        if i == 0:
            clusters = p["big_max"]
        elif i == 1:
            clusters = p["big_min"]
        else:
            clusters = int(p["big_min"] * (p["big_max"] / p["big_min"]) ** rng.random())
        k = rng.randint(2, 12)
        cuts = sorted(rng.sample(range(1, clusters), k - 1))
        pieces = [b - a for a, b in zip([0] + cuts, cuts + [clusters])]
        bigs.append(("BIG%03d.DAT" % i, clusters, pieces))
    # Holes: mostly 1 to 5 clusters, the largest given, summing to the free
    # clusters asked for.
    holes = [p["largest_hole"]]
    while len(holes) < p["holes"] - 1:
        holes.append(rng.randint(1, 5))
    rest = p["free"] - sum(holes)
    holes.append(max(1, min(rest, p["largest_hole"])))
    # The sequence: small files with holes and pieces placed among them at
    # random, a piece or hole never next to another.
    # Small files on a log scale of 1 to 12 clusters, as file sizes go: many
    # of one or two clusters, fewer large ones (4.4 clusters on average).
    items = [("S", int(12 ** rng.random()) or 1) for _ in range(p["small_files"])]
    extras = [("H", h) for h in holes]
    extras += [("P", (b, j)) for b in range(len(bigs)) for j in range(len(bigs[b][2]))]
    rng.shuffle(extras)
    slots = sorted(rng.sample(range(1, len(items)), len(extras)))
    seq = []
    last = 0
    for slot, extra in zip(slots, extras):
        seq += items[last:slot]
        seq.append(extra)
        last = slot
    seq += items[last:]
    return p, bigs, seq


def build(image, scale):
    p, bigs, seq = plan(scale)
    if os.path.exists(image):
        os.remove(image)
    sh("mkfs.fat", "-C", "-F", str(p["fat"]), "-s", str(CLUSTER // 512), "-n", "NEARLYFULL",
       image, str(p["mib"] * 1024))

    def clear_hint():
        if p["fat"] == 32:
            with open(image, "r+b") as f:
                f.seek(512 + 0x1EC)
                f.write(b"\xff\xff\xff\xff")

    work = tempfile.mkdtemp(prefix="vt-full-fat.")
    manifest = {}
    try:
        # Folders first, the fragmented files' folder with an empty entry
        # for each (so writing them later allocates no folder cluster).
        folders = ["::/s%02d" % n for n in range((p["small_files"] - 1) // p["per_folder"] + 1)]
        sh("mmd", "-i", image, "::/big", "::/ph", *folders)
        empties = []
        for name, _, _ in bigs:
            path = os.path.join(work, name)
            open(path, "wb").close()
            empties.append(path)
        sh("mcopy", "-i", image, *empties, "::/big/")
        for path in empties:
            os.remove(path)
        # The layout, in batches of one folder each.
        batch, batch_dir, count = [], None, 0
        small = 0

        def flush():
            if batch:
                clear_hint()
                sh("mcopy", "-i", image, *[b[0] for b in batch], batch_dir)
                for b in batch:
                    os.remove(b[0])
                batch.clear()

        for kind, value in seq:
            if kind == "S":
                folder = "::/s%02d/" % (small // p["per_folder"])
                name = "F%05d.DAT" % small
                size = value * CLUSTER - random.Random(small).randint(0, CLUSTER - 1)
                data = content(name, size)
                manifest["/s%02d/%s" % (small // p["per_folder"], name)] = size
                small += 1
            else:
                folder = "::/ph/"
                name = ("H%04d" % count) if kind == "H" else ("P%03d_%02d" % value)
                data = bytes(value * CLUSTER if kind == "H" else bigs[value[0]][2][value[1]] *
                             CLUSTER)
                count += 1
            if folder != batch_dir or len(batch) >= 400:
                flush()
                batch_dir = folder
            path = os.path.join(work, name)
            with open(path, "wb") as f:
                f.write(data)
            batch.append((path,))
        flush()
        # Fill to the brim: what is left, in one file.
        free = free_clusters(image) if p.get("brim", True) else 0
        if free:
            path = os.path.join(work, "FILL.DAT")
            with open(path, "wb") as f:
                f.write(content("FILL.DAT", free * CLUSTER))
            clear_hint()
            sh("mcopy", "-i", image, path, "::/")
            os.remove(path)
            manifest["/FILL.DAT"] = free * CLUSTER
        # Each fragmented file into exactly its own pieces.
        for b, (name, clusters, pieces) in enumerate(bigs):
            sh("mdel", "-i", image, *["::/ph/P%03d_%02d" % (b, j) for j in range(len(pieces))])
            size = clusters * CLUSTER - 100
            path = os.path.join(work, name)
            with open(path, "wb") as f:
                f.write(content(name, size))
            clear_hint()
            sh("mcopy", "-o", "-i", image, path, "::/big/")
            os.remove(path)
            manifest["/big/" + name] = size
        sh("mdel", "-i", image, "::/ph/H*")
    finally:
        shutil.rmtree(work)
    return {"image": image, "scale": scale, "cluster": CLUSTER, "files": manifest,
            "fragmented": [name for name, _, _ in bigs],
            "free_clusters": free_clusters(image)}


def free_clusters(image):
    out = sh("fsck.fat", "-n", image).stdout.decode()
    # "N files, USED/TOTAL clusters"
    for line in out.splitlines():
        if " clusters" in line and "/" in line:
            used, total = line.rsplit(", ", 1)[1].split()[0].split("/")
            return int(total) - int(used)
    raise SystemExit("make_full_fat: fsck.fat gave no cluster counts: " + out)


def main():
    if len(sys.argv) not in (2, 3) or (len(sys.argv) == 3 and sys.argv[2] not in SCALES):
        raise SystemExit("usage: make_full_fat.py IMAGE [full|small]")
    for tool in ("mkfs.fat", "mcopy", "mdel", "mmd", "fsck.fat"):
        if not shutil.which(tool, path=ENV["PATH"]):
            print("make_full_fat: %s is missing" % tool, file=sys.stderr)
            sys.exit(77)
    summary = build(sys.argv[1], sys.argv[2] if len(sys.argv) == 3 else "full")
    json.dump(summary, sys.stdout)
    print()


if __name__ == "__main__":
    main()
