#!/usr/bin/env python3
"""Checks vantrel-cli's analysis of FAT images against independent tools.

For each image made by mkfs.fat and mtools: file and folder counts against a
recursive mdir listing, free clusters against fsck.fat, first clusters
against fatcat, and for every file the bytes read from the image at the
reported extents (cut to the file size) against what mcopy reads.
"""
import json
import os
import re
import subprocess
import sys
import tempfile

from fat_image import Fat

ENV = dict(os.environ, MTOOLS_SKIP_CHECK="1", LC_ALL="C.UTF-8")
failures = []


def check(cond, text):
    if not cond:
        failures.append(text)
        print("FAIL: " + text)


def run(args, **kw):
    return subprocess.run(args, env=ENV, capture_output=True, check=False, **kw)


def cli_json(cli, *args):
    r = run([cli] + list(args))
    if r.returncode != 0:
        raise SystemExit("vantrel-cli %s failed (%d): %s" % (args, r.returncode, r.stderr.decode()))
    return json.loads(r.stdout.decode("utf-8"))


def check_map(cli, image, files):
    """The cluster map after analysis against the FAT itself."""
    name = os.path.basename(image)
    fat = Fat(image)
    clusters, free = fat.clusters, fat.free_clusters()
    with tempfile.NamedTemporaryFile() as out:
        r = run([cli, "map", image, "--bytes", out.name])
        check(r.returncode == 0, "%s: map --bytes failed: %s" % (name, r.stderr))
        data = open(out.name, "rb").read()
    check(len(data) == clusters + 1, "%s: map of %d bytes for %d clusters" % (name, len(data), clusters))
    owner = {}
    for f in files:
        level = 0x40 if f["unmovable"] else min(f["fragments"] - 1, 15)
        for lcn, count in f["extents"]:
            for c in range(lcn, lcn + count):
                owner[c] = level
    wrong = 0
    for c in range(min(clusters, len(data))):
        if c in free:
            expected = 0x20
        else:
            expected = owner.get(c, 0x40)  # used by nothing listed: a map run
        if data[c] != expected:
            wrong += 1
            if wrong <= 5:
                check(False, "%s: map byte of cluster %d is 0x%02x, expected 0x%02x" % (name, c, data[c], expected))
    check(wrong == 0, "%s: %d map bytes differ from the allocation" % (name, wrong))


def mdir_listing(image):
    r = run(["mdir", "-/", "-b", "-a", "-i", image, "::"])
    lines = [l for l in r.stdout.decode("utf-8", "replace").splitlines() if l.startswith("::/")]
    folders = [l for l in lines if l.endswith("/")]
    files = [l for l in lines if not l.endswith("/")]
    return files, folders


def fsck_clusters(image):
    r = run(["fsck.fat", "-n", "-v", image])
    m = re.search(r"(\d+) files, (\d+)/(\d+) clusters", r.stdout.decode("utf-8", "replace"))
    if not m:
        raise SystemExit("cannot read fsck.fat output for " + image)
    return int(m.group(2)), int(m.group(3))


def fatcat_first_clusters(image, folder):
    """(first cluster, size) of each file of a folder, from fatcat -l."""
    r = run(["fatcat", image, "-l", folder or "/"])
    pairs = []
    for line in r.stdout.decode("latin-1").splitlines():
        m = re.match(r"^f .* c=(\d+) s=(\d+)", line)
        if m:
            pairs.append((int(m.group(1)), int(m.group(2))))
    return sorted(pairs)


def to_mtools(path):
    # "V:\Data\a.txt" -> "::/Data/a.txt"
    return "::" + path[2:].replace("\\", "/")


def check_image(cli, image):
    name = os.path.basename(image)
    analysis = cli_json(cli, "analyze", image, "--json")
    listing = cli_json(cli, "files", image, "--all", "--json")
    files = [f for f in listing["files"] if not f["directory"]]

    mfiles, mfolders = mdir_listing(image)
    # mdir lists every file; the analysis counts every file, stored or not.
    check(analysis["files"] == len(mfiles),
          "%s: %d files analysed, mdir lists %d" % (name, analysis["files"], len(mfiles)))
    check(analysis["folders"] == len(mfolders) + 1,
          "%s: %d folders analysed, mdir lists %d plus the root"
          % (name, analysis["folders"], len(mfolders)))
    check(not analysis["errors"], "%s: analysis errors %s" % (name, analysis["errors"]))

    used, total = fsck_clusters(image)
    check(analysis["total_clusters"] == total,
          "%s: %d clusters, fsck.fat says %d" % (name, analysis["total_clusters"], total))
    check(analysis["free_clusters"] == total - used,
          "%s: %d free clusters, fsck.fat says %d" % (name, analysis["free_clusters"], total - used))

    # Empty files own no cluster and are not stored.
    check(len(files) <= len(mfiles), "%s: more stored files than exist" % name)

    layout = Fat(image)
    offset, cluster = layout.data_offset, layout.cluster_bytes
    check(analysis["bytes_per_cluster"] == cluster,
          "%s: cluster size %d, boot sector says %d" % (name, analysis["bytes_per_cluster"], cluster))
    with open(image, "rb") as img:
        for f in files:
            data = bytearray()
            for lcn, count in f["extents"]:
                img.seek(offset + lcn * cluster)
                data += img.read(count * cluster)
            data = bytes(data[: f["size"]])
            with tempfile.NamedTemporaryFile() as out:
                r = run(["mcopy", "-n", "-o", "-i", image, to_mtools(f["path"]), out.name])
                check(r.returncode == 0, "%s: mcopy of %s failed: %s" % (name, f["path"], r.stderr))
                expected = open(out.name, "rb").read()
            check(data == expected, "%s: bytes of %s differ from mcopy (%d vs %d bytes)"
                  % (name, f["path"], len(data), len(expected)))
            check(f["fragments"] == len(f["extents"]), "%s: fragment count of %s" % (name, f["path"]))

    # First clusters by folder against fatcat.
    by_folder = {}
    for f in files:
        folder = f["folder"][2:].replace("\\", "/") or "/"
        by_folder.setdefault(folder, []).append((f["first_lcn"] + 2, f["size"]))
    for folder, pairs in by_folder.items():
        expected = [p for p in fatcat_first_clusters(image, folder) if p[1] > 0]
        check(sorted(pairs) == expected,
              "%s: first clusters in %s: %s, fatcat says %s" % (name, folder, sorted(pairs), expected))

    check_map(cli, image, listing["files"])

    fragmented = sum(1 for f in files if f["fragments"] > 1)
    print("%s: %d files, %d folders, %d stored, %d fragmented, %d free clusters: checked"
          % (name, analysis["files"], analysis["folders"], len(files), fragmented,
             analysis["free_clusters"]))
    return fragmented


def main():
    cli, source = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory() as tmp:
        if os.path.isdir(source):
            # Images made for this test run already (read only: copied first).
            for n in os.listdir(source):
                if n.endswith(".img"):
                    with open(os.path.join(source, n), "rb") as a, open(os.path.join(tmp, n), "wb") as b:
                        b.write(a.read())
        else:
            r = subprocess.run(["bash", source, tmp], env=ENV, capture_output=True)
            if r.returncode != 0:
                raise SystemExit("image builder failed: " + r.stderr.decode())
        images = sorted(os.path.join(tmp, n) for n in os.listdir(tmp) if n.endswith(".img"))
        check(len(images) >= 3, "expected FAT12, FAT16 and FAT32 images, got %s" % images)
        fragmented = 0
        for image in images:
            fragmented += check_image(cli, image)
        check(fragmented > 0, "the test images hold no fragmented file")
    print("%d images checked, %d failures" % (len(images), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
