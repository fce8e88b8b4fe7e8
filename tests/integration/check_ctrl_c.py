#!/usr/bin/env python3
"""Ctrl-C during a drive pass of vantrel-cli on a FAT32 image.

Builds a 1 GiB FAT32 image with mkfs.fat and mcopy holding large files of
hundreds of fragments each, starts `defrag` and sends SIGINT as soon as the
first move has written to the image. The first Ctrl-C must let the move in
progress finish and stop the pass: exit status 130, the report's
"Cancelled:" line, some but not all files defragmented, fsck.fat -n and
fatcat -2 clean with the counts of before, every file's bytes unchanged. A
second run gets two Ctrl-C close together: it ends with 130 and every file
still reads back unchanged (at worst clusters are left lost). That the
second ends at once without a report is the CLI unit test's to show.
usage: check_ctrl_c.py VANTREL_CLI
"""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from check_fat_moves import (ENV, check, failures, fragmented, fsck_summary,  # noqa: E402
                             run, verify)

BIG_FILES = 6
GAPS = 300           # fragments of each large file
GAP_BYTES = 48 * 1024
KEEP_BYTES = 4096


def gen(size, seed):
    out, i = bytearray(), 0
    while len(out) < size:
        out += b"%s:%08d\n" % (seed.encode(), i)
        i += 1
    return bytes(out[:size])


def tool(*args):
    r = run(list(args))
    if r.returncode != 0:
        raise SystemExit("%s: %s" % (" ".join(args[:3]), r.stderr.decode()[-300:]))


def clear_hint(image):
    # mtools starts FAT32 writes at FSInfo's next-free hint; cleared, the
    # large files fill the gaps from the start of the volume.
    with open(image, "r+b") as f:
        boot = f.read(64)
        fsinfo = int.from_bytes(boot[48:50], "little")
        f.seek(fsinfo * 512 + 0x1EC)
        f.write(b"\xff\xff\xff\xff")


def build(image, work, expected):
    """Small files interleaved with gaps, the gaps deleted, then large files
    written into them. `expected` gets every file's bytes."""
    tool("mkfs.fat", "-C", "-F", "32", "-s", "8", "-S", "512", "--invariant", image,
         str(1024 * 1024))
    tool("mmd", "-i", image, "::Fill", "::Big")
    src = os.path.join(work, "src")
    os.makedirs(src)
    names = []
    for i in range(BIG_FILES * GAPS):
        for kind, size in (("g", GAP_BYTES), ("k", KEEP_BYTES)):
            names.append(os.path.join(src, "%s%05d.dat" % (kind, i)))
            with open(names[-1], "wb") as f:
                f.write(gen(size, "%s%d" % (kind, i)))
    # mcopy writes its files in the order named: gaps and keepers alternate.
    for at in range(0, len(names), 200):
        tool("mcopy", "-i", image, *names[at:at + 200], "::Fill/")
    gaps = ["::Fill/" + os.path.basename(n) for n in names if os.path.basename(n)[0] == "g"]
    for at in range(0, len(gaps), 200):
        tool("mdel", "-i", image, *gaps[at:at + 200])
    for b in range(BIG_FILES):
        path = os.path.join(src, "big%d.bin" % b)
        with open(path, "wb") as f:
            f.write(gen(GAPS * GAP_BYTES, "big%d" % b))
        clear_hint(image)
        tool("mcopy", "-i", image, path, "::Big/")
    exp = os.path.join(work, "expected")
    os.makedirs(exp)
    r = run(["mcopy", "-s", "-n", "-i", image, "::*", exp + "/"])
    if r.returncode != 0:
        raise SystemExit("mcopy: " + r.stderr.decode())
    expected.append(exp)


def fat_bytes(image):
    """The first FAT without entries 0 and 1 (they hold the clean bit)."""
    with open(image, "rb") as f:
        boot = f.read(512)
        reserved = int.from_bytes(boot[14:16], "little")
        sectors = int.from_bytes(boot[36:40], "little")
        f.seek(reserved * 512 + 8)
        return f.read(sectors * 512 - 8)


def interrupted_run(cli, image, signals, sig=signal.SIGINT):
    """Starts the drive pass, waits until its first move has switched a
    chain in the FAT, sends `signals` of `sig`; returns (exit status,
    stdout, stderr)."""
    before = fat_bytes(image)
    proc = subprocess.Popen([cli, "defrag", image, "--filter", "all"], env=ENV,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    deadline = time.monotonic() + 120
    while fat_bytes(image) == before and proc.poll() is None:
        if time.monotonic() > deadline:
            proc.kill()
            raise SystemExit("the drive pass moved nothing in two minutes")
        time.sleep(0.005)
    for i in range(signals):
        if i:
            time.sleep(0.003)  # signals sent together would arrive as one
        proc.send_signal(sig)
    out, err = proc.communicate(timeout=300)
    return proc.returncode, out.decode("utf-8", "replace"), err.decode("utf-8", "replace")


def total_fragments(image):
    return sum(n for _, n in fragmented(image))


def main():
    if len(sys.argv) != 2:
        raise SystemExit(__doc__)
    cli = sys.argv[1]
    for t in ("mkfs.fat", "mcopy", "mmd", "mdel", "fsck.fat", "fatcat"):
        if not shutil.which(t, path=ENV["PATH"]):
            print("check_ctrl_c: %s is missing" % t)
            sys.exit(77)
    work = tempfile.mkdtemp()
    try:
        pristine = os.path.join(work, "pristine.img")
        expected = []
        build(pristine, work, expected)
        _, summary = fsck_summary(pristine)
        check(len(fragmented(pristine)) == BIG_FILES, "the image holds %d fragmented files, "
              "not %d" % (len(fragmented(pristine)), BIG_FILES))
        before = total_fragments(pristine)

        image = os.path.join(work, "once.img")
        shutil.copyfile(pristine, image)
        rc, out, err = interrupted_run(cli, image, 1)
        check(rc == 130, "one Ctrl-C: exit %d, not 130: %s" % (rc, err[-300:]))
        check("Cancelled:" in out, "one Ctrl-C: no Cancelled line in the report:\n" + out)
        after = total_fragments(image)
        # A stop inside a file leaves its fragments where they were counted,
        # so a move shows in the FAT, not in the count.
        check(fat_bytes(image) != fat_bytes(pristine), "one Ctrl-C: nothing moved before the stop")
        check(after > 0, "one Ctrl-C: the pass ran to the end; it did not stop")
        verify(image, summary, expected[0], "one Ctrl-C")
        print("one Ctrl-C: exit %d, %d of %d fragments left" % (rc, after, before))

        # A shutdown's SIGTERM and a closed terminal's SIGHUP stop the same way.
        for sig, code, name in ((signal.SIGTERM, 143, "SIGTERM"), (signal.SIGHUP, 129, "SIGHUP")):
            image = os.path.join(work, name + ".img")
            shutil.copyfile(pristine, image)
            rc, out, err = interrupted_run(cli, image, 1, sig)
            check(rc == code, "one %s: exit %d, not %d: %s" % (name, rc, code, err[-300:]))
            check("Cancelled:\tstopped by %s after the move in progress" % name in out
                  or "stopped by %s after the move in progress" % name in out,
                  "one %s: no Cancelled line in the report:\n%s" % (name, out[-500:]))
            check(total_fragments(image) > 0, "one %s: the pass ran to the end" % name)
            verify(image, summary, expected[0], "one " + name)
            os.remove(image)

        image = os.path.join(work, "twice.img")
        shutil.copyfile(pristine, image)
        rc, out, err = interrupted_run(cli, image, 2)
        check(rc == 130, "two Ctrl-C: exit %d, not 130: %s" % (rc, err[-300:]))
        copy = os.path.join(work, "twice")
        os.makedirs(copy)
        r = run(["mcopy", "-s", "-n", "-i", image, "::*", copy + "/"])
        check(r.returncode == 0, "two Ctrl-C: mcopy: " + r.stderr.decode())
        r = run(["diff", "-r", "-q", expected[0], copy])
        check(r.returncode == 0, "two Ctrl-C: files differ: " + r.stdout.decode()[-500:])
        fsck = run(["fsck.fat", "-n", image])
        print("two Ctrl-C: exit %d; fsck.fat -n says: %s" % (
            rc, fsck.stdout.decode("utf-8", "replace").strip().splitlines()[-1:]))
    finally:
        shutil.rmtree(work)
    if failures:
        sys.exit(1)
    print("ctrl-c: all checks passed")


if __name__ == "__main__":
    main()
