#!/usr/bin/env python3
"""The drive pass and free-space consolidation of vantrel-cli on FAT images.

Builds small FAT12, FAT16 and FAT32 images with mkfs.fat and mcopy whose
fragmented files have planned names, sizes and fragment layouts, then on
fresh copies runs `defrag` with every filter (from --filter and from the
settings file), `defrag` on a nearly full volume and `freespace` in both
modes. After every run the FAT itself must show what the filter promised
(files taken are in one piece, every other file's chain is untouched), the
lines the pass prints for files it leaves must be exactly those expected,
and fsck.fat -n, fatcat -2 and mcopy must find the volume clean, with the
same counts and every file's bytes unchanged.
usage: check_fat_drive_pass.py VANTREL_CLI
"""
import json
import os
import shutil
import struct
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_fat_moves as moves  # noqa: E402
from check_fat_moves import (ENV, Fat, check, cli, files_with_first_clusters,  # noqa: E402
                             fsck_summary, run, verify)

CLUSTER = 512
# (path, size in bytes, fragment lengths in clusters), in the order they are
# written. The degree of each is fragments / clusters * 100.
TARGETS = [
    ("FOO.TXT", 3000, [2, 2, 2]),        # 50 %
    ("plain.txt", 2000, [1, 1, 1, 1]),   # 100 %
    ("a.txt.bin", 1500, [2, 1]),         # 66.67 %
    ("noext", 1536, [1, 2]),             # 66.67 %
    ("data.bin", 3072, [3, 3]),          # 33.33 %
    ("deg40.dat", 2560, [3, 2]),         # 40 %
    ("size_eq.dat", 2500, [2, 3]),       # 40 %
    ("size_big.dat", 2501, [3, 2]),      # 40 %
    ("Sub.d/deep.txt", 1000, [1, 1]),    # 100 %
    ("Sub.d/deep.bin", 3000, [2, 2, 2]), # 50 %
    ("Sub.d/nodot", 1200, [2, 1]),       # 66.67 %, its folder's dot is not its own
]
DISPLAY = {"/" + p.lower(): p for p, _, _ in TARGETS}
NO_ROOM = ("Your drive does not have sufficient contiguous free space. To defrag this file you "
           "will need to first Defrag Free Space. %s.")
SKIP_HEADER = "The following files could not be processed."


# ---------------------------------------------------------------- images

def gen(size, seed):
    """Deterministic bytes that differ at every offset."""
    out, i = bytearray(), 0
    while len(out) < size:
        out += b"%s:%08d\n" % (seed.encode(), i)
        i += 1
    return bytes(out[:size])


class Builder:
    def __init__(self, image, fat, work):
        self.image, self.fat, self.work = image, fat, work

    def clear_hint(self):
        # mtools starts FAT32 writes at FSInfo's next-free hint; without it
        # every write takes the first free clusters, so files fill gaps.
        if self.fat == 32:
            with open(self.image, "r+b") as f:
                fsinfo = struct.unpack_from("<H", f.read(64), 48)[0]
                f.seek(fsinfo * 512 + 0x1EC)
                f.write(b"\xff\xff\xff\xff")

    def put(self, path, size):
        src = os.path.join(self.work, "src")
        with open(src, "wb") as f:
            f.write(gen(size, path))
        self.clear_hint()
        r = run(["mcopy", "-i", self.image, src, "::" + path])
        if r.returncode != 0:
            raise SystemExit("mcopy %s: %s" % (path, r.stderr.decode()))

    def tool(self, *args):
        r = run(list(args))
        if r.returncode != 0:
            raise SystemExit("%s: %s" % (" ".join(args), r.stderr.decode()))


def build_base(image, fat, kib, work):
    """Fragmented TARGETS between one-piece files and folder clusters, then
    a large free tail."""
    b = Builder(image, fat, work)
    b.tool("mkfs.fat", "-C", "-F", str(fat), "-s", "1", "-S", "512", "-i", "0x1234ABCD",
           "-n", "PASS%d" % fat, "--invariant", image, str(kib))
    b.tool("mmd", "-i", image, "::Sub.d", "::Keep", "::Gap")
    # Grow the FAT32 root ahead (empty files, then gone): the targets must not
    # find it full and take a gap for it.
    pads = ["::PAD%02d" % i for i in range(24)]
    for p in pads:
        b.put(p[2:], 0)
    b.tool("mdel", "-i", image, *pads)
    gaps, n = [], 0
    for t, (_, _, pattern) in enumerate(TARGETS):
        if t == 5:
            b.tool("mmd", "-i", image, "::Mid")  # a folder cluster amid the files
        for length in pattern:
            n += 1
            gaps.append("::Gap/g%03d.dat" % n)
            b.put(gaps[-1][2:], length * CLUSTER)
            b.put("Keep/k%03d.dat" % n, (n % 3 + 1) * CLUSTER - 100)
    b.tool("mdel", "-i", image, *gaps)
    for path, size, _ in TARGETS:
        b.put(path, size)
    _, files, _ = snapshot(image)
    laid = {p: [len(r) for r in runs_of(files.get("/" + p.lower(), []))] for p, _, _ in TARGETS}
    planned = {p: pattern for p, _, pattern in TARGETS}
    if laid != planned:
        raise SystemExit("%s came out as %s, planned %s" % (image, laid, planned))


def snapshot(image):
    """The FAT, {lower-case path: chain} of every file and the set of folder
    clusters (the FAT32 root's included)."""
    fat = Fat(image)
    files, folders = {}, set()
    for path, first in files_with_first_clusters(image, with_folders=True):
        chain = fat.chain(first) or []
        if path.endswith("/"):
            folders.update(chain)
        else:
            files[path.lower()] = chain
    if fat.clusters >= 65525:
        with open(image, "rb") as f:
            folders.update(fat.chain(struct.unpack_from("<I", f.read(48), 44)[0]) or [])
    return fat, files, folders


def runs_of(chain):
    out = []
    for c in chain:
        if out and out[-1][-1] + 1 == c:
            out[-1].append(c)
        else:
            out.append([c])
    return out



def pieces(chain):
    return len(runs_of(chain))


def degree(chain):
    # As the engine computes it: fragments / clusters * 100.
    return pieces(chain) / len(chain) * 100.0 if pieces(chain) > 1 else 0.0


def byte_size(n):
    """Byte-size notation: three significant digits, cut, not rounded."""
    if n < 1024:
        return "%d bytes" % n
    for i, unit in enumerate(("KB", "MB", "GB", "TB", "PB", "EB")):
        for digits in (2, 1, 0):
            scaled = n * 10 ** digits // 1024 ** (i + 1)
            if scaled < 1000 or (digits == 0 and unit == "EB"):
                whole, frac = divmod(scaled, 10 ** digits)
                return "%d.%0*d %s" % (whole, digits, frac, unit) if digits else \
                    "%d %s" % (whole, unit)


def v_path(path):
    name = DISPLAY.get(path, path.lstrip("/"))
    return "V:\\" + name.replace("/", "\\")


def skipped_lines(output):
    """The lines the report lists under its header of files not processed."""
    lines = output.splitlines()
    if SKIP_HEADER not in lines:
        return []
    return [l for l in lines[lines.index(SKIP_HEADER) + 1:] if l]


# ---------------------------------------------------------------- checks

class Volume:
    """A base image with what the tools read from it before anything moved."""

    def __init__(self, name, image, work):
        self.name, self.image = name, image
        _, self.summary = fsck_summary(image)
        self.expected = os.path.join(work, name + ".before")
        shutil.rmtree(self.expected, ignore_errors=True)
        os.mkdir(self.expected)
        run(["mcopy", "-s", "-n", "-i", image, "::*", self.expected + "/"])
        self.fat, self.files, _ = snapshot(image)
        self.sizes = {}
        for p, size, _ in TARGETS:
            self.sizes["/" + p.lower()] = size
        self.work = work

    def fragmented(self):
        return {p: c for p, c in self.files.items() if pieces(c) > 1}

    def copy(self, tag):
        out = os.path.join(self.work, "%s.%s" % (self.name, tag))
        shutil.copyfile(self.image, out)
        return out


def check_filter_run(vol, what, args, taken, expect_lines, leaves_some=True):
    """defrag with args on a copy: the files taken (a predicate on path) are in
    one piece, every other chain is unchanged, the report lists exactly
    expect_lines (a function of the files left), and the volume is clean."""
    image = vol.copy("run")
    r = run([a if a != "IMG" else image for a in args])
    check(r.returncode == 0, "%s: exit %d: %s" % (what, r.returncode, r.stderr.decode()[-400:]))
    out = r.stdout.decode("utf-8", "replace")
    _, after, _ = snapshot(image)
    took = [p for p in vol.fragmented() if taken(p)]
    check(took, "%s: the filter takes no fragmented file, nothing to see" % what)
    left = [p for p in vol.fragmented() if not taken(p)]
    check(left or not leaves_some, "%s: the filter leaves no fragmented file" % what)
    for p, chain in vol.files.items():
        if p in took:
            check(pieces(after.get(p, [])) == 1 and len(after[p]) == len(chain),
                  "%s: %s taken but now %d pieces" % (what, p, pieces(after.get(p, []))))
        else:
            check(after.get(p) == chain, "%s: %s moved though the filter leaves it" % (what, p))
    want = sorted(expect_lines(left))
    got = sorted(skipped_lines(out))
    check(got == want, "%s: listed\n  %s\nexpected\n  %s" % (what, "\n  ".join(got),
                                                            "\n  ".join(want)))
    verify(image, vol.summary, vol.expected, what)
    return len(took), len(left)


def size_line(vol):
    return lambda left: ["File ignored. Size equals (%s) %s " % (byte_size(vol.sizes[p]), v_path(p))
                         for p in left]


def degree_line(vol):
    return lambda left: ["File ignored. Percent fragmented equals (%.2f%%) %s "
                         % (degree(vol.files[p]), v_path(p)) for p in left]


def no_lines(left):
    return []


def by_type(kind, entries):
    """The pass's type rule: the extension from the last dot on, compared
    without case; a name without a dot always passes."""
    low = [e.lower() for e in entries]

    def taken(path):
        name = DISPLAY[path].split("/")[-1]
        if "." not in name:
            return True
        listed = name[name.rfind("."):].lower() in low
        return listed if kind == "only" else not listed
    return taken


def check_filters(vol, vantrel, fat_type):
    name = vol.name
    frag = vol.fragmented()
    check(set(frag) == set(DISPLAY), "%s: fragmented files %s, planned %s"
          % (name, sorted(frag), sorted(DISPLAY)))
    # 1. every file, with room to spare; the figures in --json
    image = vol.copy("all")
    r = cli([vantrel, "defrag", image, "--filter", "all", "--json"], name + " defrag all")
    fat_after, after, _ = snapshot(image)
    left = [p for p, c in after.items() if pieces(c) > 1]
    check(not left, "%s defrag all: still fragmented: %s" % (name, left))
    for p, chain in vol.files.items():
        if p not in frag:
            check(after.get(p) == chain, "%s defrag all: %s was in one piece and moved" % (name, p))
    try:
        figures = json.loads(r.stdout.decode())
    except ValueError:
        figures = {}
    largest = lambda f: max([n for _, n in f.free_run_list()] or [0]) * CLUSTER  # noqa: E731
    want = {"moved_clusters": sum(len(frag[p]) for p in frag),
            "fragmented_files_before": len(frag), "fragmented_files_after": 0,
            "largest_free_block_before": largest(vol.fat),
            "largest_free_block_after": largest(fat_after), "errors": []}
    got = {k: figures.get(k) for k in want}
    check(got == want, "%s defrag all --json: %s, expected %s" % (name, got, want))
    verify(image, vol.summary, vol.expected, name + " defrag all")

    # 2. size: a file of exactly the threshold is taken, one byte more is not
    n = vol.sizes["/size_eq.dat"]
    check(vol.sizes["/size_big.dat"] == n + 1, "size_big.dat is not one byte larger")
    under = lambda p: vol.sizes[p] <= n  # noqa: E731
    check_filter_run(vol, name + " size:%d" % n,
                     [vantrel, "defrag", "IMG", "--filter", "size:%d" % n], under, size_line(vol))

    # 3. degree: the threshold equals one file's degree exactly
    equal_to = {12: "/a.txt.bin", 16: "/foo.txt", 32: "/deg40.dat"}[fat_type]
    p_exact = degree(vol.files[equal_to])
    check(any(degree(c) < p_exact for c in frag.values()), "%s: no file below %r" % (name, p_exact))
    check_filter_run(
        vol, name + " degree:%r" % p_exact, [vantrel, "defrag", "IMG", "--filter",
                                             "degree:%r" % p_exact],
        lambda p: degree(vol.files[p]) >= p_exact, degree_line(vol))

    # 4. types
    for text, kind, entries in (("only:.txt", "only", [".txt"]), ("only:", "only", []),
                                ("exclude:.bin", "exclude", [".bin"])):
        check_filter_run(vol, "%s %s" % (name, text), [vantrel, "defrag", "IMG", "--filter", text],
                         by_type(kind, entries), no_lines)
    return image


def settings(vantrel, *pairs):
    """Writes the settings file afresh with the given keys (through the cli)."""
    path = run([vantrel, "settings", "path"]).stdout.decode().strip()
    if os.path.exists(path):
        os.remove(path)
    for key, value in pairs:
        cli([vantrel, "settings", "set", key, value], "settings set %s %s" % (key, value))
    return path


def check_settings_filters(vol, vantrel):
    name = vol.name + " settings"
    args = [vantrel, "defrag", "IMG"]
    n = vol.sizes["/size_eq.dat"]
    settings(vantrel, ("CustomDefragByFileType", "2140"), ("IgnoreFilesGreaterThanSize", str(n)))
    check_filter_run(vol, name + " 2140 size %d" % n, args, lambda p: vol.sizes[p] <= n,
                     size_line(vol))
    settings(vantrel, ("CustomDefragByFileType", "2141"), ("ByFragmentationPercentage", "50"))
    check_filter_run(vol, name + " 2141 degree 50", args,
                     lambda p: degree(vol.files[p]) >= 50, degree_line(vol))
    settings(vantrel, ("CustomDefragByFileType", "2169"), ("CustomFileTypeInclude", ".TXT,.dat,"))
    check_filter_run(vol, name + " 2169 .TXT,.dat,", args, by_type("only", [".txt", ".dat"]),
                     no_lines)
    settings(vantrel, ("CustomDefragByFileType", "2170"), ("CustomFileTypeIgnore", ".bin,"))
    check_filter_run(vol, name + " 2170 .bin,", args, by_type("exclude", [".bin"]), no_lines)
    # A last entry without its comma is not read (the cli refuses to store it).
    path = settings(vantrel, ("CustomDefragByFileType", "2169"))
    with open(path, "a") as f:
        f.write('CustomFileTypeInclude=".txt,.bin"\n')
    check_filter_run(vol, name + ' 2169 ".txt,.bin"', args, by_type("only", [".txt"]), no_lines)
    # The cli keeps to the page's identifiers, so an unknown one is written
    # straight into the file: the pass then takes every file.
    path = settings(vantrel, ("IgnoreFilesGreaterThanSize", "1"))
    r = run([vantrel, "settings", "set", "CustomDefragByFileType", "4242"])
    check(r.returncode == 2, "settings set CustomDefragByFileType 4242: exit %d" % r.returncode)
    with open(path, "a") as f:
        f.write("CustomDefragByFileType=4242\n")
    check_filter_run(vol, name + " 4242", args, lambda p: True, no_lines, leaves_some=False)
    os.remove(path)


def check_no_room(vol, vantrel, work, fat_type):
    """A volume left with a 30-cluster tail: what fits is defragmented, the
    rest is listed, and nothing is lost."""
    name = vol.name + " nearly full"
    image = os.path.join(work, vol.name + ".full")
    shutil.copyfile(vol.image, image)
    tail = 30
    free = sum(n for _, n in Fat(image).free_run_list())
    Builder(image, fat_type, work).put("ballast.bin", (free - tail) * CLUSTER)
    full = Volume(vol.name + ".full", image, work)
    check(sum(n for _, n in full.fat.free_run_list()) == tail,
          "%s: %s free clusters, wanted %d" % (name, full.fat.free_run_list(), tail))
    frag = full.fragmented()
    work_copy = full.copy("run")
    # Without make room: the files that find no free run are listed.
    r = cli([vantrel, "defrag", work_copy, "--filter", "all", "--make-room", "off"], name)
    fat_after, after, _ = snapshot(work_copy)
    listed = skipped_lines(r.stdout.decode("utf-8", "replace"))
    lines = {NO_ROOM % v_path(p): p for p in frag}
    strange = [l for l in listed if l not in lines]
    check(not strange, "%s: unexpected lines %s" % (name, strange))
    left = [lines[l] for l in listed if l in lines]
    largest = max([n for _, n in fat_after.free_run_list()] or [0])
    for p, chain in full.files.items():
        if p in left:
            check(after.get(p) == chain, "%s: %s listed but moved" % (name, p))
            # Gaps are bounded by one-piece files and the tail only shrinks, so a
            # file given up still cannot fit anywhere.
            check(len(chain) > largest, "%s: %s (%d clusters) listed, a free run of %d is left"
                  % (name, p, len(chain), largest))
        elif p in frag:
            check(pieces(after.get(p, [])) == 1, "%s: %s neither defragmented nor listed"
                  % (name, p))
        else:
            check(after.get(p) == chain, "%s: %s was in one piece and moved" % (name, p))
    check(left and len(left) < len(frag), "%s: %d of %d files listed, wanted some of each"
          % (name, len(left), len(frag)))
    verify(work_copy, full.summary, full.expected, name)
    return len(frag) - len(left), len(left)


def freespace_leftovers(fat, files, folders, mode):
    """What the consolidation must not leave: for every gap below the last
    used cluster (but one starting at the first cluster, which the engine
    never fills), file data above it that could have gone into it. In
    maximize any file's data could; in dont-fragment only a fragmented file's,
    or a one-piece file no larger than the gap."""
    owner = {}
    for p, chain in files.items():
        for c in chain:
            owner[c] = p
    runs = fat.free_run_list()
    last_used = max(list(owner) + list(folders) + [0])
    wrong = []
    for start, length in runs:
        if start == 2 or start > last_used:
            continue
        for p in sorted({owner[c] for c in owner if c > start}):
            chain = files[p]
            if mode == "maximize" or pieces(chain) > 1 or len(chain) <= length:
                wrong.append("%s above the gap %d+%d" % (p, start, length))
    return wrong


def make_holes(vol, work, fat_type):
    """Scattered free space: every other one-piece file deleted, under a
    folder made after the targets (FAT folders stay where they are) and a
    file above it."""
    image = os.path.join(work, vol.name + ".holes")
    shutil.copyfile(vol.image, image)
    b = Builder(image, fat_type, work)
    b.tool("mmd", "-i", image, "::Top")
    b.put("Top/above.dat", 5 * CLUSTER)
    keep = sorted(p for p in vol.files if p.startswith("/keep/"))
    b.tool("mdel", "-i", image, *["::" + p for p in keep[::2]])
    return Volume(vol.name + ".holes", image, work)


def check_consolidation(start, vantrel, folder_split):
    """freespace in both modes on copies of start. folder_split: maximize
    must end with one gap, closed by a folder cluster, below the free tail."""
    before_runs = start.fat.free_run_list()
    check(len(before_runs) > 5, "%s: free space in only %d runs" % (start.name, len(before_runs)))
    largest = lambda runs: max([n for _, n in runs] or [0]) * CLUSTER  # noqa: E731
    figures = {}
    for mode in ("maximize", "dont-fragment"):
        name = "%s freespace %s" % (start.name, mode)
        copy = start.copy(mode)
        r = cli([vantrel, "freespace", copy, "--mode", mode, "--json"], name)
        fat_after, after, folders = snapshot(copy)
        wrong = freespace_leftovers(fat_after, after, folders, mode)
        check(not wrong, "%s: left behind: %s" % (name, wrong[:10]))
        try:
            got = json.loads(r.stdout.decode())
        except ValueError:
            got = {}
        relocated = sum(1 for p, c in start.files.items() for i, x in enumerate(c)
                        if i >= len(after.get(p, [])) or after[p][i] != x)
        runs_after = fat_after.free_run_list()
        frag_before = len(start.fragmented())
        frag_after = sum(1 for c in after.values() if pieces(c) > 1)
        want = {"fragmented_files_before": frag_before, "fragmented_files_after": frag_after,
                "largest_free_block_before": largest(before_runs),
                "largest_free_block_after": largest(runs_after), "errors": []}
        check({k: got.get(k) for k in want} == want, "%s --json: %s, expected %s"
              % (name, {k: got.get(k) for k in want}, want))
        moved = got.get("moved_clusters", -1)
        check(relocated > 0 and moved >= relocated,
              "%s: moved_clusters %s, %d clusters changed place" % (name, moved, relocated))
        if mode == "maximize":
            check(largest(runs_after) >= largest(before_runs), "%s: largest free block shrank"
                  % name)
            used = set(folders).union(*after.values())
            check(not folder_split or (len(runs_after) == 2 and sum(runs_after[0]) in folders
                                       and runs_after[1][0] > max(used)),
                  "%s: free runs %s" % (name, runs_after))
        else:
            split = [p for p, c in start.files.items() if pieces(c) == 1 and pieces(after[p]) > 1]
            check(not split, "%s: one-piece files split: %s" % (name, split))
            check(frag_after <= frag_before, "%s: %d fragmented files, %d before"
                  % (name, frag_after, frag_before))
        check(len(runs_after) <= len(before_runs), "%s: free space in %d runs, %d before"
              % (name, len(runs_after), len(before_runs)))
        verify(copy, start.summary, start.expected, name)
        figures[mode] = (len(before_runs), len(runs_after), moved)
    return figures


def main():
    if len(sys.argv) != 2:
        raise SystemExit(__doc__)
    vantrel = os.path.abspath(sys.argv[1])
    for tool in ("mkfs.fat", "mcopy", "mdel", "mmd", "fsck.fat", "fatcat"):
        if not shutil.which(tool, path=ENV["PATH"]):
            print("SKIPPED: %s is not installed" % tool)
            return 77
    work = tempfile.mkdtemp()
    # The settings file and caches of the runs stay in the temporary folder.
    ENV["HOME"] = os.path.join(work, "home")
    ENV["XDG_CONFIG_HOME"] = os.path.join(work, "home", "config")
    ENV["XDG_CACHE_HOME"] = os.path.join(work, "home", "cache")
    os.makedirs(ENV["XDG_CONFIG_HOME"])
    try:
        for fat_type, kib in ((12, 1024), (16, 4096), (32, 34 * 1024)):
            started = time.time()
            image = os.path.join(work, "fat%d.img" % fat_type)
            build_base(image, fat_type, kib, work)
            vol = Volume("fat%d" % fat_type, image, work)
            defragged = check_filters(vol, vantrel, fat_type)
            check_settings_filters(vol, vantrel)
            placed, listed = check_no_room(vol, vantrel, work, fat_type)
            print("fat%d: %d fragmented files; nearly full: %d defragmented, %d listed"
                  % (fat_type, len(vol.fragmented()), placed, listed))
            for start, split in ((make_holes(vol, work, fat_type), True),
                                 (Volume(vol.name + ".defragged", defragged, work), False)):
                figures = check_consolidation(start, vantrel, split)
                print("  %s: free runs, clusters moved: maximize %d -> %d, %d; "
                      "dont-fragment %d -> %d, %d"
                      % (start.name, *figures["maximize"], *figures["dont-fragment"]))
            print("  %.1f s" % (time.time() - started))
    finally:
        shutil.rmtree(work)
    if moves.failures:
        print("%d failures" % len(moves.failures))
        return 1
    print("all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
