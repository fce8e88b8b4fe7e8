#!/usr/bin/env python3
"""SIGKILL at random points of long passes, each followed by a full run.

A FAT32 image made by mkfs.fat and mtools holds a few hundred files cut into
many fragments. Each round takes a fresh copy, starts `defrag --filter all`
or `freespace --mode maximize` on it, kills it with SIGKILL (half the
rounds at a random moment inside the pass, the other half a few
milliseconds after the intent record of its first group of moves appears,
so that the kill falls while that group is being stored), runs the same
pass again to its end, and judges the volume: fsck.fat -n must find nothing (no dirty mark, no lost cluster: the
same files and clusters in use as before), fatcat -2 the FAT copies equal,
every file read back with mcopy equal to before, and no intent record left
beside the image. On NTFS (as root: the image is made through ntfs-3g) the
same rounds are judged by ntfsfix -n, ntfsresize -i -f and every file's
sha256 read back through a read-only ntfs-3g mount.
usage: check_kills.py VANTREL_CLI [ROUNDS] [SEED]   (kills inside a pass per volume, 20 by default)
"""
import hashlib
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_fat_moves as fat  # noqa: E402
import check_ntfs_moves as ntfs  # noqa: E402  (ntfscluster's runs, $Bitmap)

ENV = fat.ENV


def run(args, **kw):
    return subprocess.run(args, env=ENV, capture_output=True, **kw)


def must(args):
    r = run(args)
    if r.returncode != 0:
        raise SystemExit("check_kills: %s failed: %s" % (" ".join(args[:3]), r.stderr.decode()[-400:]))
    return r


def content(name, size):
    return random.Random(name).randbytes(size)


def make_fat(work):
    """Files written into the holes of deleted placeholders, so each takes
    several pieces (mtools fills the first free clusters)."""
    img = os.path.join(work, "fat32.img")
    must(["mkfs.fat", "-C", "-F", "32", "-s", "1", "-n", "KILLS", img, str(96 * 1024)])

    def clear_hint():
        with open(img, "r+b") as f:
            f.seek(512 + 0x1EC)
            f.write(b"\xff\xff\xff\xff")

    src = os.path.join(work, "src")
    os.makedirs(src)
    holes = []
    for i in range(1200):
        path = os.path.join(src, "h%04d" % i)
        with open(path, "wb") as f:
            f.write(bytes(512 * (1 + i % 7)))
        keep = os.path.join(src, "k%04d" % i)
        with open(keep, "wb") as f:
            f.write(content("k%04d" % i, 300))
        holes += [path, keep]
    must(["mmd", "-i", img, "::/l", "::/d"])
    clear_hint()
    must(["mcopy", "-i", img] + holes + ["::/l/"])
    must(["mdel", "-i", img, "::/l/h*"])
    names = []
    for i in range(240):
        path = os.path.join(src, "f%03d.bin" % i)
        with open(path, "wb") as f:
            f.write(content("f%03d" % i, 2000 + (i * 7919) % 60000))
        names.append(path)
    clear_hint()
    must(["mcopy", "-i", img] + names + ["::/d/"])
    for i in range(0, 240, 3):
        os.remove(names[i])
    shutil.rmtree(src)
    return img


def kill_and_rerun(cli, img, args, duration, rng, at_commit):
    """Kills the pass (at a random moment, or with `at_commit` just after
    its first group's intent record appears) and runs it again; whether
    the kill came while the pass was still running."""
    p = subprocess.Popen([cli] + args[:1] + [img] + args[1:], env=ENV,
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if at_commit:
        record = img + ".vantrel-moves"
        deadline = time.monotonic() + 3 * duration + 5
        while (not os.path.exists(record) and p.poll() is None
               and time.monotonic() < deadline):
            time.sleep(0.0002)
        time.sleep(rng.uniform(0, 0.004))
    else:
        time.sleep(rng.uniform(0.05, 0.95) * duration)
    killed = p.poll() is None
    p.send_signal(signal.SIGKILL)
    p.wait()
    r = run([cli] + args[:1] + [img] + args[1:])
    fat.check(r.returncode == 0, "run after the kill: exit %d: %s"
              % (r.returncode, r.stderr.decode()[-400:]))
    return killed


def round_kind(n):
    """The pass of round n and whether it is killed at a commit: each of
    the four combinations in turn."""
    return n % 2, (n // 2) % 2 == 1


PASSES = (["defrag", "--filter", "all"], ["freespace", "--mode", "maximize"])


def pass_durations(cli, pristine, img):
    """How long each pass takes once the image is in the cache (the
    shorter of two runs), so that the kills fall inside the passes."""
    durations = []
    for args in PASSES:
        best = None
        for _ in range(2):
            shutil.copy(pristine, img)
            t0 = time.monotonic()
            must([cli] + args[:1] + [img] + args[1:])
            best = min(best or 1e9, time.monotonic() - t0)
        durations.append(best)
    return durations


def fat_rounds(cli, work, rounds, rng):
    pristine = make_fat(work)
    _, summary = fat.fsck_summary(pristine)
    expected = os.path.join(work, "expected")
    os.makedirs(expected)
    must(["mcopy", "-s", "-n", "-i", pristine, "::*", expected + "/"])
    img = os.path.join(work, "run.img")
    durations = pass_durations(cli, pristine, img)
    killed = 0
    n = -1
    # A kill that comes after the pass ended does not count: rounds go on
    # until `rounds` kills fell inside a pass (at most three times as many).
    while killed < rounds and n + 1 < 3 * rounds:
        n += 1
        which, at_commit = round_kind(n)
        shutil.copy(pristine, img)
        killed += kill_and_rerun(cli, img, PASSES[which], durations[which], rng, at_commit)
        what = "FAT32 round %d (%s%s)" % (n + 1, PASSES[which][0],
                                          ", killed at a commit" if at_commit else "")
        fat.verify(img, summary, expected, what)
        fat.check(not os.path.exists(img + ".vantrel-moves"), what + ": the intent record stayed")
        if fat.failures:
            break
    fat.check(killed == rounds, "FAT32: only %d kills of %d came inside a pass" % (killed, rounds))
    print("FAT32: %d rounds, %d kills inside a pass (passes %.2f s and %.2f s)"
          % (n + 1, killed, durations[0], durations[1]))


def ntfs_rounds(cli, work, rounds, rng):
    img = os.path.join(work, "ntfs.img")
    mnt = os.path.join(work, "mnt")
    os.makedirs(mnt)
    with open(img, "wb") as f:
        f.truncate(64 << 20)
    must(["mkntfs", "-F", "-Q", "-q", "-c", "4096", "-L", "KILLS", img])
    must(["ntfs-3g", img, mnt])
    sums = {}
    try:
        # Files grown a slice at a time, in turn, so that their runs interleave.
        sizes = {"f%03d.bin" % i: 4096 * (3 + (i * 37) % 60) for i in range(120)}
        for step in range(6):
            for name, size in sizes.items():
                part = size // 6
                with open(os.path.join(mnt, name), "ab") as f:
                    f.write(content(name, size)[step * part:(step + 1) * part if step < 5 else size])
        for name, size in sizes.items():
            sums[name] = hashlib.sha256(content(name, size)).hexdigest()
    finally:
        must(["umount", mnt])
    pristine = img + ".pristine"
    shutil.copy(img, pristine)
    durations = pass_durations(cli, pristine, img)
    shutil.copy(pristine, img)
    left_behind(cli, img)
    killed = 0
    n = -1
    # A kill that comes after the pass ended does not count: rounds go on
    # until `rounds` kills fell inside a pass (at most three times as many).
    while killed < rounds and n + 1 < 3 * rounds:
        n += 1
        which, at_commit = round_kind(n)
        shutil.copy(pristine, img)
        killed += kill_and_rerun(cli, img, PASSES[which], durations[which], rng, at_commit)
        what = "NTFS round %d (%s%s)" % (n + 1, PASSES[which][0],
                                         ", killed at a commit" if at_commit else "")
        for args in (["ntfsfix", "-n", img], ["ntfsresize", "-i", "-f", img]):
            r = run(args)
            fat.check(r.returncode == 0, "%s: %s: %s" % (what, args[0],
                                                         (r.stdout + r.stderr).decode()[-600:]))
        must(["ntfs-3g", "-o", "ro", img, mnt])
        try:
            bad = [name for name, digest in sums.items()
                   if hashlib.sha256(open(os.path.join(mnt, name), "rb").read()).hexdigest()
                   != digest]
        finally:
            must(["umount", mnt])
        fat.check(not bad, "%s: files differ: %s" % (what, bad[:5]))
        fat.check(not os.path.exists(img + ".vantrel-moves"), what + ": the intent record stayed")
        if fat.failures:
            break
    fat.check(killed == rounds, "NTFS: only %d kills of %d came inside a pass" % (killed, rounds))
    print("NTFS: %d rounds, %d kills inside a pass (passes %.2f s and %.2f s)"
          % (n + 1, killed, durations[0], durations[1]))


def left_behind(cli, img):
    """What a group cut off between marking and freeing leaves: clusters
    set in $Bitmap that no file owns, named by its record in the order the
    group moved them (a high run before a low one). The next run frees
    them all."""
    clusters, inodes = ntfs.volume_map(img)
    free = ntfs.free_runs(ntfs.bitmap(img, clusters))
    low, high = free[0][0], free[-1][0] + free[-1][1] - 3
    with open(img, "r+b") as f:
        f.seek(0x48)
        serial = int.from_bytes(f.read(4), "little")
        for c in list(range(low, low + 3)) + list(range(high, high + 3)):
            at = c // 8
            vcn, lcn, count = next(r for r in inodes[6]["attrs"]["$DATA"]
                                   if r[0] <= at // 4096 < r[0] + r[2])
            f.seek((lcn + at // 4096 - vcn) * 4096 + at % 4096)
            byte = f.read(1)[0] | (1 << (c % 8))
            f.seek(-1, 1)
            f.write(bytes([byte]))
    with open(img + ".vantrel-moves", "w") as f:
        f.write("vantrel-moves 1\nserial %08X\ndirty 0\nrun %d 3\nrun %d 3\nend\n"
                % (serial, high, low))
    fat.check(run(["ntfsresize", "-i", "-f", img]).returncode != 0,
              "NTFS: the clusters set by hand are not seen as leaked")
    must([cli, "defrag", img, "--filter", "all"])
    r = run(["ntfsresize", "-i", "-f", img])
    fat.check(r.returncode == 0, "NTFS: a record's clusters stayed set: %s"
              % (r.stdout + r.stderr).decode()[-600:])
    fat.check(not os.path.exists(img + ".vantrel-moves"), "NTFS: the record stayed")


def main():
    if len(sys.argv) < 2:
        raise SystemExit(__doc__)
    cli = sys.argv[1]
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 20
    rng = random.Random(int(sys.argv[3]) if len(sys.argv) > 3 else 26)
    for tool in ("mkfs.fat", "fsck.fat", "mcopy", "mdel", "mmd", "fatcat"):
        if not shutil.which(tool, path=ENV["PATH"]):
            print("check_kills: %s is missing" % tool)
            return 77
    work = tempfile.mkdtemp(prefix="vt-kills-")
    try:
        fat_rounds(cli, work, rounds, rng)
        tools = ("mkntfs", "ntfs-3g", "ntfsfix", "ntfsresize")
        if os.geteuid() == 0 and all(shutil.which(t, path=ENV["PATH"]) for t in tools):
            ntfs_rounds(cli, work, rounds, rng)
        else:
            print("NTFS: skipped (needs root and ntfs-3g)")
    finally:
        shutil.rmtree(work, ignore_errors=True)
    for f in fat.failures:
        print("FAIL: " + f)
    return 1 if fat.failures else 0


if __name__ == "__main__":
    sys.exit(main())
