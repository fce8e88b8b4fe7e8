#!/usr/bin/env python3
"""Damaged FAT volumes, made by mkfs.fat and mtools and then byte-edited.

Folder loops and folder-shaped garbage (entries pointing back to their own
or the root folder, a root-entry count of 0xFFFF, a file marked as a folder,
random root bytes) must be analysed, listed and mapped within a bounded time,
with the damage reported and no figure over 100%. Volumes that fsck.fat -n
rejects for what the cluster chains do not show (dirty bit, media byte, "."
and "..", long names, attribute bytes) must be refused by every writing
command with the image unchanged, and still analysed. The lost-cluster figure
must be fsck.fat's when the FAT copies differ.
usage: check_fat_damaged_volumes.py VANTREL_CLI
"""
import hashlib
import json
import os
import random
import re
import shutil
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from check_fat_moves import ENV, check, failures, run  # noqa: E402
from fat_image import Fat  # noqa: E402

LIMIT = 20  # seconds; the loops used to run until memory ran out


def sha(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def poke(image, offset, data):
    with open(image, "r+b") as f:
        f.seek(offset)
        f.write(data)


def peek(image, offset, size):
    with open(image, "rb") as f:
        f.seek(offset)
        return f.read(size)


class Volume:
    """Where a FAT image keeps its tables and folders."""

    def __init__(self, image):
        bs = peek(image, 0, 512)
        self.bps = struct.unpack_from("<H", bs, 11)[0]
        self.reserved = struct.unpack_from("<H", bs, 14)[0] * self.bps
        self.fats = bs[16]
        fat16 = struct.unpack_from("<H", bs, 22)[0]
        self.fat_bytes = (fat16 or struct.unpack_from("<I", bs, 36)[0]) * self.bps
        self.fat32 = fat16 == 0
        self.root_cluster = struct.unpack_from("<I", bs, 44)[0] if self.fat32 else 0
        self.fat = Fat(image)
        self.image = image

    def cluster_offset(self, cluster):
        return self.fat.data_offset + (cluster - 2) * self.fat.cluster_bytes

    def folder_offset(self, cluster):
        if cluster == 0 and not self.fat32:
            return self.reserved + self.fats * self.fat_bytes
        return self.cluster_offset(cluster or self.root_cluster)

    def entries(self, cluster):
        """(offset, 11-byte name, attribute, first cluster) of a folder's
        first cluster worth of entries (the whole fixed root)."""
        at = self.folder_offset(cluster)
        size = self.fat.data_offset - at if cluster == 0 and not self.fat32 else \
            self.fat.cluster_bytes
        data, out = peek(self.image, at, size), []
        for p in range(0, len(data), 32):
            e = data[p:p + 32]
            if e[0] == 0:
                break
            first = struct.unpack_from("<H", e, 26)[0] | struct.unpack_from("<H", e, 20)[0] << 16
            out.append((at + p, e[:11], e[11], first))
        return out

    def entry(self, folder, name):
        for e in self.entries(folder):
            if e[1] == name.encode().ljust(11) or e[1].rstrip() == name.encode():
                return e
        raise KeyError(name)

    def free_slot(self, folder):
        at = self.folder_offset(folder)
        for p in range(0, self.fat.cluster_bytes, 32):
            if peek(self.image, at + p, 1)[0] in (0, 0xE5):
                return at + p
        raise RuntimeError("no free slot")

    def add_folder_entry(self, folder, name, first):
        e = name.encode().ljust(11) + b"\x10" + bytes(8)
        e += struct.pack("<H", first >> 16) + bytes(4) + struct.pack("<HI", first & 0xFFFF, 0)
        poke(self.image, self.free_slot(folder), e)


def build(work, name, bits):
    """A volume with nested folders, long names and fragmented files."""
    image = os.path.join(work, name)
    size_kb = 65536 if bits == 32 else 16384
    run(["mkfs.fat", "-C", "-F", str(bits), "-s", "1", "-n", "DAMAGE", image, str(size_kb)])
    src = os.path.join(work, name + ".src")
    os.makedirs(src)
    rng = random.Random(bits)

    def put(rel, size):
        path = os.path.join(src, os.path.basename(rel))
        with open(path, "wb") as f:
            f.write(bytes(rng.getrandbits(8) for _ in range(size)))
        run(["mcopy", "-i", image, path, "::" + rel])

    run(["mmd", "-i", image, "::Folder", "::Folder/Inner"])
    for i in range(8):
        put("/Folder/fill%d.bin" % i, 512)
    for i in range(0, 8, 2):
        run(["mdel", "-i", image, "::/Folder/fill%d.bin" % i])
    if bits == 32:  # mtools would go on after the last cluster it gave out
        poke(image, struct.unpack_from("<H", peek(image, 0, 512), 48)[0] * 512 + 0x1EC,
             b"\xff\xff\xff\xff")
    put("/Folder/Fragmented file.bin", 3000)
    put("/Folder/Inner/deep.txt", 700)
    put("/Long file name.bin", 5000)
    r = run(["fsck.fat", "-n", image])
    check(r.returncode == 0, "%s: fsck.fat rejects the undamaged volume" % name)
    return image


def cli(args):
    try:
        r = subprocess.run(args, env=ENV, capture_output=True, timeout=LIMIT, check=False)
        return r.returncode, r.stdout.decode("utf-8", "replace"), \
            r.stderr.decode("utf-8", "replace")
    except subprocess.TimeoutExpired:
        return None, "", "still running after %d s" % LIMIT


def fsck_rejects(image):
    # fsck.fat itself does not end on some of these (random folders).
    try:
        return subprocess.run(["fsck.fat", "-n", image], env=ENV, capture_output=True,
                              timeout=LIMIT, check=False).returncode != 0
    except subprocess.TimeoutExpired:
        return True


def check_bounded(cli_path, image, what):
    """Analysis, listing and map end in time, report the damage, count no
    cluster twice; a writing command is refused."""
    code, out, err = cli([cli_path, "analyze", image, "--json"])
    check(code is not None, "%s: analyze %s" % (what, err))
    if code is not None and out.strip():
        a = json.loads(out)
        check(a["percent_fragmented"] <= 100, "%s: %s%% fragmented" % (what,
                                                                      a["percent_fragmented"]))
        check(a["errors"] or "damaged" in err, "%s: no damage reported" % what)
    code, out, err = cli([cli_path, "files", image, "--all", "--json"])
    check(code is not None, "%s: files %s" % (what, err))
    if code is not None and out.strip():
        seen = {}
        for f in json.loads(out)["files"]:
            for lcn, count in f["extents"]:
                for c in range(lcn, lcn + count):
                    check(c not in seen, "%s: cluster %d in %s and %s" %
                          (what, c, seen.get(c), f["path"]))
                    seen[c] = f["path"]
        check(len(seen) <= Fat(image).clusters, "%s: more clusters than the volume" % what)
    code, _, err = cli([cli_path, "map", image, "--bytes", image + ".map"])
    check(code is not None, "%s: map %s" % (what, err))
    before = sha(image)
    code, _, err = cli([cli_path, "defrag", image, "--filter", "all"])
    check(code == 2 and "fsck.fat" in err, "%s: defrag exit %s: %s" % (what, code, err[-300:]))
    check(sha(image) == before, "%s: defrag changed the image" % what)


def self_loops(img):
    v = Volume(img)
    folder = v.entry(0, "FOLDER")[3]
    v.add_folder_entry(folder, "LOOP1", folder)
    v.add_folder_entry(folder, "LOOP2", folder)


def file_as_folder(img):
    """A file whose bytes look like a folder holding itself twice."""
    v = Volume(img)
    off, _, _, first = v.entry(0, "LONGFI~1BIN")
    poke(img, off + 11, b"\x10")
    poke(img, off + 28, bytes(4))
    data = b""
    for name in ("SELF1", "SELF2"):
        data += name.encode().ljust(11) + b"\x10" + bytes(8) + struct.pack("<H", first >> 16)
        data += bytes(4) + struct.pack("<HI", first & 0xFFFF, 0)
    poke(img, v.cluster_offset(first), data + bytes(32))


def root_count_ffff(img):
    poke(img, 17, struct.pack("<H", 0xFFFF))


def random_root(img):
    """Random bytes over the root folder of a volume full of random data, so
    that entries that look like folders lead into more random entries."""
    v = Volume(img)
    rng = random.Random(21)
    start = v.folder_offset(0)
    poke(img, start, bytes(rng.getrandbits(8) for _ in range(v.fat.data_offset - start)))
    chunk = bytes(rng.getrandbits(8) for _ in range(1 << 16))
    with open(img, "r+b") as f:
        f.seek(v.fat.data_offset)
        for _ in range(v.fat.clusters * v.fat.cluster_bytes // len(chunk)):
            f.write(chunk)
    # Every cluster in use, in one chain, so that no first cluster is free.
    table = bytearray(struct.pack("<HH", 0xFFF8, 0xFFFF))
    for c in range(2, v.fat.clusters + 2):
        table += struct.pack("<H", c + 1 if c + 1 < v.fat.clusters + 2 else 0xFFFF)
    for copy in range(v.fats):
        poke(img, v.reserved + copy * v.fat_bytes, bytes(table))


def subfolder_to_root(img):
    v = Volume(img)
    inner = v.entry(v.entry(0, "FOLDER")[3], "INNER")[3]
    v.add_folder_entry(inner, "UP", v.root_cluster)


def check_hangs(cli_path, work):
    os.makedirs(work)
    f16 = build(work, "f16.img", 16)
    f32 = build(work, "f32.img", 32)
    cases = [
        ("FAT16 two entries pointing back to their folder", f16, self_loops),
        ("FAT16 a file that claims to be a folder", f16, file_as_folder),
        ("FAT16 root-entry count 0xFFFF", f16, root_count_ffff),
        ("FAT16 random root bytes", f16, random_root),
        ("FAT32 two entries pointing back to their folder", f32, self_loops),
        ("FAT32 a subfolder pointing at the root", f32, subfolder_to_root),
    ]
    for what, base, damage in cases:
        img = os.path.join(work, "damaged.img")
        shutil.copy(base, img)
        damage(img)
        check(fsck_rejects(img), "%s: fsck.fat accepts it" % what)
        check_bounded(cli_path, img, what)


# ---------------------------------------------- what only fsck.fat sees

def clear_clean_bit(img):
    v = Volume(img)
    for copy in range(v.fats):
        at = v.reserved + copy * v.fat_bytes + (4 if v.fat32 else 2)
        if v.fat32:
            poke(img, at, struct.pack("<I", struct.unpack("<I", peek(img, at, 4))[0] & ~(1 << 27)))
        else:
            poke(img, at, struct.pack("<H", struct.unpack("<H", peek(img, at, 2))[0] & 0x7FFF))


def set_boot_dirty(img):
    at = 0x41 if Volume(img).fat32 else 0x25
    poke(img, at, bytes([peek(img, at, 1)[0] | 1]))


def media_in_first_fat(img):
    poke(img, Volume(img).reserved, b"\xf0")


def bad_dot(img):
    v = Volume(img)
    folder = v.entry(0, "FOLDER")[3]
    poke(img, v.folder_offset(folder) + 26, struct.pack("<H", folder + 1))


def bad_dotdot(img):
    v = Volume(img)
    inner = v.entry(v.entry(0, "FOLDER")[3], "INNER")[3]
    poke(img, v.folder_offset(inner) + 32 + 26, struct.pack("<H", inner))


def long_name_checksum(img):
    v = Volume(img)
    off = v.entry(0, "LONGFI~1BIN")[0]
    poke(img, off - 32 + 13, bytes([peek(img, off - 32 + 13, 1)[0] ^ 1]))


def long_name_sequence(img):
    v = Volume(img)
    off = v.entry(0, "LONGFI~1BIN")[0]
    poke(img, off - 32, bytes([peek(img, off - 32, 1)[0] + 1]))


def attribute(value):
    def damage(img):
        v = Volume(img)
        poke(img, v.entry(v.entry(0, "FOLDER")[3], "FILL1   BIN")[0] + 11, bytes([value]))
    return damage


def fat_copies_differ(img):
    v = Volume(img)
    free = v.fat.free_run_list()[0][0]
    poke(img, v.reserved + v.fat_bytes + free * 2, b"\xff\xff")


def check_refusals(cli_path, work):
    os.makedirs(work)
    f16 = build(work, "f16.img", 16)
    f32 = build(work, "f32.img", 32)
    cases = [
        ("FAT16 clean bit cleared", f16, clear_clean_bit, "not cleanly unmounted"),
        ("FAT32 clean bit cleared", f32, clear_clean_bit, "not cleanly unmounted"),
        ("FAT16 boot sector dirty flag", f16, set_boot_dirty, "not cleanly unmounted"),
        ("FAT32 boot sector dirty flag", f32, set_boot_dirty, "not cleanly unmounted"),
        ("FAT16 media byte of the first FAT", f16, media_in_first_fat, "media byte"),
        ("FAT16 bad '.'", f16, bad_dot, "'.'"),
        ("FAT32 bad '..'", f32, bad_dotdot, "'..'"),
        ("FAT16 long-name checksum", f16, long_name_checksum, "long-name"),
        ("FAT32 long-name sequence", f32, long_name_sequence, "long-name"),
        ("FAT16 attribute 0xFF", f16, attribute(0xFF), "attribute"),
        ("FAT32 attribute 0x18", f32, attribute(0x18), "attribute"),
        ("FAT16 FAT copies differ", f16, fat_copies_differ, "FAT copies 1 and 2 differ"),
    ]
    for what, base, damage, problem in cases:
        img = os.path.join(work, "damaged.img")
        shutil.copy(base, img)
        damage(img)
        fsck = run(["fsck.fat", "-n", img])
        said = [l for l in fsck.stdout.decode("utf-8", "replace").splitlines()[1:]
                if not re.search(r"files, \d+/\d+ clusters|Leaving filesystem unchanged", l)
                and l.strip()]
        check(said, "%s: fsck.fat finds nothing" % what)
        before = sha(img)
        for args in (["defrag", img, "--filter", "all"], ["freespace", img, "--mode", "maximize"],
                     ["defrag-file", img, "V:\\Folder\\Fragmented file.bin"]):
            code, _, err = cli([cli_path] + args)
            check(code == 2 and "The volume is damaged" in err and problem in err and
                  "fsck.fat" in err, "%s: %s exit %s: %s" % (what, args[0], code, err[-300:]))
        check(sha(img) == before, "%s: the image changed" % what)
        code, out, err = cli([cli_path, "analyze", img, "--json"])
        # A damaged volume is still read: its figures printed, its damage in
        # the errors, and the exit status of a damaged volume.
        figures = json.loads(out) if out.strip() else {}
        check(code == 2 and figures.get("files", 0) > 0 and figures.get("errors"),
              "%s: analyze exit %s" % (what, code))


def check_lost_clusters(cli_path, work):
    """A move whose second FAT copy was never written: fsck.fat reads the
    first copy, and so must the lost-cluster figure."""
    os.makedirs(work)
    img = build(work, "f16.img", 16)
    v = Volume(img)
    free = [c for c, n in v.fat.free_run_list()[:1] for c in range(c, c + 40)]
    first_fat = v.reserved
    for i, c in enumerate(free):
        poke(img, first_fat + 2 * c, struct.pack("<H", c + 1 if i + 1 < len(free) else 0xFFFF))
    fsck = run(["fsck.fat", "-n", img]).stdout.decode()
    m = re.search(r"Reclaimed (\d+) unused clusters?", fsck)
    check(m is not None, "lost clusters: fsck.fat says %r" % fsck)
    code, out, _ = cli([cli_path, "analyze", img, "--json"])
    got = json.loads(out).get("lost_clusters") if code in (0, 2) and out.strip() else None
    check(m is not None and got == int(m.group(1)),
          "lost clusters: analyze %s, fsck.fat %s" % (got, m and m.group(1)))


def main():
    cli_path = os.path.abspath(sys.argv[1])
    for tool in ("mkfs.fat", "mcopy", "mmd", "mdel", "fsck.fat"):
        if not shutil.which(tool, path=ENV["PATH"]):
            print("skip: %s is missing" % tool)
            return 77
    work = tempfile.mkdtemp()
    try:
        for step in (check_hangs, check_refusals, check_lost_clusters):
            step(cli_path, os.path.join(work, step.__name__))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("%d failures" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
