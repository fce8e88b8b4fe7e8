#!/usr/bin/env python3
"""Retrims FAT32 and NTFS images with vantrel-cli and judges the result with the file systems' tools.

Each image is a sparse file made by mkfs.fat + mtools (and, as root, mkntfs +
an ntfs-3g mount) holding a few hundred files of random bytes, every other one
deleted again, so that the image file still holds the deleted data. After
`retrim` the image's allocated bytes (st_blocks x 512) must be at most the
volume's used bytes plus 1% of the image size, its apparent size unchanged,
fsck.fat -n / ntfsfix -n clean and every file's checksum unchanged. A volume
whose allocation check fails is refused and its image left byte for byte as
it was. As root, a loop device whose queue/rotational is 0 is reported as
solid state and with 1 as a hard disk, and a retrim through it (discard on)
shrinks its backing file the same way.

usage: check_retrim.py VANTREL_CLI   (exits 77 when mtools or dosfstools are missing)
"""
import hashlib
import json
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile

CLI = sys.argv[1]
ENV = dict(os.environ, MTOOLS_SKIP_CHECK="1", LC_ALL="C.UTF-8",
           PATH=os.environ.get("PATH", "") + ":/usr/sbin:/sbin")
ENV.pop("VANTREL_MEDIA", None)
failures = []


def check(ok, text):
    print(("ok   " if ok else "FAIL ") + text)
    if not ok:
        failures.append(text)


def run(*args, check_rc=True, **kw):
    kw.setdefault("text", True)
    p = subprocess.run(list(args), env=ENV, capture_output=True, **kw)
    if check_rc and p.returncode != 0:
        raise RuntimeError("%s: %s%s" % (" ".join(args), p.stdout[:500], p.stderr))
    return p


def allocated(path):
    return os.stat(path).st_blocks * 512


def cli_json(*args):
    p = run(CLI, *args, "--json", "--quiet", check_rc=False)
    try:
        return p.returncode, json.loads(p.stdout), p.stderr
    except ValueError:
        return p.returncode, None, p.stderr


def make_files(folder, rng, count, prefix="f"):
    names = []
    for i in range(count):
        name = "%s%04d.bin" % (prefix, i)
        with open(os.path.join(folder, name), "wb") as f:
            f.write(rng.randbytes(rng.randrange(3000, 300000)))
        names.append(name)
    return names


def digest(data):
    return hashlib.sha256(data).hexdigest()


def fat_sums(image, names):
    return {n: digest(run("mtype", "-i", image, "::/" + n, text=False).stdout) for n in names}


def judge_retrim(label, image, target, fs_check):
    """Retrims `target` (the image or a device over it) and judges the image file."""
    size = os.path.getsize(image)
    before = allocated(image)
    rc, out, err = cli_json("retrim", target)
    check(rc == 0 and out is not None, "%s: retrim succeeds (%s)" % (label, err.strip()))
    if out is None:
        return
    used = size - out["free_bytes"]
    after = allocated(image)
    print("     %s: allocated %d -> %d bytes, volume used %d bytes, trimmed %d bytes, "
          "limit %d" % (label, before, after, used, out["trimmed_bytes"], used + size // 100))
    check(after <= used + size // 100, "%s: allocated bytes within used + 1%%" % label)
    check(after < before, "%s: the image gave space back" % label)
    check(os.path.getsize(image) == size, "%s: apparent size unchanged" % label)
    check(out["trimmed_bytes"] <= out["free_bytes"], "%s: no more trimmed than free" % label)
    fs_check()


def fat_case(work, rng):
    image = os.path.join(work, "fat32.img")
    with open(image, "wb") as f:
        f.truncate(300 << 20)
    run("mkfs.fat", "-F", "32", "-S", "512", "-s", "8", image)
    src = os.path.join(work, "fat-src")
    os.mkdir(src)
    names = make_files(src, rng, 300)
    run("mcopy", "-i", image, *[os.path.join(src, n) for n in names], "::/")
    run("mdel", "-i", image, *["::/" + n for n in names[::2]])
    kept = names[1::2]
    sums = fat_sums(image, kept)

    def fs_check():
        p = run("fsck.fat", "-n", image, check_rc=False)
        check(p.returncode == 0, "fat32: fsck.fat -n clean")
        check(fat_sums(image, kept) == sums, "fat32: every checksum unchanged")

    rc, out, _ = cli_json("analyze", image)
    check(rc == 0 and out["media"] in ("ssd", "hdd", "unknown") and isinstance(out["trim"], bool),
          "fat32: analyze --json reports media and trim")
    judge_retrim("fat32", image, image, fs_check)

    # Twice: the second finds only holes and gives nothing more back.
    first = allocated(image)
    rc, out, _ = cli_json("retrim", image)
    check(rc == 0 and allocated(image) == first, "fat32: a second retrim changes nothing")

    # A file's chain cut short in both FATs: the allocation check fails, and
    # retrim is refused with the image untouched.
    damaged = os.path.join(work, "damaged.img")
    shutil.copyfile(image, damaged)
    with open(damaged, "r+b") as f:
        boot = f.read(512)
        bps, reserved, fats = struct.unpack_from("<H", boot, 11)[0], \
            struct.unpack_from("<H", boot, 14)[0], boot[16]
        fat_size = struct.unpack_from("<I", boot, 36)[0]
        cluster = first_cluster_of(damaged, kept[-1])
        for n in range(fats):
            f.seek((reserved + n * fat_size) * bps + cluster * 4)
            f.write(b"\0\0\0\0")
    sha = digest(open(damaged, "rb").read())
    blocks = allocated(damaged)
    p = run(CLI, "retrim", damaged, "--quiet", check_rc=False)
    check(p.returncode != 0 and "damaged" in p.stderr,
          "damaged fat32: retrim refused (%s)" % p.stderr.strip())
    check(digest(open(damaged, "rb").read()) == sha and allocated(damaged) == blocks,
          "damaged fat32: image unchanged")
    os.unlink(damaged)
    return image


def first_cluster_of(image, name):
    listing = run("mshowfat", "-i", image, "::/" + name).stdout
    # "::/f0299.bin <123-130>"
    return int(listing.split("<")[1].split("-")[0].split(">")[0])


def ntfs_case(work, rng):
    image = os.path.join(work, "ntfs.img")
    with open(image, "wb") as f:
        f.truncate(256 << 20)
    run("mkntfs", "-F", "-Q", "-q", "-c", "4096", image)
    mnt = os.path.join(work, "mnt")
    os.mkdir(mnt)
    if run("ntfs-3g", image, mnt, check_rc=False).returncode != 0:
        print("skip ntfs: cannot mount with ntfs-3g")
        return
    try:
        names = make_files(mnt, rng, 300)
        for n in names[::2]:
            os.unlink(os.path.join(mnt, n))
    finally:
        run("umount", mnt)
    kept = names[1::2]

    def sums():
        run("ntfs-3g", "-o", "ro", image, mnt)
        try:
            return {n: digest(open(os.path.join(mnt, n), "rb").read()) for n in kept}
        finally:
            run("umount", mnt)

    before = sums()

    def fs_check():
        p = run("ntfsfix", "-n", image, check_rc=False)
        check(p.returncode == 0, "ntfs: ntfsfix -n clean")
        check(sums() == before, "ntfs: every checksum unchanged")

    judge_retrim("ntfs", image, image, fs_check)


def loop_case(work, fat_image, rng):
    """The loop device's rotational flag decides the media; a retrim through it punches holes."""
    backing = os.path.join(work, "loop.img")
    shutil.copyfile(fat_image, backing)
    # Fill the free clusters with data again, as a used disk would have.
    src = os.path.join(work, "loop-src")
    os.mkdir(src)
    names = make_files(src, rng, 100, "g")
    run("mcopy", "-i", backing, *[os.path.join(src, n) for n in names], "::/")
    run("mdel", "-i", backing, *["::/" + n for n in names])
    p = run("losetup", "-f", "--show", backing, check_rc=False)
    if p.returncode != 0:
        print("skip loop device: " + p.stderr.strip())
        return
    device = p.stdout.strip()
    queue = "/sys/block/%s/queue/" % os.path.basename(device)
    try:
        for value, media in (("0", "ssd"), ("1", "hdd")):
            with open(queue + "rotational", "w") as f:
                f.write(value)
            rc, out, err = cli_json("analyze", device)
            check(rc == 0 and out["media"] == media,
                  "loop device with rotational %s is %s (%s)" % (value, media,
                                                               out and out["media"]))
        discard = int(open(queue + "discard_max_bytes").read())
        rc, out, _ = cli_json("analyze", device)
        check(out["trim"] == (discard > 0), "loop device: trim follows discard_max_bytes")
        if discard > 0:
            judge_retrim("loop device", backing, device, lambda: None)
    finally:
        run("losetup", "-d", device, check_rc=False)
    p = run("fsck.fat", "-n", backing, check_rc=False)
    check(p.returncode == 0, "loop device: fsck.fat -n clean on the backing file")


def main():
    for tool in ("mkfs.fat", "fsck.fat", "mcopy", "mdel", "mtype", "mshowfat"):
        if not shutil.which(tool, path=ENV["PATH"]):
            print("skip: %s missing" % tool)
            return 77
    rng = random.Random(24)
    work = tempfile.mkdtemp(prefix="vt-retrim-", dir=os.environ.get("VT_WORK_DIR"))
    try:
        fat_image = fat_case(work, rng)
        root = os.geteuid() == 0
        if root and all(shutil.which(t, path=ENV["PATH"])
                        for t in ("mkntfs", "ntfs-3g", "ntfsfix", "umount")):
            ntfs_case(work, rng)
        else:
            print("skip ntfs: needs root and the ntfs-3g tools")
        if root and shutil.which("losetup", path=ENV["PATH"]):
            loop_case(work, fat_image, rng)
        else:
            print("skip loop device: needs root and losetup")
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("%d failures" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
