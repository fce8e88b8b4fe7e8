#!/usr/bin/env python3
"""A drive pass over nearly full volumes (tests/tools/make_full_fat.py small,
make_full_ntfs.py small where root can mount): without making room files
stay fragmented; with it every fragmented file smaller than the free space
ends whole, fsck.fat -n / ntfsfix -n find nothing and every file reads back
unchanged; passes killed (SIGKILL) part-way leave volumes the checkers accept
with every file unchanged.
    check_make_room.py VANTREL_CLI"""
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

import make_room_checks as mr

failures = []


def check(cond, text):
    if not cond:
        failures.append(text)
        print("FAIL: " + text)


def volume(cli, img, kind, made, must_finish=True):
    pristine = mr.snapshot(img, kind)
    check(len(pristine["fragmented"]) >= len(made["fragmented"]),
          "%s: the tool counts %s fragmented, the maker made %s"
          % (kind, pristine["fragmented"][:5], made["fragmented"][:5]))
    run = img + ".run"
    shutil.copy(img, run)
    off = mr.defrag(cli, run, "off")
    mr.judge(run, kind, pristine)
    left_off = len(mr.fragmented(run, kind))
    check(left_off > 0, "%s: without making room nothing is left fragmented" % kind)
    shutil.copy(img, run)
    t0 = time.monotonic()
    on = mr.defrag(cli, run, "on")
    seconds = time.monotonic() - t0
    judged = mr.judge(run, kind, pristine)
    ratio = on["moved_bytes"] / max(1, on["lower_bound"])
    if must_finish:
        check(judged["fragmented"] == [], "%s: still fragmented after making room: %s; report: %s"
              % (kind, judged["fragmented"][:5], on["errors"][:5]))
        check(on["fragmented_files_after"] == 0,
              "%s: the pass counts %d fragmented after" % (kind, on["fragmented_files_after"]))
        check(ratio <= 3.0, "%s: moved %.2fx the lower bound" % (kind, ratio))
    folders = ("; %d folders' later clusters moved" % judged["moved_folders"]
               if kind == "fat" else "")
    print("%s: fragmented %d; left %d without making room, %d with it; moved %.2fx the bound%s; %s"
          % (kind, len(pristine["fragmented"]), left_off, len(judged["fragmented"]), ratio,
             folders, on["errors"][:2]))
    os.remove(run)
    killed(cli, img, kind, pristine, seconds)


# What a checker may say after a kill: the volume was left marked in use,
# or clusters of an unfinished move belong to no file (leaked, not lost).
FAT_ACCEPTED = re.compile(r"dirty|reclaim|unused cluster|free cluster summary|boot sector"
                          r"|differences between boot sector|leaving filesystem|perform changes"
                          r"|^\s*\*|offset|automatically removing|copy original",
                          re.IGNORECASE)


def judge_fat(img, where, differ=True):
    """fsck.fat -n on a killed pass's volume; what it said. `differ`: the
    two FAT copies may differ (a kill between the writes of one update)."""
    r = mr.run(["fsck.fat", "-n", img], check=False)
    lines = r.stdout.decode("utf-8", "replace").splitlines()
    odd = [l for l in lines
           if l and not l.startswith("fsck.fat ") and ": " not in l
           and not FAT_ACCEPTED.search(l)
           and not (differ and l in ("FATs differ but appear to be intact.", "  Using first FAT."))]
    check(r.returncode in (0, 1) and not odd, "%s: fsck.fat -n: %s" % (where, odd[:5]))
    return [l for l in lines[1:] if l]


def second_fat_first(img, out):
    """A copy of the image with its second FAT put in place of the first."""
    data = bytearray(open(img, "rb").read())
    sector = int.from_bytes(data[11:13], "little")
    reserved = int.from_bytes(data[14:16], "little")
    per_fat = int.from_bytes(data[22:24], "little") or int.from_bytes(data[36:40], "little")
    first, size = reserved * sector, per_fat * sector
    data[first:first + size] = data[first + size:first + 2 * size]
    with open(out, "wb") as f:
        f.write(data)


def wait_for_folder_group(p, record, folder_lcns, seconds):
    """Waits until the pass's intent record names a FAT folder's cluster
    (a group that moves, or frees, a folder's later clusters); whether one
    did before the pass ended."""
    deadline = time.monotonic() + 3 * seconds + 5
    while p.poll() is None and time.monotonic() < deadline:
        try:
            with open(record) as f:
                text = f.read()
        except OSError:
            text = ""
        for line in text.splitlines():
            parts = line.split()
            if len(parts) == 3 and parts[0] == "run" and folder_lcns & set(
                    range(int(parts[1]), int(parts[1]) + int(parts[2]))):
                return True
        time.sleep(0.0002)
    return False


def killed(cli, img, kind, pristine, seconds):
    """Kills make-room passes at points spread over a pass's time, and on
    FAT twice more just as a group with a folder's clusters in it is being
    stored; each volume left must pass its checker and read back unchanged,
    and no FAT folder may have lost its first cluster or gained pieces."""
    rng = random.Random(25)
    folder_lcns = set()
    for chain in pristine.get("folders", {}).values():
        folder_lcns |= {c - 2 for c in chain[1:]}
    kills = 6 if kind == "fat" and folder_lcns else 4
    at_folder = 0
    for n in range(kills):
        run = img + ".kill"
        shutil.copy(img, run)
        for stale in (run + ".vantrel-moves",):
            if os.path.exists(stale):
                os.remove(stale)
        p = subprocess.Popen([cli, "defrag", run, "--filter", "all", "--make-room", "on",
                              "--quiet"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if n >= 4:
            at_folder += wait_for_folder_group(p, run + ".vantrel-moves", folder_lcns, seconds)
            # At once: while the group's copies are flushed; or a little later.
            time.sleep(0 if n == 4 else rng.uniform(0, 0.004))
        else:
            time.sleep(seconds * (0.15 + 0.7 * rng.random()))
        p.send_signal(signal.SIGKILL)
        p.wait()
        where = "%s, kill %d" % (kind, n + 1)
        if kind == "fat":
            faults, _ = mr.folder_faults(pristine["folders"], mr.folder_chains(run))
            check(not faults, "%s: folders: %s" % (where, faults[:5]))
        if kind == "fat":
            said = judge_fat(run, where)
            if any(l.startswith("FATs differ") for l in said):
                # Killed between the two copies of one FAT update: the
                # volume must pass with either copy.
                second = run + ".second"
                second_fat_first(run, second)
                judge_fat(second, where + " (second FAT)", differ=False)
                os.remove(second)
            print("%s: fsck.fat -n: %s" % (where, "; ".join(said[:4])))
        else:
            r = mr.run(["ntfsfix", "-n", run], check=False)
            check(r.returncode == 0, "%s: ntfsfix -n: %s" % (where, r.stdout.decode()[-400:]))
        sums = mr.checksums(run, kind)
        bad = [f for f in pristine["sums"] if sums.get(f) != pristine["sums"][f]]
        check(not bad, "%s: files changed: %s" % (where, bad[:5]))
        os.remove(run)
        if os.path.exists(run + ".vantrel-moves"):
            os.remove(run + ".vantrel-moves")
    print("%s: %d passes killed%s, every volume accepted and every file unchanged"
          % (kind, kills, " (%d as a group with folder clusters was stored)" % at_folder
             if kind == "fat" else ""))


def main():
    cli = sys.argv[1]
    work = tempfile.mkdtemp(prefix="vt-check-room.")
    os.environ["XDG_CONFIG_HOME"] = os.path.join(work, "config")
    try:
        img = os.path.join(work, "fat.img")
        volume(cli, img, "fat", mr.make_fat(img, "small"))
        if os.getuid() == 0 and mr.have_ntfs_tools():
            img = os.path.join(work, "ntfs.img")
            # The MFT's reserved-area items span ordinary files and free
            # clusters there: room is made all the same.
            volume(cli, img, "ntfs", mr.make_ntfs(img, "small"))
        else:
            print("NTFS: skipped (needs root and the ntfs-3g tools)")
    finally:
        shutil.rmtree(work)
    if failures:
        sys.exit(1)


if __name__ == "__main__":
    main()
