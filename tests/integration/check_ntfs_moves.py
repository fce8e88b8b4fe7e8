#!/usr/bin/env python3
"""Moves files on NTFS images with vantrel-cli and judges every result with the ntfs-3g tools.

One small image (24 MiB, 4 KiB clusters) is made with mkntfs and an ntfs-3g
mount: a few dozen files fragmented into 1-cluster holes (plain, some with a
contiguous head, a compressed, a sparse and one whose data lies behind an
attribute list), unfragmented files, a folder whose index is fragmented
(folders move like files: their index blocks). A
second image leaves the holes' neighbours in place and only a bounded free
run, so that some files cannot be placed. Each operation runs on a fresh
copy; afterwards ntfsfix -n and ntfsresize -i must find nothing, the volume
bitmap must equal the clusters ntfscluster finds owned (none twice), every
file read through a read-only ntfs-3g mount must keep its checksum, and the
fragment counts come from ntfscluster's run lists.

usage: check_ntfs_moves.py VANTREL_CLI   (as root; exits 77 when it cannot
mount with ntfs-3g or a tool is missing)
"""
import hashlib
import json
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_ntfs_analysis as analysis  # noqa: E402  (check, failures, fragments_of)

check = analysis.check
fragments_of = analysis.fragments_of
ENV = dict(os.environ, LC_ALL="C.UTF-8", PATH=os.environ.get("PATH", "") + ":/usr/sbin:/sbin")
TOOLS = ("mkntfs", "ntfs-3g", "ntfscluster", "ntfsinfo", "ntfsfix", "ntfsresize", "ntfscat",
         "umount")
CLUSTER = 4096
VOLUME_BYTES = 24 << 20
NO_ROOM = ("Your drive does not have sufficient contiguous free space. To defrag this file you "
           "will need to first Defrag Free Space. %s.")
# Files written a cluster at a time into the holes: (path, size, bytes written
# in one piece on the empty volume first). A head makes fragments of
# different lengths, so fragmentation degrees differ.
KB = 1024
TARGETS = [
    ("docs/report.txt", 5 * CLUSTER + 100, 0),
    ("docs/REPORT2.TXT", 7 * CLUSTER, 0),
    ("docs/letter.doc", 3 * CLUSTER + 1, 0),
    ("docs/archive.tar.gz", 9 * CLUSTER + 333, 0),
    ("docs/README", 4 * CLUSTER, 0),
    ("docs/plans/2024 plan.txt", 6 * CLUSTER, 0),
    ("docs/plans/budget.xls", 5 * CLUSTER + 17, 2 * CLUSTER),
    ("media/clip.mp3", 14 * CLUSTER, 0),
    ("media/photo1.jpg", 12 * CLUSTER + 700, 0),
    ("media/photo2.JPG", 8 * CLUSTER, 0),
    ("media/photo3.jpg", 6 * CLUSTER, 3 * CLUSTER),
    ("media/song.flac", 10 * CLUSTER + 5, 6 * CLUSTER),
    ("logs/app.log", 16 * CLUSTER, 13 * CLUSTER),
    ("logs/db.log", 30 * CLUSTER, 24 * CLUSTER),
    ("logs/web.log", 10 * CLUSTER, 6 * CLUSTER),
    ("logs/old.log.1", 4 * CLUSTER + 9, 0),
    ("data/exact.dat", 5 * CLUSTER + 10, 0),
    ("data/one more.dat", 5 * CLUSTER + 11, 0),
    ("data/table.dat", 9 * CLUSTER, 4 * CLUSTER),
    ("data/matrix.bin", 11 * CLUSTER, 0),
    ("data/two.bin", 2 * CLUSTER, 0),
    ("data/deep/er/leaf.cfg", 3 * CLUSTER, 0),
    ("data/deep/notes.md", 4 * CLUSTER + 2000, 0),
    ("src/main.cpp", 3 * CLUSTER + 50, 0),
    ("src/util.h", 2 * CLUSTER + 1, 0),
    ("src/build.ninja", 6 * CLUSTER, 2 * CLUSTER),
    ("Mixed Case.Txt", 5 * CLUSTER, 0),
    ("big/large.bin", 320 * CLUSTER, 260 * CLUSTER),
]
# 500 fragments 2 clusters apart: 3 bytes a run, so the runs fill the base
# record to its last byte and an extension record behind an attribute list;
# a piece moved far away lengthens the next run's offset.
ATTRLIST = ("big/pieces 500.dat", 500 * CLUSTER)
# Files too big for the bounded free run of the tight image.
BIG = ("big/large.bin", ATTRLIST[0])
UNFRAGMENTED = [("docs/notes.txt", 20 * KB), ("media/cover.png", 100 * KB),
                ("plain/contig.bin", 64 * KB), ("docs/tiny.txt", 300), ("docs/empty.txt", 0)]
COMPRESSED = [("packed/text.txt", 160 * KB), ("packed/random.bin", 40 * KB)]
LATE = ("media/movie.avi", 400 * CLUSTER)
SPARSE = "sparse/holes.dat"
INDEX_FOLDER = "index"


def run(args, **kw):
    return subprocess.run(args, env=ENV, capture_output=True, **kw)


def must(args):
    r = run(args)
    if r.returncode != 0:
        raise SystemExit("%s failed: %s" % (args[0], r.stderr.decode("utf-8", "replace")[-1000:]))
    return r.stdout


def content(rel, size):
    if rel.endswith(".txt") or rel.endswith(".log"):
        line = ("%s: the quick brown fox jumps over the lazy dog\n" % rel).encode()
        return (line * (size // len(line) + 1))[:size]
    return random.Random(rel).randbytes(size)


def wpath(rel):
    return "V:\\" + rel.replace("/", "\\")


class Mount:
    """An ntfs-3g mount of an image for the lifetime of a with-block."""

    def __init__(self, img, where, *opts):
        self.img, self.where, self.opts = img, where, opts

    def __enter__(self):
        os.makedirs(self.where, exist_ok=True)
        must(["ntfs-3g"] + [x for o in self.opts for x in ("-o", o)] + [self.img, self.where])
        return self.where

    def __exit__(self, *exc):
        must(["umount", self.where])


def write(mnt, rel, data, chunk=None, at=0):
    path = os.path.join(mnt, rel)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "r+b" if at else "wb", buffering=0) as f:
        f.seek(at)
        step = chunk or max(len(data), 1)
        for pos in range(0, len(data), step):
            f.write(data[pos:pos + step])


def fill(mnt, prefix, size, limit=None):
    """Files of `size` bytes until the volume (or `limit`) is full; their names."""
    names = []
    while limit is None or len(names) < limit:
        name = "fill/%s%05d" % (prefix, len(names))
        try:
            write(mnt, name, b"F" * size)
        except OSError:
            if os.path.exists(os.path.join(mnt, name)):
                os.remove(os.path.join(mnt, name))
            break
        names.append(name)
    return names


def volume_map(img):
    """Every non-resident attribute's runs from ntfscluster: {inode: {"path", "attrs"}}.

    attrs maps "$DATA", "$INDEX_ALLOCATION($I30)", ... to [(vcn, lcn, count)].
    """
    info = must(["ntfsinfo", "-m", img]).decode("utf-8", "replace")
    clusters = int(re.search(r"Volume Size in Clusters: (\d+)", info).group(1))
    text = must(["ntfscluster", "-v", "-c", "0-%d" % (clusters - 1), img])
    inodes, pending = {}, None
    for line in text.decode("utf-8", "replace").splitlines():
        m = re.match(r"\t\t(\d+)\t(\d+)-(\d+) \((\d+)\)$", line)
        if m:
            vcn, first, last, count = (int(g) for g in m.groups())
            if last - first + 1 != count:
                raise SystemExit("ntfscluster: unexpected run line " + line)
            pending = (vcn, first, count)
            continue
        m = re.match(r"Inode (\d+) (/.*)/(\$[A-Z_]+(?:\(.*\))?)$", line)
        if m and pending:
            item = inodes.setdefault(int(m.group(1)), {"path": m.group(2), "attrs": {}})
            item["attrs"].setdefault(m.group(3), []).append(pending)
            pending = None
    for item in inodes.values():
        for runs in item["attrs"].values():
            runs.sort()
    return clusters, inodes


def movable_data(inodes):
    """{relative path: runs} of the unnamed data moves may touch (not metafiles, not folders)."""
    out = {}
    for number, item in inodes.items():
        if number < 24 or item["path"].startswith("/$Extend"):
            continue
        if any(a.startswith("$INDEX_ALLOCATION") for a in item["attrs"]):
            continue
        if "$DATA" in item["attrs"]:
            out[item["path"].lstrip("/")] = item["attrs"]["$DATA"]
    return out


def folders(inodes):
    """{relative path: index runs} of every folder with an index allocation below the root."""
    return {item["path"].lstrip("/"): item["attrs"]["$INDEX_ALLOCATION($I30)"]
            for number, item in inodes.items()
            if number >= 24 and "$INDEX_ALLOCATION($I30)" in item["attrs"]
            and not item["path"].startswith("/$Extend")}


def bitmap(img, clusters):
    data = must(["ntfscat", img, "$Bitmap"])
    return [(data[i >> 3] >> (i & 7)) & 1 for i in range(clusters)]


def free_runs(bits):
    runs, start = [], None
    for i, b in enumerate(bits + [1]):
        if not b and start is None:
            start = i
        elif b and start is not None:
            runs.append((start, i - start))
            start = None
    return runs


def contents(img, work):
    """{path: (size, sha256)} of every file as a read-only ntfs-3g mount reads it."""
    out = {}
    with Mount(img, os.path.join(work, "ro"), "ro") as mnt:
        for top, dirs, files in os.walk(mnt):
            for name in files:
                path = os.path.join(top, name)
                with open(path, "rb") as f:
                    data = f.read()
                out[os.path.relpath(path, mnt)] = (len(data), hashlib.sha256(data).hexdigest())
    return out


class State:
    """What the tools say about an image: map, bitmap and contents."""

    def __init__(self, img, work):
        self.clusters, self.inodes = volume_map(img)
        self.bits = bitmap(img, self.clusters)
        self.data = movable_data(self.inodes)
        self.folders = folders(self.inodes)
        self.files = contents(img, work)

    def fragments(self, rel):
        return fragments_of(self.data.get(rel, []))

    def fragmented(self):
        return sorted(p for p, r in self.data.items() if fragments_of(r) > 1)

    def free(self):
        return self.clusters - sum(self.bits)


def build(work):
    """Makes pristine.img (fillers gone) and tight.img (one free run of R clusters); returns R."""
    mid = os.path.join(work, "mid.img")
    with open(mid, "wb") as f:
        f.truncate(VOLUME_BYTES)
    must(["mkntfs", "-F", "-Q", "-q", "-c", str(CLUSTER), "-L", "MOVES", mid])
    mnt = os.path.join(work, "mnt")
    total = sum(size - head for _, size, head in TARGETS) // CLUSTER
    total += 16
    holes_needed = total + total // 4 + 64
    with Mount(mid, mnt, "compression"):
        # ntfs-3g writes compressed data only into whole free compression
        # units: these files are written now, each in two parts with other
        # files between them, so their runs are split.
        os.makedirs(os.path.join(mnt, "packed"))
        os.setxattr(os.path.join(mnt, "packed"), "system.ntfs_attrib_be", bytes([0, 0, 8, 0]))
        for rel, size in COMPRESSED:
            write(mnt, rel, content(rel, size)[:size // 2])
        for rel, size in UNFRAGMENTED:
            write(mnt, rel, content(rel, size))
        for rel, size, head in TARGETS:
            write(mnt, rel, content(rel, size)[:head])
        for rel, size in COMPRESSED:
            write(mnt, rel, content(rel, size)[size // 2:], at=size // 2)
        os.makedirs(os.path.join(mnt, INDEX_FOLDER))
        lone = fill(mnt, "a", CLUSTER, 4 * (ATTRLIST[1] // CLUSTER + 16))
        band = fill(mnt, "b", CLUSTER, 2 * holes_needed)
        fill(mnt, "u", 16 * CLUSTER)
        fill(mnt, "z", CLUSTER)
    # Every other filler of a band in LCN order goes, leaving 1-cluster
    # holes. The attribute-list file has its band to itself, and only one
    # stretch of it (ntfs-3g spread the fillers over two), so that its
    # pieces lie close together.
    _, inodes = volume_map(mid)
    lcn = {i["path"].lstrip("/"): i["attrs"]["$DATA"][0][1] for i in inodes.values()
           if i["path"].startswith("/fill/") and "$DATA" in i["attrs"]}
    stretches = [[]]
    for name in sorted(lone, key=lcn.get):
        if stretches[-1] and lcn[name] - lcn[stretches[-1][-1]] > 8:
            stretches.append([])
        stretches[-1].append(name)
    stretch = max(stretches, key=len)[:len(lone) // 2]
    if len(stretch) < len(lone) // 2:
        raise SystemExit("image: the attribute-list band has no stretch of %d fillers"
                         % (len(lone) // 2))
    with Mount(mid, mnt, "compression"):
        for name in stretch[0::2]:
            os.remove(os.path.join(mnt, name))
        write(mnt, ATTRLIST[0], content(*ATTRLIST), chunk=KB)
        for name in sorted(band, key=lcn.get)[0::2]:
            os.remove(os.path.join(mnt, name))
        for rel, size, head in TARGETS:
            write(mnt, rel, content(rel, size)[head:], chunk=KB, at=head)
        write(mnt, SPARSE, content(SPARSE, 5 * CLUSTER), chunk=KB)
        write(mnt, SPARSE, content(SPARSE + "2", 6 * CLUSTER), chunk=KB, at=64 * CLUSTER)
        os.truncate(os.path.join(mnt, SPARSE), 100 * CLUSTER)
        for i in range(120):
            name = "an entry with a long name so that the index needs many blocks %03d" % i
            open(os.path.join(mnt, INDEX_FOLDER, name), "wb").close()

    pristine = os.path.join(work, "pristine.img")
    shutil.copyfile(mid, pristine)
    with Mount(pristine, mnt):
        shutil.rmtree(os.path.join(mnt, "fill"))
        # A large whole file, wherever ntfs-3g finds room for it.
        write(mnt, LATE[0], content(*LATE))

    # The tight image: the holes' neighbours stay, so vacated clusters never
    # join into runs; a window of adjacent upper fillers is freed, large
    # enough for every fragmented item but the big files together.
    _, inodes = volume_map(mid)
    data = movable_data(inodes)
    items = dict(folders(inodes), **data)
    room = sum(sum(c for _, _, c in runs) for rel, runs in items.items()
               if fragments_of(runs) > 1 and rel not in BIG and rel.split("/")[0] != "fill")
    uppers = sorted((runs[0][1], runs[0][2], rel) for rel, runs in data.items()
                    if rel.startswith("fill/u") and len(runs) == 1)
    window = None
    for i in range(len(uppers)):
        got, end, j = 0, uppers[i][0], i
        while j < len(uppers) and uppers[j][0] == end and got < room:
            got, end, j = got + uppers[j][1], end + uppers[j][1], j + 1
        if got >= room:
            window = (got, [u[2] for u in uppers[i:j]])
            break
    if window is None:
        raise SystemExit("no run of %d adjacent filler clusters for the tight image" % room)
    tight = os.path.join(work, "tight.img")
    shutil.copyfile(mid, tight)
    with Mount(tight, mnt):
        for rel in window[1]:
            os.remove(os.path.join(mnt, rel))
    os.remove(mid)
    return window[0]


def judge(img, before, what, work):
    """The volume checks after an operation; returns the new State."""
    r = run(["ntfsfix", "-n", img])
    ok_lines = (r"Mounting volume\.\.\. OK",
                r"Processing of \$MFT and \$MFTMirr completed successfully\.",
                r"Checking the alternate boot sector\.\.\. OK", r"NTFS volume version is 3\.1\.",
                r"NTFS partition .* was processed successfully\.")
    other = [l for l in r.stdout.decode("utf-8", "replace").splitlines()
             if l.strip() and not any(re.match(p + "$", l) for p in ok_lines)]
    check(r.returncode == 0 and not other,
          "%s: ntfsfix -n exit %d: %s" % (what, r.returncode, other))
    r = run(["ntfsresize", "-i", "-f", img])
    out = r.stdout.decode("utf-8", "replace") + r.stderr.decode("utf-8", "replace")
    check(r.returncode == 0 and "Accounting clusters" in out and "rror" not in out,
          "%s: ntfsresize -i: %s" % (what, out.strip()[-300:]))
    after = State(img, work)
    owners = [0] * after.clusters
    for item in after.inodes.values():
        for runs in item["attrs"].values():
            for _, lcn, count in runs:
                for c in range(lcn, min(lcn + count, after.clusters)):
                    owners[c] += 1
    twice = [c for c, n in enumerate(owners) if n > 1]
    check(not twice, "%s: clusters owned twice: %s" % (what, twice[:10]))
    stray = [c for c in range(after.clusters) if after.bits[c] != (owners[c] > 0)]
    check(not stray, "%s: %d clusters where the bitmap and the owners differ, first %s"
          % (what, len(stray), stray[:10]))
    check(after.free() == before.free(), "%s: %d free clusters, %d before"
          % (what, after.free(), before.free()))
    changed = sorted(p for p in set(before.files) | set(after.files)
                     if before.files.get(p) != after.files.get(p))
    check(not changed, "%s: files read differently through the mount: %s" % (what, changed[:10]))
    return after


def cli(vantrel, args, what, expect_rc=0):
    r = run([vantrel] + args)
    check(r.returncode == expect_rc, "%s: vantrel-cli exit %d (expected %d): %s"
          % (what, r.returncode, expect_rc, r.stderr.decode("utf-8", "replace")[-500:]))
    return r.stdout.decode("utf-8", "replace")


def unchanged(before, after, paths, what):
    moved = [p for p in paths if before.data.get(p) != after.data.get(p)]
    check(not moved, "%s: files that should stay where they were moved: %s" % (what, moved))


def errors_of(out, what):
    try:
        return json.loads(out)["errors"]
    except (ValueError, KeyError):
        check(False, "%s: no JSON from vantrel-cli: %s" % (what, out[-300:]))
        return []


class Checker:
    def __init__(self, vantrel, work):
        self.vantrel, self.work = vantrel, work
        self.pristine = os.path.join(work, "pristine.img")
        self.tight = os.path.join(work, "tight.img")
        self.img = os.path.join(work, "run.img")

    def fresh(self, source):
        shutil.copyfile(source, self.img)
        return self.img

    def cli(self, args, what, expect_rc=0):
        return cli(self.vantrel, args, what, expect_rc)

    def expect_errors(self, errors, expected, what):
        """errors (the cli's list) must hold exactly `expected`: {path or message: error code}."""
        got = {}
        for e in errors:
            key = e["path"] if e["error"] else e["message"]
            got[key] = e["error"]
        check(got == expected, "%s: listed %s, expected %s" % (what, sorted(got.items()),
                                                             sorted(expected.items())))

    def pass_outcome(self, before, after, admitted, what):
        """admitted files end in one fragment; every other file stays where it was."""
        left = [(p, after.fragments(p)) for p in admitted if after.fragments(p) != 1]
        check(not left, "%s: still fragmented: %s" % (what, left))
        unchanged(before, after, [p for p in before.data if p not in admitted], what)

    def folders_joined(self, before, after, what):
        """Every fragmented folder's index ends in one run."""
        left = [(f, fragments_of(after.folders.get(f, []))) for f, r in before.folders.items()
                if fragments_of(r) > 1 and fragments_of(after.folders.get(f, [])) != 1]
        check(not left, "%s: folders still fragmented: %s" % (what, left))

    def defrag_files(self, P):
        """defrag-file on every fragmented file as one batch, then on a fragmented folder."""
        what = "defrag-file"
        img = self.fresh(self.pristine)
        targets = P.fragmented()
        out = self.cli(["defrag-file", img] + [wpath(p) for p in targets] + ["--json"], what)
        try:
            results = {r["path"]: r for r in json.loads(out)["files"]}
        except (ValueError, KeyError):
            results = {}
        bad = [(p, results.get(wpath(p))) for p in targets
               if results.get(wpath(p), {}).get("result") != "defragmented"]
        check(not bad, "%s: not defragmented by the cli's account: %s" % (what, bad))
        after = judge(img, P, what, self.work)
        self.pass_outcome(P, after, targets, what)

        # A folder's index blocks move too; the files in it stay where they are.
        folder = [f for f, runs in P.folders.items() if fragments_of(runs) > 1][0]
        what = "defrag-file on folder " + folder
        out = self.cli(["defrag-file", img, wpath(folder), "--json"], what)
        try:
            results = json.loads(out)["files"]
        except (ValueError, KeyError):
            results = []
        check(len(results) == 1 and results[0]["result"] == "defragmented",
              "%s: the cli reports %s" % (what, results))
        again = judge(img, after, what, self.work)
        check(fragments_of(again.folders.get(folder, [])) == 1 and again.data == after.data,
              "%s: index %s, files moved: %s" % (what, again.folders.get(folder),
                                                 again.data != after.data))
        print("defrag-file: %d fragmented files, one fragment each; folder %s too"
              % (len(targets), folder))

    def outer_track(self, P):
        what = "defrag-file --placement outer-track"
        rel = "media/clip.mp3"
        size = sum(c for _, _, c in P.data[rel])
        runs = [r for r in free_runs(P.bits) if r[1] >= size]
        img = self.fresh(self.pristine)
        self.cli(["defrag-file", img, wpath(rel), "--placement", "outer-track", "--json"], what)
        after = judge(img, P, what, self.work)
        end = runs[-1][0] + runs[-1][1]
        check(after.data.get(rel) == [(0, end - size, size)],
              "%s: %s lies at %s, expected at the end of the last run that holds it (%d-%d)"
              % (what, rel, after.data.get(rel), end - size, end - 1))
        unchanged(P, after, [p for p in P.data if p != rel], what)
        print("outer track: %s (%d clusters) ends at LCN %d" % (rel, size, end - 1))

    def drive_pass(self, P, flt, admitted, expected_errors, what):
        img = self.fresh(self.pristine)
        out = self.cli(["defrag", img, "--filter", flt, "--json"], what)
        after = judge(img, P, what, self.work)
        self.pass_outcome(P, after, admitted, what)
        self.expect_errors(errors_of(out, what), expected_errors, what)
        print("defrag --filter %s: %d files taken, %d lines listed"
              % (flt, len(admitted), len(expected_errors)))
        return after

    def filters(self, P):
        fragmented = P.fragmented()
        folders = {}  # folders are moved like files: nothing is listed for them
        after = self.drive_pass(P, "all", fragmented, folders, "defrag --filter all")
        check(not after.fragmented(), "defrag --filter all: fragmented files left: %s"
              % after.fragmented())
        self.folders_joined(P, after, "defrag --filter all")

        # Size: a file of exactly the threshold is taken, one byte more is not.
        limit = P.files["data/exact.dat"][0]
        check(P.files["data/one more.dat"][0] == limit + 1 and "data/one more.dat" in fragmented,
              "image: the size pair is not as made")
        taken = [p for p in fragmented if P.files[p][0] <= limit]
        what = "defrag --filter size:%d" % limit
        img = self.fresh(self.pristine)
        out = self.cli(["defrag", img, "--filter", "size:%d" % limit, "--json"], what)
        after = judge(img, P, what, self.work)
        self.pass_outcome(P, after, taken, what)
        errors = errors_of(out, what)
        skipped = {}
        for e in errors:
            m = re.match(r"File ignored\. Size equals \((\d+(?:\.\d+)? (?:bytes|KB|MB))\) (.*) $",
                         e["message"])
            if m:
                skipped[m.group(2)] = e
        self.expect_errors([e for e in errors if e["message"] not in
                            [s["message"] for s in skipped.values()]], folders, what)
        left_out = sorted(wpath(p) for p in fragmented if p not in taken)
        check(sorted(skipped) == left_out,
              "%s: skipped %s, expected %s" % (what, sorted(skipped), left_out))
        print("%s: %d files taken, %d skipped with their sizes" % (what, len(taken), len(skipped)))

        # Degree: a file exactly at the threshold is taken.
        def degree(p):
            runs = P.data[p]
            return fragments_of(runs) / sum(c for _, _, c in runs) * 100.0
        threshold = degree("logs/web.log")
        taken = [p for p in fragmented if degree(p) >= threshold]
        expected = {}
        for f, runs in P.folders.items():
            d = fragments_of(runs) / sum(c for _, _, c in runs) * 100.0
            if fragments_of(runs) < 2:
                continue
            if d < threshold:
                line = "File ignored. Percent fragmented equals (%.02f%%) %s " % (d, wpath(f))
                expected[line] = 0
        for p in fragmented:
            if p not in taken:
                expected["File ignored. Percent fragmented equals (%.02f%%) %s " %
                         (degree(p), wpath(p))] = 0
        check(0 < len(taken) < len(fragmented), "image: degree %r splits nothing" % threshold)
        self.drive_pass(P, "degree:%r" % threshold, taken, expected,
                        "defrag --filter degree:%r" % threshold)

        # Types: case-insensitive, judged from the last dot; a name without
        # a dot always passes; files left out by type are not listed.
        def ext(p):
            name = p.rsplit("/", 1)[-1]
            return name[name.rfind("."):].lower() if "." in name else None
        only = [p for p in fragmented if ext(p) in (None, ".txt", ".jpg")]
        self.drive_pass(P, "only:.txt,.JPG", only, folders, "defrag --filter only:.txt,.JPG")
        exclude = [p for p in fragmented if ext(p) not in (".log", ".dat", ".gz")]
        self.drive_pass(P, "exclude:.LOG,dat,.gz", exclude, folders,
                        "defrag --filter exclude:.LOG,dat,.gz")

    def no_room(self, T, room):
        """Too little contiguous room: what fits is defragmented, the rest listed (text report)."""
        what = "defrag --filter all with %d free clusters in one run" % room
        runs = free_runs(T.bits)
        check(max(r[1] for r in runs) == room, "tight image: largest free run %d, expected %d"
              % (max(r[1] for r in runs), room))
        fragmented = T.fragmented()
        fits = [p for p in fragmented if p not in BIG]
        check(all(sum(c for _, _, c in T.data[p]) > room for p in BIG),
              "tight image: a big file fits the free run")
        img = self.fresh(self.tight)
        # Without make room: the big files find no free run and are listed.
        out = self.cli(["defrag", img, "--filter", "all", "--make-room", "off"], what)
        after = judge(img, T, what, self.work)
        self.pass_outcome(T, after, fits, what)
        lines = out.splitlines()
        head = "The following files could not be processed."
        listed = lines[lines.index(head) + 1:] if head in lines else []
        listed = [l for l in listed if l.strip()]
        expected = [NO_ROOM % wpath(p) for p in BIG]
        check(all(l in listed for l in expected), "%s: printed %s, expected %s among them"
              % (what, listed, expected))
        # A fragmented folder either moves or finds no room either.
        others = [l for l in listed if l not in expected and not any(
            l == NO_ROOM % wpath(f) for f, r in T.folders.items() if fragments_of(r) > 1)]
        check(not others, "%s: unexpected lines %s" % (what, others))
        print("%s: %d files defragmented, listed: %s" % (what, len(fits), listed))

    def free_space(self, P):
        virtual = {rel for rel, _ in COMPRESSED} | {SPARSE}
        for mode in ("maximize", "dont-fragment"):
            what = "freespace --mode " + mode
            img = self.fresh(self.pristine)
            out = self.cli(["freespace", img, "--mode", mode, "--json"], what)
            after = judge(img, P, what, self.work)
            try:
                result = json.loads(out)
            except ValueError:
                result = {"moved_clusters": 0, "errors": []}
            check(result["moved_clusters"] > 0, "%s: nothing moved" % what)
            check(not result["errors"], "%s: listed %s" % (what, result["errors"]))
            gaps = (len(free_runs(P.bits)), len(free_runs(after.bits)))
            split = [(p, after.fragments(p)) for p in P.data
                     if P.fragments(p) == 1 and after.fragments(p) > 1]
            if mode == "maximize":
                self.maximized(after, virtual, what)
                # Whole files lie above gaps too small for them: filling those
                # means splitting some, which the other mode must not do.
                check(split, "%s: no whole file was split; the image does not put "
                      "dont-fragment to the test" % what)
            else:
                check(not split, "%s: files split: %s" % (what, split))
            print("%s: %d clusters moved, free runs %d before, %d after, %d whole files split"
                  % (what, result["moved_clusters"], gaps[0], gaps[1], len(split)))

    def maximized(self, after, virtual, what):
        """Free space lies above all movable data but for unmovable items and whole-file moves."""
        runs = free_runs(after.bits)
        lowest = runs[0][0]
        items = dict(after.data, **{f + "/": r for f, r in after.folders.items()})
        above = sorted(p for p, r in items.items() if p not in virtual
                       and any(lcn + n - 1 > lowest for _, lcn, n in r))
        check(not above, "%s: data above the first free cluster %d: %s" % (what, lowest, above))
        for p in virtual:
            r = after.data.get(p, [])
            if not r:
                continue
            size, first, bottom = sum(n for _, _, n in r), r[0][1], min(lcn for _, lcn, _ in r)
            fits = [run for run in runs if run[0] < first and bottom >= run[0] and size <= run[1]]
            check(not fits, "%s: %s (%d clusters) could have moved whole into %s"
                  % (what, p, size, fits[:3]))


def main():
    if len(sys.argv) != 2:
        raise SystemExit(__doc__)
    missing = [t for t in TOOLS if not shutil.which(t, path=ENV["PATH"])]
    if missing:
        print("SKIPPED: missing " + ", ".join(missing))
        return 77
    if os.geteuid() != 0:
        print("SKIPPED: mounting with ntfs-3g needs root")
        return 77
    work = tempfile.mkdtemp(prefix="vt-ntfs-moves.")
    try:
        probe = os.path.join(work, "probe.img")
        with open(probe, "wb") as f:
            f.truncate(8 << 20)
        must(["mkntfs", "-F", "-Q", "-q", probe])
        mnt = os.path.join(work, "mnt")
        os.makedirs(mnt)
        if run(["ntfs-3g", probe, mnt]).returncode != 0:
            print("SKIPPED: ntfs-3g cannot mount here (no FUSE?)")
            return 77
        must(["umount", mnt])
        home = os.path.join(work, "home")
        os.makedirs(home)
        ENV.update(HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"),
                   XDG_CACHE_HOME=os.path.join(home, ".cache"))
        room = build(work)
        checker = Checker(sys.argv[1], work)
        P = State(checker.pristine, work)
        T = State(checker.tight, work)
        check(len(P.fragmented()) >= 24, "image: only %d fragmented files" % len(P.fragmented()))
        check(any(fragments_of(r) > 1 for r in P.folders.values()), "image: no fragmented folder")
        check(any("$ATTRIBUTE_LIST" in i["attrs"] for i in P.inodes.values() if i["path"] ==
                  "/big/pieces 500.dat"), "image: pieces 500.dat has no attribute list")
        print("image: %d fragmented files, %d free clusters; tight image: one run of %d"
              % (len(P.fragmented()), P.free(), room))
        checker.defrag_files(P)
        checker.outer_track(P)
        checker.filters(P)
        checker.no_room(T, room)
        checker.free_space(P)
    finally:
        for mnt in ("mnt", "ro"):
            path = os.path.join(work, mnt)
            if os.path.ismount(path):
                run(["umount", path])
        shutil.rmtree(work)
    print("%d failures" % len(analysis.failures))
    return 1 if analysis.failures else 0


if __name__ == "__main__":
    sys.exit(main())
