#!/usr/bin/env python3
"""Names in every script and long paths, end to end on FAT and NTFS images.

A FAT16 image (mkfs.fat + mcopy) and an NTFS image (mkntfs + an ntfs-3g
mount) hold the same fragmented files named in Cyrillic, Hebrew, CJK, emoji
and Latin-1, names with several dots or none, and one file whose path is
longer than 300 characters. On each image `files --all --json` must list
every one by its real name; `defrag-file` given such a name, `defrag
--filter all` and `freespace --mode maximize` each run on a fresh copy, after
which the file system's own tools must find it clean with every file's bytes
unchanged. When the Windows build and Wine are there, vantrel-cli.exe must
list the same names as the native build.

usage: check_unicode_names.py VANTREL_CLI [VANTREL_CLI_EXE]
(NTFS needs root and FUSE; the parts that cannot run here are skipped.)
"""
import hashlib
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_ntfs_analysis as analysis  # noqa: E402
import check_ntfs_moves as ntfs  # noqa: E402
from fat_image import Fat  # noqa: E402

check = analysis.check
ENV = ntfs.ENV
LONG_DIRS = ["Überschrift über lange Ordnernamen, Teil %d — Ünïcödé" % i for i in range(1, 7)]
# (relative path, size in bytes); every file is written into scattered holes.
FILES = [
    ("Документы/Отчёт за 2024 год.txt", 9000),
    ("עברית/מסמך חשוב.txt", 7000),
    ("中文资料/数据 文件.dat", 8000),
    ("日本語のファイル名.bin", 6500),
    ("emoji ⚡/party ☕❤.log", 5000),
    ("Café 12.txt", 4000),
    ("naïve Résumé.doc", 4500),
    ("archive.tar.gz.bak", 6000),
    ("Makefile", 3500),
    ("/".join(LONG_DIRS) + "/am Ende angekommen.txt", 7500),
]
LONG = FILES[-1][0]
# mtools keeps only characters of the Basic Multilingual Plane; emoji beyond
# it (surrogate pairs in UTF-16) are written on NTFS alone.
ASTRAL = [("emoji 🎉/party 🎈🎂.txt", 5500)]
FRAGMENTED_BY_NAME = "Документы/Отчёт за 2024 год.txt"


def data_of(rel, size):
    seed = hashlib.sha256(rel.encode()).digest()
    return (seed * (size // len(seed) + 1))[:size]


def wpath(rel):
    return "V:\\" + rel.replace("/", "\\")


def listed(out, what):
    try:
        items = json.loads(out)["files"]
    except (ValueError, KeyError):
        check(False, "%s: no JSON listing: %s" % (what, out[-300:]))
        return {}
    return {i["path"]: i for i in items}


def check_listing(vantrel, img, files, what):
    """Every file by its real name, as `files --all --json` lists it."""
    out = ntfs.cli(vantrel, ["files", img, "--all", "--json"], what)
    items = listed(out, what)
    missing = [rel for rel, _ in files if wpath(rel) not in items]
    check(not missing, "%s: not listed by their names: %s" % (what, missing))
    check(len(wpath(LONG)) > 300, "%s: the long path has only %d characters" % (what, len(LONG)))
    return items


def check_operations(vantrel, files, fresh, judge, fragments, maximized, what):
    """The three operations, each on a fresh copy, judged by the tools."""
    img = fresh()
    before = judge(img, None, what + ": image")
    print("%s: %d named files in %d fragments; longest path %d characters"
          % (what, len(files), sum(fragments(before, rel) for rel, _ in files),
             max(len(wpath(rel)) for rel, _ in files)))
    check(all(fragments(before, rel) > 1 for rel, _ in files),
          "%s: image: not every file is fragmented: %s"
          % (what, [(rel, fragments(before, rel)) for rel, _ in files]))
    for rel in (FRAGMENTED_BY_NAME, LONG, files[-1][0]):
        img = fresh()
        step = "%s: defrag-file %s" % (what, rel[-30:])
        ntfs.cli(vantrel, ["defrag-file", img, wpath(rel)], step)
        after = judge(img, before, step)
        check(fragments(after, rel) == 1, "%s: %d fragments" % (step, fragments(after, rel)))
    img = fresh()
    step = what + ": defrag --filter all"
    ntfs.cli(vantrel, ["defrag", img, "--filter", "all"], step)
    after = judge(img, before, step)
    left = [(rel, fragments(after, rel)) for rel, _ in files if fragments(after, rel) != 1]
    check(not left, "%s: still fragmented: %s" % (step, left))
    img = fresh()
    step = what + ": freespace --mode maximize"
    # The metafiles, the root folder among them, are unmovable and not tried:
    # nothing is listed and the pass ends cleanly.
    r = subprocess.run([vantrel, "freespace", img, "--mode", "maximize", "--json"],
                       env=ENV, capture_output=True, check=False)
    try:
        listed = {e["path"]: e["error"] for e in json.loads(r.stdout)["errors"]}
    except (ValueError, KeyError):
        listed = None
    check(listed == {} and r.returncode == 0,
          "%s: exit %d, listed %s: %s" % (step, r.returncode, listed, r.stderr[-300:]))
    maximized(judge(img, before, step), step)


# ---------------------------------------------------------------- FAT

class FatState:
    """The FAT image as its first FAT and directories say, and as mcopy reads it."""

    def __init__(self, img, work):
        self.fat = Fat(img)
        self.chains, self.folders = {}, set()
        with open(img, "rb") as f:
            self.image = f.read()
        bs = self.image
        bps = struct.unpack_from("<H", bs, 11)[0]
        root = (struct.unpack_from("<H", bs, 14)[0] + bs[16] * struct.unpack_from("<H", bs, 22)[0])
        self.walk(self.image[root * bps:self.fat.data_offset], "")
        out = tempfile.mkdtemp(dir=work)
        copy = ntfs.run(["mcopy", "-s", "-n", "-i", img, "::*", out + "/"])
        check(copy.returncode == 0, "mcopy: %s" % copy.stderr.decode("utf-8", "replace"))
        self.files = {}
        for top, _, names in os.walk(out):
            for name in names:
                with open(os.path.join(top, name), "rb") as fh:
                    self.files[os.path.relpath(os.path.join(top, name), out)] = \
                        hashlib.sha256(fh.read()).hexdigest()
        shutil.rmtree(out)

    def walk(self, entries, prefix):
        for at in range(0, len(entries) - 31, 32):
            e = entries[at:at + 32]
            if e[0] == 0:
                break
            if e[0] == 0xE5 or e[11] == 0x0F or e[11] & 0x08 or e[0] == 0x2E:
                continue
            first = struct.unpack_from("<H", e, 26)[0]
            key = prefix + e[:11].decode("latin-1")
            chain = self.fat.chain(first) or []
            if e[11] & 0x10:
                self.folders.update(chain)
                data = b"".join(self.cluster(c) for c in chain)
                self.walk(data, key + "/")
            else:
                self.chains[key] = chain

    def cluster(self, c):
        start = self.fat.data_offset + (c - 2) * self.fat.cluster_bytes
        return self.image[start:start + self.fat.cluster_bytes]


def fat_build(img, work):
    def tool(*args):
        r = ntfs.run(list(args))
        if r.returncode != 0:
            raise SystemExit("%s: %s" % (" ".join(args), r.stderr.decode("utf-8", "replace")))

    def put(rel, data):
        src = os.path.join(work, "src")
        with open(src, "wb") as f:
            f.write(data)
        tool("mcopy", "-i", img, src, "::" + rel)

    tool("mkfs.fat", "-C", "-F", "16", "-s", "1", "-S", "512", "-n", "NAMES", img, "8192")
    folders = sorted({"/".join(rel.split("/")[:k]) for rel, _ in FILES
                      for k in range(1, rel.count("/") + 1)}, key=len)
    # Folders first, with room for their entries, so that their clusters stay put.
    for d in folders:
        tool("mmd", "-i", img, "::" + d)
        for i in range(12):
            put("%s/pad%02d" % (d, i), b"")
        tool("mdel", "-i", img, *["::%s/pad%02d" % (d, i) for i in range(12)])
    fillers = ["f%04d" % i for i in range(sum(s for _, s in FILES) // 512 * 2 + 40)]
    for name in fillers:
        put(name, b"x" * 512)
    tool("mdel", "-i", img, *["::" + n for n in fillers[::2]])
    for rel, size in FILES:
        put(rel, data_of(rel, size))
    tool("mdel", "-i", img, *["::" + n for n in fillers[1::2]])


def fat_part(vantrel, work):
    pristine = os.path.join(work, "names.fat")
    fat_build(pristine, work)
    P = FatState(pristine, work)
    expected = {rel: hashlib.sha256(data_of(rel, size)).hexdigest() for rel, size in FILES}
    check(all(P.files.get(rel) == sha for rel, sha in expected.items()),
          "FAT image: mcopy reads other names or bytes: %s" % sorted(P.files))
    check_listing(vantrel, pristine, FILES, "FAT files --all")
    # Which 8.3 entry is which file: the chain that holds the file's bytes.
    owner = {}
    for rel, size in FILES:
        data = data_of(rel, size)
        for key, chain in P.chains.items():
            if b"".join(P.cluster(c) for c in chain)[:size] == data:
                owner[rel] = key
    check(len(owner) == len(FILES), "FAT image: files not found by content: %s"
          % [r for r, _ in FILES if r not in owner])

    def fresh():
        img = os.path.join(work, "run.fat")
        shutil.copyfile(pristine, img)
        return img

    def judge(img, before, what):
        r = ntfs.run(["fsck.fat", "-n", img])
        text = r.stdout.decode("utf-8", "replace")
        problems = [l for l in text.splitlines() if l and not l.startswith("fsck.fat ")
                    and ": " not in l]
        check(r.returncode == 0 and not problems, "%s: fsck.fat -n: %s" % (what, problems))
        state = FatState(img, work)
        if before is not None:
            check(state.files == before.files, "%s: files read differently by mcopy" % what)
        return state

    def fragments(state, rel):
        chain = state.chains.get(owner.get(rel), [])
        return len(chain) and 1 + sum(b != a + 1 for a, b in zip(chain, chain[1:]))

    def maximized(state, what):
        runs = state.fat.free_run_list()
        lowest = runs[0][0] if runs else state.fat.clusters + 2
        above = sorted(k for k, chain in state.chains.items() if any(c > lowest for c in chain))
        check(not above, "%s: file data above the first free cluster %d: %s"
              % (what, lowest, above))

    check_operations(vantrel, FILES, fresh, judge, fragments, maximized, "FAT")
    return pristine


# ---------------------------------------------------------------- NTFS

def ntfs_part(vantrel, work):
    img = os.path.join(work, "names.ntfs")
    with open(img, "wb") as f:
        f.truncate(16 << 20)
    ntfs.must(["mkntfs", "-F", "-Q", "-q", "-c", "1024", "-L", "NAMES", img])
    mnt = os.path.join(work, "mnt")
    targets = FILES + ASTRAL
    with ntfs.Mount(img, mnt):
        for rel, _ in targets:
            os.makedirs(os.path.join(mnt, os.path.dirname(rel)), exist_ok=True)
        # A band of one-cluster fillers, then the rest of the volume full.
        band = ntfs.fill(mnt, "b", 1024, 2 * (sum(s for _, s in targets) // 1024 + 64))
        rest = ntfs.fill(mnt, "u", 16 * 1024) + ntfs.fill(mnt, "z", 1024)
    _, inodes = ntfs.volume_map(img)
    lcn = {i["path"].lstrip("/"): i["attrs"]["$DATA"][0][1] for i in inodes.values()
           if i["path"].startswith("/fill/") and "$DATA" in i["attrs"]}
    band.sort(key=lambda n: lcn.get(n, 0))
    with ntfs.Mount(img, mnt):
        # Every other filler in cluster order goes: the files land in the holes.
        for name in band[0::2]:
            os.remove(os.path.join(mnt, name))
        for rel, size in targets:
            ntfs.write(mnt, rel, data_of(rel, size), chunk=1024)
        for name in band[1::2] + rest:
            os.remove(os.path.join(mnt, name))
    P = ntfs.State(img, work)
    check_listing(vantrel, img, FILES + ASTRAL, "NTFS files --all")

    def fresh():
        copy = os.path.join(work, "run.ntfs")
        shutil.copyfile(img, copy)
        return copy

    def judge(copy, before, what):
        return ntfs.judge(copy, before or P, what, work)

    def fragments(state, rel):
        return state.fragments(rel)

    def maximized(state, what):
        runs = ntfs.free_runs(state.bits)
        lowest = runs[0][0]
        items = dict(state.data, **{f + "/": r for f, r in state.folders.items()})
        above = sorted(p for p, r in items.items() if any(lcn + n - 1 > lowest for _, lcn, n in r))
        check(not above, "%s: data above the first free cluster %d: %s" % (what, lowest, above))

    check_operations(vantrel, FILES + ASTRAL, fresh, judge, fragments, maximized, "NTFS")
    return img


# ---------------------------------------------------------------- Windows build

def same_under_wine(vantrel, exe, images, work):
    """The Windows build lists the same names as the native one."""
    runner = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools",
                          "wine-run.sh")
    env = dict(ENV, WINEPREFIX=os.path.join(work, "wine"))
    for img in images:
        native = sorted(listed(ntfs.cli(vantrel, ["files", img, "--all", "--json"], "native"),
                               "native"))
        r = subprocess.run([runner, "64", exe, "files", "Z:" + img.replace("/", "\\"), "--all",
                            "--json"], env=env, capture_output=True, timeout=600)
        out = r.stdout.decode("utf-8", "replace")
        check(r.returncode == 0, "wine %s: exit %d: %s"
              % (os.path.basename(img), r.returncode, r.stderr.decode("utf-8", "replace")[-300:]))
        windows = sorted(listed(out, "wine"))
        check(windows == native, "wine %s: names differ from the native build: %s"
              % (os.path.basename(img), sorted(set(windows) ^ set(native))[:6]))
        if windows == native:
            print("wine %s: %d names, the same as the native build"
                  % (os.path.basename(img), len(windows)))


def main():
    if len(sys.argv) not in (2, 3):
        raise SystemExit(__doc__)
    vantrel = sys.argv[1]
    work = tempfile.mkdtemp(prefix="vt-names.")
    home = os.path.join(work, "home")
    os.makedirs(home)
    ENV.update(HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"),
               XDG_CACHE_HOME=os.path.join(home, ".cache"), MTOOLS_SKIP_CHECK="1")
    images, skipped = [], []
    try:
        if all(shutil.which(t, path=ENV["PATH"]) for t in ("mkfs.fat", "mcopy", "fsck.fat")):
            images.append(fat_part(vantrel, work))
        else:
            skipped.append("FAT (dosfstools or mtools missing)")
        if any(not shutil.which(t, path=ENV["PATH"]) for t in ntfs.TOOLS):
            skipped.append("NTFS (ntfs-3g tools missing)")
        elif os.geteuid() != 0:
            skipped.append("NTFS (mounting with ntfs-3g needs root)")
        else:
            images.append(ntfs_part(vantrel, work))
        exe = sys.argv[2] if len(sys.argv) == 3 else ""
        if exe and os.path.exists(exe) and os.path.exists("/usr/lib/wine/wine64") and images:
            same_under_wine(vantrel, exe, images, work)
        else:
            skipped.append("Windows build under Wine")
    finally:
        if os.path.ismount(os.path.join(work, "mnt")):
            ntfs.run(["umount", os.path.join(work, "mnt")])
        shutil.rmtree(work, ignore_errors=True)
    for part in skipped:
        print("SKIPPED: " + part)
    print("%d failures" % len(analysis.failures))
    if analysis.failures:
        return 1
    return 77 if not images else 0


if __name__ == "__main__":
    sys.exit(main())
