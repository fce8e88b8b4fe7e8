#!/usr/bin/env python3
"""vantrel-cli as a hostile user drives it, on images made by mkfs.fat and
mtools (and mkntfs, ntfs-3g): outputs named as the volume by any path, a
FIFO as the volume or the cache, a cache with one flipped bit or left from
another volume of the same name, size and time, damaged volumes read, paths
of another drive, stored settings out of range. As root also: one writer
by any path (a hard link, a loop device, a partition of a loop device), a
hard link to an image ntfs-3g has mounted, a loop device given another
volume, and a full disk under a sparse image. Every refusal leaves the
image's sha256 as it was; every run that writes is judged by fsck.fat -n
and every file's bytes.
usage: check_one_writer.py VANTREL_CLI [STEP...]  (the steps by name; all by default)
"""
import fcntl
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from check_fat_moves import ENV, check, failures, fsck_summary, run, verify  # noqa: E402
from check_volume_safety import (IN_USE_BY_US, make_fat, make_ntfs, refused,  # noqa: E402
                                 set_fat_entry, sha)
from fat_image import Fat  # noqa: E402

IS_VOLUME = "it is the volume"
NOT_A_VOLUME = "neither an image file nor a block device"


def figures(r, what):
    """The JSON figures of `analyze --json`, without the ones that vary."""
    try:
        out = json.loads(r.stdout.decode("utf-8"))
    except ValueError:
        check(False, "%s: no JSON: exit %d %s" % (what, r.returncode, r.stderr[-300:]))
        return {}
    for key in ("elapsed_ms", "from_cache"):
        out.pop(key, None)
    return out


def from_cache(r):
    try:
        return json.loads(r.stdout.decode("utf-8"))["from_cache"]
    except (ValueError, KeyError):
        return None


def timed(args, env=ENV, timeout=30):
    try:
        return subprocess.run(args, env=env, capture_output=True, timeout=timeout, check=False)
    except subprocess.TimeoutExpired:
        return None


def fat16(work, name, n=3, volume_id=None):
    image, src = make_fat(work, name, 16, 16,
                          [("f%d.bin" % i, os.urandom(9000 + 700 * i)) for i in range(n)])
    if volume_id is not None:
        with open(image, "r+b") as f:  # the serial number of a FAT16 boot sector
            f.seek(39)
            f.write(struct.pack("<I", volume_id))
    return image, src


# ------------------------------------------------------------ outputs

def check_outputs(cli, work):
    os.makedirs(work)
    image, _ = fat16(work, "out.img")
    hard = os.path.join(work, "hard.img")
    soft = os.path.join(work, "soft.img")
    os.link(image, hard)
    os.symlink(image, soft)
    for args in (["map", image, "--bytes", image], ["map", image, "--png", image],
                 ["map", soft, "--bytes", hard], ["map", hard, "--png", soft],
                 ["defrag", image, "--png", image], ["freespace", soft, "--png", hard]):
        refused([cli] + args, image, IS_VOLUME, " ".join(args[:1] + args[2:]))
    png = os.path.join(work, "new.png")
    r = run([cli, "map", hard, "--png", png])
    check(r.returncode == 0 and os.path.getsize(png) > 0, "map to a new file: exit %d %s"
          % (r.returncode, r.stderr[-300:]))
    r = run([cli, "map", image, "--png", png, "--width", "20001"])
    check(r.returncode == 2 and b"1 to 16384 pixels" in r.stderr,
          "--width 20001: one limit, one message: %s" % r.stderr)


# ------------------------------------------------------------ FIFOs and the cache

def check_fifos_and_cache(cli, work):
    os.makedirs(work)
    env = dict(ENV, XDG_CACHE_HOME=os.path.join(work, "cache"))
    fifo = os.path.join(work, "fifo")
    os.mkfifo(fifo)
    for command in ("analyze", "defrag", "files"):
        r = timed([cli, command, fifo], env)
        check(r is not None and r.returncode == 2 and NOT_A_VOLUME.encode() in r.stderr,
              "%s on a FIFO: %s" % (command, "hangs" if r is None else r.stderr[-300:]))

    image, _ = fat16(work, "cache.img", n=6)
    fresh = figures(run([cli, "analyze", image, "--json"]), "fresh analysis")
    r = run_env([cli, "analyze", image, "--json", "--cache"], env)
    check(from_cache(r) is False and figures(r, "first") == fresh, "first --cache run")
    r = run_env([cli, "analyze", image, "--json", "--cache"], env)
    check(from_cache(r) is True, "second --cache run is not from the cache")
    caches = []
    for root, _, names in os.walk(env["XDG_CACHE_HOME"]):
        caches += [os.path.join(root, n) for n in names if n.endswith(".dat")]
    check(len(caches) == 1, "cache files: %s" % caches)
    if len(caches) != 1:
        return
    cache = caches[0]
    good = open(cache, "rb").read()
    # One flipped bit anywhere, in a name, a count, a figure: no cache, the
    # volume analysed again and the cache written anew.
    for at in (5, len(good) // 3, len(good) // 2, len(good) - 30, len(good) - 2):
        bad = bytearray(good)
        bad[at] ^= 0x04
        with open(cache, "wb") as f:
            f.write(bad)
        r = run_env([cli, "analyze", image, "--json", "--cache"], env)
        check(r.returncode == 0 and from_cache(r) is False and figures(r, "flip") == fresh,
              "bit flipped at %d: from cache %s" % (at, from_cache(r)))
        check(open(cache, "rb").read() == good, "bit flipped at %d: cache not replaced" % at)
    os.remove(cache)
    os.mkfifo(cache)
    r = timed([cli, "analyze", image, "--json", "--cache"], env)
    check(r is not None and r.returncode == 0 and from_cache(r) is False,
          "a FIFO as the cache: %s" % ("hangs" if r is None else r.stderr[-300:]))
    check(not stat_is_fifo(cache), "the FIFO was not replaced by a cache")

    # Another volume behind the same name, of the same size and time.
    other, _ = fat16(work, "other.img", n=2, volume_id=0x1234ABCD)
    other_fresh = figures(run([cli, "analyze", other, "--json"]), "other")
    stamp = os.stat(image)
    shutil.copyfile(other, image)
    os.utime(image, ns=(stamp.st_atime_ns, stamp.st_mtime_ns))
    r = run_env([cli, "analyze", image, "--json", "--cache"], env)
    check(from_cache(r) is False and figures(r, "swapped") == other_fresh,
          "another volume of the same name, size and time is served the first one's cache")


def run_env(args, env):
    """run() with another environment; a run that hangs counts as failed."""
    r = timed(args, env, timeout=120)
    return r if r is not None else subprocess.CompletedProcess(args, -1, b"", b"(hangs)")


def stat_is_fifo(path):
    import stat
    return stat.S_ISFIFO(os.lstat(path).st_mode)


# ------------------------------------------------------------ honest exits

def check_exits(cli, work):
    os.makedirs(work)
    image, _ = fat16(work, "damaged.img")
    fat = Fat(image)
    # FAT copies that disagree on one entry: damage the checker reports.
    set_fat_entry(image, fat.clusters, 0xFFF7, copies=[1])
    damaged = sha(image)
    r = run([cli, "analyze", image, "--json"])
    check(r.returncode == 2, "analyze damaged: exit %d" % r.returncode)
    try:
        errors = json.loads(r.stdout.decode())["errors"]
    except (ValueError, KeyError):
        errors = []
    check(any("damaged" in e["message"] for e in errors), "damage not in JSON errors: %s" % errors)
    r = run([cli, "analyze", image])
    check(r.returncode == 2 and b"Files Fragmented" in r.stdout and b"damaged" in r.stdout,
          "analyze damaged (text): exit %d %s" % (r.returncode, r.stdout[-300:]))
    r = run([cli, "files", image, "--json"])
    check(r.returncode == 2 and b'"errors"' in r.stdout, "files damaged: exit %d" % r.returncode)
    out = os.path.join(work, "map.bytes")
    r = run([cli, "map", image, "--bytes", out])
    check(r.returncode == 2 and os.path.getsize(out) > 0, "map damaged: exit %d" % r.returncode)
    check(sha(image) == damaged, "reading a damaged volume changed it")

    image, _ = fat16(work, "lost.img")
    fat = Fat(image)
    set_fat_entry(image, fat.clusters + 1, 0xFFFF)  # one cluster no file owns
    r = run([cli, "analyze", image])
    check(b"1 cluster is in use by no file" in r.stdout, "one lost cluster: %s" % r.stdout[-400:])

    before = sha(image)
    for path in ("C:\\f0.bin", "\\\\?\\C:\\f0.bin", "w:/f0.bin"):
        refused([cli, "defrag-file", image, path], image, "is not on drive V:", path)
    check(sha(image) == before, "defrag-file on another drive changed the image")

    config = os.path.join(work, "config")
    env = dict(ENV, XDG_CONFIG_HOME=config)
    ini = run_env([cli, "settings", "path"], env).stdout.decode().strip()
    os.makedirs(os.path.dirname(ini), exist_ok=True)
    for stored, mode in (("0", 2), ("1", 2), ("99", 2), ("-3", 2), ("3", 3), ("2", 2)):
        with open(ini, "w") as f:
            f.write("[Settings]\nDefragFreeMode=%s\n" % stored)
        r = run_env([cli, "freespace", image, "--json"], env)
        try:
            got = json.loads(r.stdout.decode())["mode"]
        except (ValueError, KeyError):
            got = None
        check(got == mode, "DefragFreeMode=%s ran as mode %s, not %d" % (stored, got, mode))
    r = run_env([cli, "settings", "set", "Position.Vantrel", "1,2,300,400,5,6"], env)
    check(r.returncode == 0 and b"dropped" in r.stderr, "six-number Position: %s" % r.stderr)


# ------------------------------------------------------------ as root

def lock_file(path):
    st = os.stat(path)
    for folder in ("/run/lock", "/var/lock", "/tmp"):
        if os.path.isdir(folder) and os.access(folder, os.W_OK):
            return os.path.join(folder, "vantrel-file-%x-%x.lock" % (st.st_dev, st.st_ino))
    return None


def losetup(*args):
    r = run(["losetup"] + list(args))
    return r.stdout.decode().strip() if r.returncode == 0 else None


def check_one_writer(cli, work):
    os.makedirs(work)
    image, src = make_fat(work, "w.img", 32, 64,
                          [("w%04d.bin" % i, os.urandom(3000 + 37 * i)) for i in range(300)])
    _, summary = fsck_summary(image)
    hard = os.path.join(work, "hard.img")
    os.link(image, hard)
    dev = losetup("-f", "--show", image)
    if not dev:
        print("skip: one writer through a loop device (no loop device)")
        return
    try:
        # Whoever holds the lock of the image's bytes, every path is refused.
        with open(lock_file(image), "a+") as held:
            fcntl.flock(held, fcntl.LOCK_EX | fcntl.LOCK_NB)
            for target in (image, hard, dev):
                refused([cli, "freespace", target], image, IN_USE_BY_US, "locked: " + target)
        # A writer by the image and one by its loop device, started together.
        procs = [subprocess.Popen(args, env=ENV, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                 for args in ([cli, "defrag", image, "--filter", "all"],
                              [cli, "freespace", dev, "--mode", "maximize"])]
        outcome = [(p.wait(), p.stderr.read().decode()) for p in procs]
        codes = sorted(c for c, _ in outcome)
        check(codes == [0, 2] and any(IN_USE_BY_US in e for _, e in outcome),
              "image and its loop device written together: %s" % outcome)
        refused([cli, "map", dev, "--png", image], image, IS_VOLUME, "map a loop device to its file")
        refused([cli, "map", image, "--bytes", dev], image, IS_VOLUME, "map a file to its loop")
    finally:
        run(["losetup", "-d", dev])
    verify(image, summary, src, "one writer by a loop device")
    check_partition(cli, work)


def check_partition(cli, work):
    """A partition of a loop device is the loop's backing file as well."""
    image = os.path.join(work, "disk.img")
    with open(image, "wb") as f:
        f.truncate(40 << 20)
        mbr = bytearray(512)
        mbr[446:462] = struct.pack("<B3sB3sII", 0, b"\0\0\0", 0x06, b"\0\0\0", 2048,
                                   (40 << 20) // 512 - 2048)
        mbr[510:512] = b"\x55\xaa"
        f.seek(0)
        f.write(mbr)
    dev = losetup("-f", "--show", "-P", image)
    if not dev:
        print("skip: a partitioned loop device")
        return
    try:
        part = dev + "p1"
        if not os.path.exists(part):
            run(["partx", "-a", dev])  # where the kernel does not read the table itself
        if not os.path.exists(part) or run(["mkfs.fat", "-F", "16", part]).returncode != 0:
            print("skip: no partition node for %s" % dev)
            return
        with open(lock_file(image), "a+") as held:
            fcntl.flock(held, fcntl.LOCK_EX | fcntl.LOCK_NB)
            refused([cli, "defrag", part], image, IN_USE_BY_US, "locked: " + part)
        refused([cli, "map", part, "--png", image], image, IS_VOLUME, "map a partition to its disk")
    finally:
        run(["losetup", "-d", dev])


def check_mounted_link(cli, work):
    os.makedirs(work)
    image = make_ntfs(work)
    if not image:
        print("skip: a hard link to a mounted image (mkntfs)")
        return
    hard = os.path.join(work, "hard.img")
    os.link(image, hard)
    mnt = os.path.join(work, "mnt")
    os.makedirs(mnt)
    m = run(["ntfs-3g", image, mnt])
    if m.returncode != 0:
        print("skip: a hard link to a mounted image (ntfs-3g: %s)" % m.stderr.decode().strip())
        return
    try:
        text = "The volume is in use (mounted at %s)" % mnt
        for target in (hard, image):
            refused([cli, "defrag", target, "--filter", "all"], image, text, "mounted: " + target)
            refused([cli, "freespace", target], image, text, "mounted: " + target)
    finally:
        run(["umount", mnt])
    r = run(["ntfsfix", "-n", image])
    check(r.returncode == 0, "mounted link: ntfsfix -n: %s" % r.stdout[-300:])


def check_loop_cache(cli, work):
    os.makedirs(work)
    env = dict(ENV, XDG_CACHE_HOME=os.path.join(work, "cache"))
    first, _ = fat16(work, "first.img", n=5, volume_id=0x11111111)
    second, _ = fat16(work, "second.img", n=2, volume_id=0x22222222)
    expected = figures(run([cli, "analyze", second, "--json"]), "second")
    dev = losetup("-f", "--show", first)
    if not dev:
        print("skip: a loop device given another volume")
        return
    run_env([cli, "analyze", dev, "--json", "--cache"], env)
    run(["losetup", "-d", dev])
    if losetup(dev, second) is None:
        print("skip: %s was taken before it could be given another volume" % dev)
        return
    try:
        r = run_env([cli, "analyze", dev, "--json", "--cache"], env)
        got = figures(r, "loop")
        for key in ("drive",):
            got.pop(key, None)
            expected.pop(key, None)
        check(from_cache(r) is False and got == expected,
              "a loop device given another volume is served the first one's cache")
    finally:
        run(["losetup", "-d", dev])


def check_full_disk(cli, work):
    """Moves that fail on a full disk under a sparse image: exit 1, each
    failure with the system's message, the volume as it was."""
    os.makedirs(work)
    mnt = os.path.join(work, "tmpfs")
    os.makedirs(mnt)
    if run(["mount", "-t", "tmpfs", "-o", "size=12m", "tmpfs", mnt]).returncode != 0:
        print("skip: a full disk (no tmpfs)")
        return
    try:
        image, src = make_fat(mnt, "full.img", 16, 32,
                              [("g%d.bin" % i, os.urandom(6000 + 500 * i)) for i in range(8)])
        shutil.rmtree(src)
        shutil.rmtree(image + ".src", ignore_errors=True)
        expected = os.path.join(work, "expected")
        os.makedirs(expected)
        run(["mcopy", "-s", "-n", "-i", image, "::*", expected + "/"])
        _, summary = fsck_summary(image)
        filler = os.path.join(mnt, "filler")
        with open(filler, "wb") as f:
            try:
                while True:
                    f.write(b"\0" * (1 << 16))
                    f.flush()
            except OSError:
                pass
        r = run([cli, "defrag", image, "--filter", "all", "--json"])
        err = r.stderr.decode("utf-8", "replace")
        check(r.returncode == 1, "full disk: exit %d, not 1: %s" % (r.returncode, err[-300:]))
        check("error 29: The system cannot write to the specified device." in err,
              "full disk: no system message on stderr: %s" % err[-400:])
        check("Ctrl-C" not in r.stdout.decode() + err, "full disk: a Ctrl-C that never came")
        try:
            errors = json.loads(r.stdout.decode())["errors"]
        except (ValueError, KeyError):
            errors = [{"message": ""}]
        check(errors and all(e["message"] for e in errors), "full disk: empty messages %s" % errors)
        os.remove(filler)
        verify(image, summary, expected, "full disk")
    finally:
        run(["umount", mnt])


def main():
    cli = os.path.abspath(sys.argv[1])
    for tool in ("mkfs.fat", "mcopy", "fsck.fat", "fatcat"):
        if not shutil.which(tool, path=ENV["PATH"]):
            print("skip: %s is missing" % tool)
            return 77
    only = sys.argv[2:]
    work = tempfile.mkdtemp()
    try:
        for step in (check_outputs, check_fifos_and_cache, check_exits):
            if not only or step.__name__ in only:
                step(cli, os.path.join(work, step.__name__))
        root_steps = [check_one_writer, check_loop_cache, check_full_disk]
        if os.geteuid() != 0 or not shutil.which("losetup", path=ENV["PATH"]):
            print("skip: the loop-device, mount and full-disk cases need root and losetup")
            return 77 if not failures else 1
        if shutil.which("ntfs-3g") and shutil.which("mkntfs", path=ENV["PATH"]):
            root_steps.append(check_mounted_link)
        else:
            print("skip: a hard link to a mounted image (no ntfs-3g)")
        for step in root_steps:
            if not only or step.__name__ in only:
                step(cli, os.path.join(work, step.__name__))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("%d failures" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
