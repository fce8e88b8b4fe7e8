#!/usr/bin/env bash
# Builds NTFS test images with mkntfs and an ntfs-3g mount, with fixed
# content, and records what the NTFS tools say about each image:
#
#   OUTDIR/ntfs-main.img   4 KB clusters: nested folders, Latin-1, CJK and
#       emoji names (those that have no ANSI form get a DOS name), 255-character
#       names, a folder of 300 and one of 1,200 entries (index blocks two and
#       three levels deep), resident tiny files, empty files, sparse files,
#       hard links, compressed files, DOS names, reparse points.
#   OUTDIR/ntfs-frag.img   512-byte clusters: files fragmented 12, 60, 120,
#       400 and 1,200 times; 120 fragments still fit the base record (most of
#       it), 400 already move the data attribute into extension records behind
#       an $ATTRIBUTE_LIST (ntfs-3g makes that list non-resident).
#   OUTDIR/ntfs-4k-sectors.img, ntfs-128k.img, ntfs-2m.img   4096-byte
#       sectors, 128 KB and 2 MB clusters: a resident file, a plain one in a
#       folder and one fragmented 6 times.
#   OUTDIR/<image>.manifest  UTF-8, tab-separated, paths "/"-separated:
#       volume KEY VALUE      label, clusters, free (ntfsinfo -m), cluster_bytes,
#                             record_bytes
#       mftrun VCN LCN COUNT  $MFT's data runs (ntfsinfo -i 0)
#       dir PATH              every folder below the root
#       file PATH SIZE SHA256 KIND   every file; the bytes as a fresh read-only
#                             ntfs-3g mount reads them (ntfscat for reparse
#                             points, which the mount does not read)
#       runs PATH VCN:LCN:COUNT ...  data runs from ntfsinfo -F (LCN -1 for a
#                             hole) for the sparse, compressed and fragmented files
#       attrlist PATH N       the file's record has an attribute list and its
#                             data lies in N records
#       dosname PATH NAME     a DOS name set beside the long name
#   OUTDIR/stamp           the checksum of this script when the images were made
#
# Fragmenting under ntfs-3g: its allocator hands out the largest free range of
# each 32,768-cluster stretch of the bitmap per call, so the volume is filled
# with two-cluster files, every other one (in LCN order, from ntfscluster) is
# deleted, and the target is written 1 KB per write() into the holes.
#
# usage: make_ntfs_images.sh OUTDIR   (as root; exits 77 when ntfs-3g cannot
# mount here)
set -euo pipefail
out=${1:?usage: make_ntfs_images.sh OUTDIR}
PATH=$PATH:/usr/sbin:/sbin
for tool in mkntfs ntfs-3g ntfsinfo ntfscluster ntfscat python3 umount; do
  command -v "$tool" >/dev/null || { echo "make_ntfs_images: $tool is missing" >&2; exit 77; }
done
if [ "$(id -u)" != 0 ]; then
  echo "make_ntfs_images: mounting with ntfs-3g needs root" >&2
  exit 77
fi
mkdir -p "$out"
work=$(mktemp -d)
cleanup() {
  mountpoint -q "$work/mnt" 2>/dev/null && umount "$work/mnt"
  rm -rf "$work"
}
trap cleanup EXIT
mkdir "$work/mnt"
truncate -s 8M "$work/probe.img"
mkntfs -F -Q -f -p 0 -H 0 -S 0 "$work/probe.img" >/dev/null 2>&1
if ! ntfs-3g "$work/probe.img" "$work/mnt" 2>/dev/null; then
  echo "make_ntfs_images: ntfs-3g cannot mount here (no FUSE?)" >&2
  exit 77
fi
umount "$work/mnt"

python3 - "$out" "$work" <<'PY'
import hashlib, os, random, re, struct, subprocess, sys

out, work = sys.argv[1], sys.argv[2]
mnt = os.path.join(work, "mnt")


def run(*args, **kw):
    return subprocess.run(list(args), check=True, capture_output=True, **kw)


def mount(img, *opts):
    run("ntfs-3g", *([x for o in opts for x in ("-o", o)]), img, mnt)


def umount():
    run("umount", mnt)


def content(seed, size):
    return random.Random(seed).randbytes(size)


def text(seed, size):
    line = ("%s: the quick brown fox jumps over the lazy dog\n" % seed).encode()
    return (line * (size // len(line) + 1))[:size]


def write(rel, data, chunk=None):
    path = os.path.join(mnt, rel)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb", buffering=0) as f:
        if chunk is None:
            f.write(data)
        else:
            for at in range(0, len(data), chunk):
                f.write(data[at:at + chunk])


def mkntfs(img, size, *args):
    if os.path.exists(img):
        os.remove(img)
    with open(img, "wb") as f:
        f.truncate(size)
    run("mkntfs", "-F", "-Q", "-f", "-p", "0", "-H", "0", "-S", "0", *args, img)


class Manifest:
    def __init__(self):
        self.kinds, self.extra = {}, []

    def kind(self, rel, kind):
        self.kinds[rel] = kind


def ntfs_runs(img, rel):
    """The unnamed $DATA runs of a file (all its segments) from ntfsinfo -v -F."""
    text_ = run("ntfsinfo", "-v", "-F", "/" + rel, img).stdout.decode("utf-8", "replace")
    runs, in_data, in_runs, attrlist, records = [], False, False, False, set()
    for line in text_.splitlines():
        m = re.match(r"Dumping attribute (\S+) \(0x[0-9a-f]+\) from mft record (\d+)", line)
        if m:
            in_data = m.group(1) == "$DATA"
            in_runs = False
            if m.group(1) == "$ATTRIBUTE_LIST":
                attrlist = True
            if in_data:
                records.add(int(m.group(2)))
            continue
        if in_data and "Attribute name:" in line:
            in_data = False  # a named stream
        if in_data and line.strip().startswith("Runlist:"):
            in_runs = True
            continue
        if in_runs:
            if "<RL_NOT_MAPPED>" in line:
                continue  # the VCNs before this segment, mapped by another record
            m = re.match(r"\s+(0x[0-9a-f]+)\s+(0x[0-9a-f]+|<HOLE>)\s+(0x[0-9a-f]+)\s*$", line)
            if not m:
                in_runs = False
                continue
            lcn = -1 if m.group(2) == "<HOLE>" else int(m.group(2), 16)
            runs.append((int(m.group(1), 16), lcn, int(m.group(3), 16)))
    runs.sort()
    return runs, attrlist, len(records)


def finish(img, name, man, runs_for=(), reparse=(), reparse_dirs=()):
    """Writes the manifest of an unmounted image."""
    info = run("ntfsinfo", "-m", img).stdout.decode("utf-8", "replace")
    lines = []
    label = re.search(r"Volume Name: (.*)", info).group(1)
    lines.append("volume\tlabel\t" + label)
    lines.append("volume\tclusters\t" + re.search(r"Volume Size in Clusters: (\d+)", info).group(1))
    lines.append("volume\tfree\t" + re.search(r"Free Clusters: (\d+)", info).group(1))
    lines.append("volume\tcluster_bytes\t" + re.search(r"Cluster Size: (\d+)", info).group(1))
    lines.append("volume\trecord_bytes\t" + re.search(r"MFT Record Size: (\d+)", info).group(1))
    mft = run("ntfsinfo", "-v", "-i", "0", img).stdout.decode("utf-8", "replace")
    in_runs = False
    for line in mft.splitlines():
        if line.strip().startswith("Runlist:"):
            in_runs = True
            continue
        m = re.match(r"\s+(0x[0-9a-f]+)\s+(0x[0-9a-f]+)\s+(0x[0-9a-f]+)\s*$", line)
        if in_runs and "<RL_NOT_MAPPED>" in line:
            continue
        if in_runs and m:
            lines.append("mftrun\t%d\t%d\t%d" % tuple(int(g, 16) for g in m.groups()))
        elif in_runs:
            break
    mount(img, "ro")
    try:
        for top, dirs, files in os.walk(mnt):
            dirs.sort()
            for d in sorted(dirs):
                rel = os.path.relpath(os.path.join(top, d), mnt)
                if rel not in reparse:
                    lines.append("dir\t" + rel)
            for f in sorted(files):
                rel = os.path.relpath(os.path.join(top, f), mnt)
                if rel in reparse:
                    continue
                with open(os.path.join(top, f), "rb") as fh:
                    data = fh.read()
                lines.append("file\t%s\t%d\t%s\t%s" % (rel, len(data), hashlib.sha256(data).hexdigest(),
                                                      man.kinds.get(rel, "plain")))
    finally:
        umount()
    for rel in reparse:
        if rel in reparse_dirs:
            lines.append("dir\t" + rel)
            continue
        data = run("ntfscat", img, "/" + rel).stdout
        lines.append("file\t%s\t%d\t%s\treparse" % (rel, len(data), hashlib.sha256(data).hexdigest()))
    for rel in runs_for:
        runs, attrlist, records = ntfs_runs(img, rel)
        lines.append("runs\t%s\t%s" % (rel, " ".join("%d:%d:%d" % r for r in runs)))
        if attrlist:
            lines.append("attrlist\t%s\t%d" % (rel, records))
    lines += man.extra
    with open(os.path.join(out, name + ".manifest"), "w", encoding="utf-8") as f:
        f.write("\n".join(lines) + "\n")


def reparse_data(tag, substitute, printed, symlink):
    s, p = substitute.encode("utf-16-le"), printed.encode("utf-16-le")
    if symlink:
        body = struct.pack("<HHHHI", 0, len(s), len(s), len(p), 1) + s + p
    else:
        body = struct.pack("<HHHH", 0, len(s), len(s) + 2, len(p)) + s + b"\0\0" + p + b"\0\0"
    return struct.pack("<IHH", tag, len(body), 0) + body


def dos_name(man, rel, short):
    os.setxattr(os.path.join(mnt, rel), "system.ntfs_dos_name", short.encode())
    man.extra.append("dosname\t%s\t%s" % (rel, short))


def main_image():
    img = os.path.join(out, "ntfs-main.img")
    mkntfs(img, 64 << 20, "-c", "4096", "-L", "NTFS Tëst")
    man = Manifest()
    mount(img, "compression")
    try:
        write("readme.txt", text("readme", 42))
        man.kind("readme.txt", "resident")
        write("Café 12.txt", text("cafe", 300))
        man.kind("Café 12.txt", "resident")
        write("Empty file.txt", b"")
        man.kind("Empty file.txt", "empty")
        os.makedirs(os.path.join(mnt, "Empty folder"))
        write("plain 100k.bin", content("plain", 100000))
        write("one cluster.bin", content("one", 4096))
        for depth in range(1, 7):
            rel = "/".join("level%d" % i for i in range(1, depth + 1))
            write(rel + "/file at %d.txt" % depth, text("deep%d" % depth, 1500 * depth))
        write("Long File Name Here.txt", text("long", 5000))
        dos_name(man, "Long File Name Here.txt", "LONGFI~1.TXT")
        os.makedirs(os.path.join(mnt, "Folder with a long name"))
        dos_name(man, "Folder with a long name", "FOLDER~1")
        write("Folder with a long name/inside.txt", text("inside", 2000))
        # Names without an ANSI form get a DOS name, as Windows would give
        # them, so that ANSI callers can still open them.
        for i, (name, short) in enumerate([("日本語のファイル.txt", "NIHONG~1.TXT"),
                                           ("Emoji 😀 name.txt", "EMOJIN~1.TXT"),
                                           ("Ελληνικά.txt", "ELLINI~1.TXT")]):
            write("unicode/" + name, text("uni%d" % i, 3000 + i))
            man.kind("unicode/" + name, "unicode")
            dos_name(man, "unicode/" + name, short)
        for name in ["Ünïcödé €uro.txt", "Straße.txt", "œuvre — dash.txt"]:
            write("unicode/" + name, text(name, 700))
            man.kind("unicode/" + name, "unicode")
        long255 = ("L" + "0123456789abcdef" * 16)[:251] + ".txt"
        write("long names/" + long255, text("l255", 900))
        man.kind("long names/" + long255, "longname")
        long254 = ("M" + "0123456789abcdef" * 16)[:250] + ".txt"
        write("long names/" + long254, text("l254", 901))
        man.kind("long names/" + long254, "longname")
        os.makedirs(os.path.join(mnt, "long names", ("D" + "x" * 300)[:255]))
        for i in range(300):
            write("folder300/entry %03d.txt" % i, text("e%d" % i, (i * 37) % 900))
        for i in range(1200):
            name = "a rather long file name so that few fit in one index block, number %04d.dat" % i
            write("folder1200/" + name, b"%d" % i)
        write("sparse/hole in middle.bin", b"")
        with open(os.path.join(mnt, "sparse/hole in middle.bin"), "r+b") as f:
            f.write(content("sm1", 8192))
            f.seek(3 << 20)
            f.write(content("sm2", 12000))
            f.truncate(5 << 20)
        with open(os.path.join(mnt, "sparse/all holes.bin"), "wb") as f:
            f.truncate(10 << 20)
        with open(os.path.join(mnt, "sparse/hole first.bin"), "wb") as f:
            f.seek(1 << 20)
            f.write(content("hf", 20000))
        for rel in ["sparse/hole in middle.bin", "sparse/all holes.bin", "sparse/hole first.bin"]:
            man.kind(rel, "sparse")
        write("links/original.bin", content("linked", 20000))
        os.link(os.path.join(mnt, "links/original.bin"), os.path.join(mnt, "links/second name.bin"))
        os.link(os.path.join(mnt, "links/original.bin"), os.path.join(mnt, "level1/linked from level1.bin"))
        for rel in ["links/original.bin", "links/second name.bin", "level1/linked from level1.bin"]:
            man.kind(rel, "hardlink")
        comp = os.path.join(mnt, "compressed")
        os.makedirs(comp)
        os.setxattr(comp, "system.ntfs_attrib_be", bytes([0, 0, 8, 0]))
        write("compressed/text 300k.txt", text("compressible", 300000))
        write("compressed/random 100k.bin", content("incompressible", 100000))
        write("compressed/mixed.bin", text("mixed", 70000) + content("mixed", 70000) + bytes(50000))
        write("compressed/tiny.txt", text("tiny", 100))
        with open(os.path.join(comp, "with hole.bin"), "wb") as f:
            f.write(text("hole", 20000))
            f.seek(1 << 20)
            f.write(text("after", 30000))
        for rel in ["text 300k.txt", "random 100k.bin", "mixed.bin", "tiny.txt", "with hole.bin"]:
            man.kind("compressed/" + rel, "compressed")
        write("reparse/symlink.txt", b"data\n")
        os.setxattr(os.path.join(mnt, "reparse/symlink.txt"), "system.ntfs_reparse_data",
                    reparse_data(0xA000000C, "target.txt", "target.txt", True))
        os.makedirs(os.path.join(mnt, "reparse/junction"))
        os.setxattr(os.path.join(mnt, "reparse/junction"), "system.ntfs_reparse_data",
                    reparse_data(0xA0000003, "\\??\\C:\\Windows", "C:\\Windows", False))
        man.extra.append("reparse\treparse/symlink.txt")
        man.extra.append("reparse\treparse/junction")
    finally:
        umount()
    finish(img, "ntfs-main", man,
           runs_for=["sparse/hole in middle.bin", "sparse/all holes.bin", "sparse/hole first.bin",
                     "compressed/text 300k.txt", "compressed/random 100k.bin",
                     "compressed/mixed.bin", "compressed/with hole.bin", "plain 100k.bin"],
           reparse=["reparse/symlink.txt", "reparse/junction"], reparse_dirs=["reparse/junction"])


def frag_image():
    img = os.path.join(out, "ntfs-frag.img")
    mkntfs(img, 16 << 20, "-c", "512", "-L", "FRAG")
    man = Manifest()
    mount(img)
    try:
        write("before.txt", text("before", 3000))
        os.makedirs(os.path.join(mnt, "fill"))
        n = 0
        while True:
            try:
                write("fill/%06d" % n, b"F" * 1024)
            except OSError:
                break
            n += 1
    finally:
        umount()
    listing = run("ntfscluster", "-v", "-c", "0-%d" % (1 << 40), img).stdout.decode("utf-8", "replace")
    first_lcn, lcn = {}, None
    for line in listing.splitlines():
        if line.startswith("Inode: "):
            lcn = None
        m = re.match(r"\s+0\s+(\d+)-\d+ \(\d+\)", line)
        if m:
            lcn = int(m.group(1))
        m = re.match(r"Inode \d+ /fill/(\d+)/\$DATA", line)
        if m and lcn is not None:
            first_lcn[m.group(1)] = lcn
    order = sorted(first_lcn, key=lambda k: first_lcn[k])
    targets = [("frag 12.bin", 12), ("frag 60.bin", 60), ("frag 120.bin", 120),
               ("frag 400.bin", 400), ("frag 1200.bin", 1200)]
    mount(img)
    try:
        for name in order[0::2]:
            os.remove(os.path.join(mnt, "fill", name))
        for name, pieces in targets:
            write(name, content(name, pieces * 1024), chunk=1024)
            man.kind(name, "fragmented")
        for name in os.listdir(os.path.join(mnt, "fill")):
            os.remove(os.path.join(mnt, "fill", name))
        os.rmdir(os.path.join(mnt, "fill"))
        write("after.txt", text("after", 3000))
    finally:
        umount()
    finish(img, "ntfs-frag", man, runs_for=[t[0] for t in targets])


def geometry_image(name, size, *args):
    """A volume of unusual geometry (4 KB sectors, clusters over 64 KB) with
    a few files, one of them fragmented by the fill-and-delete method."""
    img = os.path.join(out, name + ".img")
    mkntfs(img, size, *args, "-L", name)
    man = Manifest()
    mount(img)
    try:
        write("small.txt", text(name, 100))
        man.kind("small.txt", "resident")
        write("folder/plain.bin", content(name + "plain", 300000))
        os.makedirs(os.path.join(mnt, "fill"))
        n = 0
        while True:
            try:
                write("fill/%04d" % n, b"F" * 4096)  # one cluster each, never resident
            except OSError:
                break
            n += 1
    finally:
        umount()
    listing = run("ntfscluster", "-v", "-c", "0-%d" % (1 << 40), img).stdout.decode("utf-8", "replace")
    first_lcn, lcn = {}, None
    for line in listing.splitlines():
        if line.startswith("Inode: "):
            lcn = None
        m = re.match(r"\s+0\s+(\d+)-\d+ \(\d+\)", line)
        if m:
            lcn = int(m.group(1))
        m = re.match(r"Inode \d+ /fill/(\d+)/\$DATA", line)
        if m and lcn is not None:
            first_lcn[m.group(1)] = lcn
    order = sorted(first_lcn, key=lambda k: first_lcn[k])
    cluster = int(re.search(r"Cluster Size: (\d+)", run("ntfsinfo", "-m", img).stdout.decode()).group(1))
    mount(img)
    try:
        for f in order[0:24:2]:
            os.remove(os.path.join(mnt, "fill", f))
        write("frag 6.bin", content(name + "frag", 6 * cluster), chunk=cluster)
        man.kind("frag 6.bin", "fragmented")
        for f in os.listdir(os.path.join(mnt, "fill")):
            os.remove(os.path.join(mnt, "fill", f))
        os.rmdir(os.path.join(mnt, "fill"))
    finally:
        umount()
    finish(img, name, man, runs_for=["frag 6.bin", "folder/plain.bin"])


main_image()
frag_image()
geometry_image("ntfs-4k-sectors", 64 << 20, "-s", "4096")
geometry_image("ntfs-128k", 256 << 20, "-c", "131072")
geometry_image("ntfs-2m", 1 << 30, "-c", "2097152")
PY
sha256sum "$0" | cut -d' ' -f1 >"$out/stamp"
