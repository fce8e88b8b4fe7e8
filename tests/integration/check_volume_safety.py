#!/usr/bin/env python3
"""Volumes vantrel-cli must not write to, checked on images made by the
file-system tools: damaged FAT and NTFS volumes (cross-linked, looping and
dangling chains, FAT copies that disagree, an NTFS cluster missing from
$Bitmap, a run past the volume's end, a cluster in two files), a second
writer, a writer killed part-way, and as root a loop device mounted through
ntfs-3g with its backing image, and an image on a read-only bind mount.
Every refusal must leave the image's sha256 unchanged; the runs that are
allowed must leave every file's bytes as they were.
usage: check_volume_safety.py VANTREL_CLI
"""
import hashlib
import json
import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from check_fat_moves import (ENV, check, failures, files_with_first_clusters,  # noqa: E402
                             fsck_summary, run, verify)
from fat_image import Fat  # noqa: E402

IN_USE_BY_US = "The volume is in use by another Vantrel process."
READ_ONLY = "Drive is read-only."


def sha(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def refused(args, image, text, what, code=2):
    """Runs args, which must fail with `code` and `text`, the image unchanged."""
    before = sha(image)
    r = run(args)
    err = r.stderr.decode("utf-8", "replace")
    check(r.returncode == code if code else r.returncode != 0,
          "%s: exit %d, expected a refusal: %s" % (what, r.returncode, err[-300:]))
    check(text in err, "%s: %r not in %r" % (what, text, err[-300:]))
    check(sha(image) == before, "%s: the image changed" % what)
    return err


# ------------------------------------------------------------------ FAT

def fat_layout(image):
    with open(image, "rb") as f:
        bs = f.read(512)
    bps = struct.unpack_from("<H", bs, 11)[0]
    reserved = struct.unpack_from("<H", bs, 14)[0]
    fats = bs[16]
    fat16 = struct.unpack_from("<H", bs, 22)[0]
    size = (fat16 if fat16 else struct.unpack_from("<I", bs, 36)[0]) * bps
    return reserved * bps, size, fats


def set_fat_entry(image, cluster, value, copies=None):
    start, size, fats = fat_layout(image)
    width = 4 if Fat(image).clusters >= 65525 else 2
    with open(image, "r+b") as f:
        for copy in (copies if copies is not None else range(fats)):
            f.seek(start + copy * size + cluster * width)
            f.write(struct.pack("<I" if width == 4 else "<H", value))


def make_fat(work, name, fat_bits, size_mb, files):
    """An image whose files (name, bytes) are written into the one-cluster
    holes left between fillers, so each is fragmented."""
    image = os.path.join(work, name)
    src = os.path.join(work, name + ".src")
    fill = os.path.join(work, name + ".fill")
    os.makedirs(src)
    os.makedirs(fill)
    with open(image, "wb") as f:
        f.truncate(size_mb << 20)
    run(["mkfs.fat", "-F", str(fat_bits), "-s", "1", image])
    holes = sum((len(data) + 511) // 512 for _, data in files)
    fillers = []
    for i in range(2 * holes):
        fillers.append(os.path.join(fill, "F%05d" % i))
        with open(fillers[-1], "wb") as f:
            f.write(b"f" * 100)
    run(["mcopy", "-i", image] + fillers + ["::/"])
    run(["mdel", "-i", image] + ["::/" + os.path.basename(p) for p in fillers[::2]])
    if fat_bits == 32:
        # mtools would carry on after the last cluster it gave out.
        with open(image, "r+b") as f:
            f.seek(struct.unpack_from("<H", open(image, "rb").read(512), 48)[0] * 512 + 0x1EC)
            f.write(b"\xff\xff\xff\xff")
    paths = []
    for rel, data in files:
        paths.append(os.path.join(src, rel))
        with open(paths[-1], "wb") as f:
            f.write(data)
    run(["mcopy", "-i", image] + paths + ["::/"])
    run(["mdel", "-i", image] + ["::/" + os.path.basename(p) for p in fillers[1::2]])
    shutil.rmtree(fill)
    return image, src


def check_fat_damage(cli, work):
    os.makedirs(work)
    image, _ = make_fat(work, "f16.img", 16, 16,
                        [("a.bin", os.urandom(20000)), ("b.dat", os.urandom(30000))])
    first = {p.lower(): c for p, c in files_with_first_clusters(image)}
    fat = Fat(image)
    a, b = first["/a.bin"], first["/b.dat"]
    b_last = fat.chain(b)[-1]
    free = fat.free_run_list()[0][0]
    cases = [
        ("chain into another file", lambda img: set_fat_entry(img, b_last, a), "share cluster"),
        ("chain loop", lambda img: set_fat_entry(img, b_last, b), "loops back"),
        ("chain into a free cluster", lambda img: set_fat_entry(img, b_last, free),
         "runs into free cluster"),
        ("FAT copies differ", lambda img: set_fat_entry(img, free, 0xFFFF, copies=[1]),
         "FAT copies 1 and 2 differ"),
    ]
    for what, damage, problem in cases:
        img = os.path.join(work, "damaged.img")
        shutil.copy(image, img)
        damage(img)
        err = refused([cli, "defrag", img, "--filter", "all"], img, "The volume is damaged",
                      "FAT16 " + what)
        check(problem in err and "fsck.fat" in err, "FAT16 %s: %r" % (what, err))
        # Read anyway, and the damage reported as such: in the figures' errors
        # and as the exit status of a damaged volume.
        r = run([cli, "analyze", img, "--json"])
        check(r.returncode == 2 and problem in r.stdout.decode(),
              "FAT16 %s: analyze exit %d %s" % (what, r.returncode, r.stdout[-300:]))
    # The undamaged volume is taken, and comes out clean.
    _, summary = fsck_summary(image)
    r = run([cli, "defrag", image, "--filter", "all", "--json"])
    check(r.returncode == 0 and json.loads(r.stdout)["moved_clusters"] > 0,
          "FAT16 undamaged: exit %d %s" % (r.returncode, r.stdout[-300:]))
    verify(image, summary, os.path.join(work, "f16.img.src"), "FAT16 undamaged")


# ----------------------------------------------------------------- NTFS

class Ntfs:
    """Just enough of an NTFS image to find a file's record and runs."""

    def __init__(self, image):
        self.image = image
        with open(image, "rb") as f:
            bs = f.read(512)
        bps = struct.unpack_from("<H", bs, 11)[0]
        self.cluster = bps * bs[13]
        self.total = struct.unpack_from("<q", bs, 0x28)[0] * bps // self.cluster
        mft = struct.unpack_from("<q", bs, 0x30)[0]
        per = struct.unpack_from("<b", bs, 0x40)[0]
        self.record_size = self.cluster * per if per > 0 else 1 << -per
        self.mft = mft * self.cluster

    def record(self, n):
        with open(self.image, "rb") as f:
            f.seek(self.mft + n * self.record_size)
            raw = bytearray(f.read(self.record_size))
        fixed = bytearray(raw)
        usa, count = struct.unpack_from("<HH", raw, 4)
        for i in range(1, count):
            fixed[i * 512 - 2:i * 512] = raw[usa + 2 * i:usa + 2 * i + 2]
        return raw, fixed

    def attributes(self, fixed):
        off = struct.unpack_from("<H", fixed, 0x14)[0]
        while off + 8 <= len(fixed):
            kind, length = struct.unpack_from("<II", fixed, off)
            if kind == 0xFFFFFFFF or length == 0:
                return
            yield kind, off, length
            off += length

    def find(self, name):
        """(record number, offset of the unnamed $DATA's run list, its runs)."""
        for n in range(16, 4096):
            raw, fixed = self.record(n)
            if raw[:4] != b"FILE" or not fixed[0x16] & 1:
                continue
            found, runs_at = False, None
            for kind, off, _ in self.attributes(fixed):
                if kind == 0x30:
                    value = off + struct.unpack_from("<H", fixed, off + 0x14)[0]
                    length = fixed[value + 0x40]
                    text = fixed[value + 0x42:value + 0x42 + 2 * length].decode("utf-16-le")
                    found = found or text == name
                if kind == 0x80 and fixed[off + 8] == 1 and fixed[off + 9] == 0:
                    runs_at = off + struct.unpack_from("<H", fixed, off + 0x20)[0]
            if found:
                return n, runs_at, self.runs(fixed, runs_at)
        raise RuntimeError("no record for " + name)

    def runs(self, fixed, at):
        out, lcn = [], 0
        while fixed[at]:
            nl, no = fixed[at] & 15, fixed[at] >> 4
            count = int.from_bytes(fixed[at + 1:at + 1 + nl], "little")
            lcn += int.from_bytes(fixed[at + 1 + nl:at + 1 + nl + no], "little", signed=True)
            out.append((lcn, count))
            at += 1 + nl + no
        return out

    def patch(self, n, at, data):
        """Writes bytes into record n, where no update sequence slot lies."""
        assert all((at + i) % 512 not in (510, 511) for i in range(len(data)))
        with open(self.image, "r+b") as f:
            f.seek(self.mft + n * self.record_size + at)
            f.write(data)

    def clear_bitmap_bit(self, lcn):
        runs = None
        _, fixed = self.record(6)
        for kind, off, _ in self.attributes(fixed):
            if kind == 0x80:
                runs = self.runs(fixed, off + struct.unpack_from("<H", fixed, off + 0x20)[0])
        with open(self.image, "r+b") as f:
            at = runs[0][0] * self.cluster + lcn // 8
            f.seek(at)
            byte = f.read(1)[0]
            f.seek(at)
            f.write(bytes([byte & ~(1 << (lcn % 8)) & 0xFF]))


def make_ntfs(work):
    image = os.path.join(work, "ntfs.img")
    with open(image, "wb") as f:
        f.truncate(32 << 20)
    r = run(["mkntfs", "-F", "-Q", "-q", image])
    if r.returncode != 0:
        return None
    for i, name in enumerate(["a.bin", "b.bin", "c.bin", "d.bin"]):
        p = os.path.join(work, name)
        with open(p, "wb") as f:
            f.write(os.urandom(40000 + (20000 if i >= 2 else 0)))
        run(["ntfscp", "-f", image, p, name])
    return image


def check_ntfs_damage(cli, work):
    os.makedirs(work)
    image = make_ntfs(work)
    if not image:
        print("skip: mkntfs failed")
        return
    vol = Ntfs(image)
    a_rec, a_runs_at, a_runs = vol.find("a.bin")
    b_rec, b_runs_at, b_runs = vol.find("b.bin")
    raw_a, fixed_a = vol.record(a_rec)
    end = a_runs_at
    while fixed_a[end]:
        end += 1 + (fixed_a[end] & 15) + (fixed_a[end] >> 4)
    a_list = bytes(fixed_a[a_runs_at:end + 1])
    header = fixed_a[a_runs_at]
    nl, no = header & 15, header >> 4

    def past_end(img):
        # The first run's start moved far past the last cluster.
        Ntfs(img).patch(a_rec, a_runs_at + 1 + nl, b"\xff" * (no - 1) + b"\x7f")

    cases = [
        ("$Bitmap bit cleared", lambda img: Ntfs(img).clear_bitmap_bit(a_runs[0][0]),
         "free in $Bitmap"),
        ("run past the volume's end", past_end, "past the volume's end"),
        ("cluster in two files", lambda img: Ntfs(img).patch(b_rec, b_runs_at, a_list),
         "belongs to another file"),
    ]
    check(no >= 2 and (1 << (8 * no - 1)) - 1 > vol.total, "NTFS: a.bin's run offset too short")
    for what, damage, problem in cases:
        img = os.path.join(work, "damaged-ntfs.img")
        shutil.copy(image, img)
        damage(img)
        err = refused([cli, "freespace", img, "--mode", "maximize"], img,
                      "The volume is damaged", "NTFS " + what)
        check(problem in err and "ntfsfix" in err, "NTFS %s: %r" % (what, err))
        # Reading it shows the damage, in the figures' errors and as the exit
        # status of a damaged volume, though the check now follows the
        # analysis's pass over the records.
        for args in (["analyze", img, "--json"], ["files", img, "--json"]):
            r = run([cli] + args)
            try:
                errors = [e["message"] for e in json.loads(r.stdout)["errors"]]
            except (ValueError, KeyError):
                errors = []
            check(r.returncode == 2 and any(problem in e for e in errors),
                  "NTFS %s: %s exit %d %s" % (what, args[0], r.returncode, errors))
    # Taken; a file that could not be moved makes it exit 1, with the reason.
    r = run([cli, "freespace", image, "--mode", "maximize", "--json"])
    try:
        listed = [e for e in json.loads(r.stdout)["errors"] if e["error"]]
    except (ValueError, KeyError):
        listed = None
    check(listed == [] and r.returncode == 0 and
          all(e["message"] and e["path"].encode() in r.stderr for e in listed),
          "NTFS undamaged: exit %d %s %s" % (r.returncode, listed, r.stderr[-300:]))
    fix = run(["ntfsfix", "-n", image])
    check(fix.returncode == 0, "NTFS undamaged: ntfsfix -n: %s" % fix.stdout[-300:])


# --------------------------------------------------------- two writers

def fat32_busy(work):
    files = [("f%04d.bin" % i, os.urandom(3000 + 37 * i)) for i in range(300)]
    return make_fat(work, "f32.img", 32, 64, files)


def check_writers(cli, work):
    os.makedirs(work)
    image, src = fat32_busy(work)
    _, summary = fsck_summary(image)
    # A writer holds the lock: a second is refused at once.
    import fcntl
    with open(image, "r+b") as held:
        fcntl.flock(held, fcntl.LOCK_EX | fcntl.LOCK_NB)
        refused([cli, "defrag", image, "--filter", "all"], image, IN_USE_BY_US, "locked image")
        r = run([cli, "analyze", image])
        check(r.returncode == 0, "locked image: analyze exit %d" % r.returncode)
    # Two operations started together: one runs, the other is refused.
    procs = [subprocess.Popen(args, env=ENV, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
             for args in ([cli, "freespace", image, "--mode", "maximize"],
                          [cli, "defrag", image, "--filter", "all"])]
    outcome = [(p.wait(), p.stderr.read().decode()) for p in procs]
    codes = sorted(c for c, _ in outcome)
    check(codes == [0, 2] and any(IN_USE_BY_US in e for _, e in outcome),
          "two writers: %s" % outcome)
    verify(image, summary, src, "two writers")
    # A writer killed part-way leaves no lock behind, and the next writer
    # finishes what it left (its intent record beside the image): no dirty
    # mark, no lost cluster, without fsck.fat.
    fresh, src2 = make_fat(work, "f32k.img", 32, 64,
                           [("k%04d.bin" % i, os.urandom(3000 + 37 * i)) for i in range(300)])
    _, fresh_summary = fsck_summary(fresh)
    p = subprocess.Popen([cli, "defrag", fresh, "--filter", "all"], env=ENV,
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(0.3)
    p.send_signal(signal.SIGKILL)
    p.wait()
    r = run([cli, "defrag", fresh, "--filter", "all", "--json"])
    err = r.stderr.decode("utf-8", "replace")
    check(r.returncode == 0, "after a killed writer: exit %d %s" % (r.returncode, err[-300:]))
    check(IN_USE_BY_US not in err, "after a killed writer: the lock stayed")
    check(not os.path.exists(fresh + ".vantrel-moves"), "after a killed writer: intent record left")
    verify(fresh, fresh_summary, src2, "after a killed writer")
    # A volume another system left dirty is still refused.
    with open(fresh, "r+b") as f:
        f.seek(0x41)
        flag = f.read(1)[0]
        f.seek(0x41)
        f.write(bytes([flag | 1]))
    refused([cli, "defrag", fresh, "--filter", "all"], fresh, "not cleanly unmounted",
            "a foreign dirty mark")
    run(["fsck.fat", "-a", fresh])
    _, after = fsck_summary(fresh)
    verify(fresh, after, src2, "after fsck.fat cleared a foreign mark")


# --------------------------------------------------------- as root only

def check_mounted(cli, work):
    os.makedirs(work)
    image = make_ntfs(work) if os.path.exists("/dev/fuse") else None
    if not image:
        print("skip: mounted volume (no FUSE or mkntfs)")
        return
    loop = run(["losetup", "-f", "--show", image])
    if loop.returncode != 0:
        print("skip: mounted volume (no loop device)")
        return
    dev = loop.stdout.decode().strip()
    mnt = os.path.join(work, "mnt")
    os.makedirs(mnt)
    try:
        m = run(["ntfs-3g", dev, mnt])
        if m.returncode != 0:
            print("skip: mounted volume (ntfs-3g: %s)" % m.stderr.decode().strip())
            return
        try:
            text = "The volume is in use (mounted at %s); unmount it first." % mnt
            for target in (dev, image):
                refused([cli, "defrag", target, "--filter", "all"], image, text,
                        "defrag " + target + " mounted")
                refused([cli, "freespace", target], image, text, "freespace %s mounted" % target)
                r = run([cli, "analyze", target])
                check(r.returncode == 0 and b"can be stale" in r.stderr,
                      "analyze %s mounted: exit %d %s" % (target, r.returncode, r.stderr))
        finally:
            run(["umount", mnt])
    finally:
        run(["losetup", "-d", dev])


def check_read_only(cli, work):
    os.makedirs(work)
    image, src = make_fat(work, "ro.img", 16, 16, [("r.bin", os.urandom(30000))])
    folder = os.path.dirname(image)
    view = os.path.join(work, "ro-view")
    os.makedirs(view)
    if run(["mount", "--bind", folder, view]).returncode != 0:
        print("skip: read-only bind mount")
        return
    try:
        if run(["mount", "-o", "remount,bind,ro", view]).returncode != 0:
            print("skip: read-only remount")
            return
        target = os.path.join(view, os.path.basename(image))
        r = run([cli, "analyze", target, "--json"])
        check(r.returncode == 0, "read-only mount: analyze exit %d %s" % (r.returncode, r.stderr))
        refused([cli, "defrag", target, "--filter", "all"], target, READ_ONLY,
                "read-only mount: defrag", code=None)
    finally:
        run(["umount", view])


def main():
    cli = os.path.abspath(sys.argv[1])
    for tool in ("mkfs.fat", "mcopy", "fsck.fat", "fatcat"):
        if not shutil.which(tool, path=ENV["PATH"]):
            print("skip: %s is missing" % tool)
            return 77
    work = tempfile.mkdtemp()
    try:
        for step in (check_fat_damage, check_writers):
            step(cli, os.path.join(work, step.__name__))
        if shutil.which("mkntfs", path=ENV["PATH"]) and shutil.which("ntfscp", path=ENV["PATH"]):
            check_ntfs_damage(cli, os.path.join(work, "ntfs"))
        if os.geteuid() == 0:
            check_mounted(cli, os.path.join(work, "mounted"))
            check_read_only(cli, os.path.join(work, "read-only"))
        else:
            print("skip: the mounted and read-only cases need root")
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("%d failures" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
