#!/usr/bin/env python3
"""Defragments FAT images with vantrel-cli and checks the result with the tools.

For each image made by mkfs.fat and mtools, on fresh copies: `defrag-file`
on every fragmented file, `defrag` on the drive, then `freespace --mode
maximize` on the gaps that leaves, then `defrag` again. After each, every file must be in one
fragment (chains followed in the first FAT from the first clusters fatcat
lists), fsck.fat -n must find nothing at all, fatcat -2 must find the FAT
copies equal, fsck.fat must count the same files and clusters in use, and
every file read back with mcopy must equal what mcopy read before.
usage: check_fat_moves.py VANTREL_CLI MAKE_FAT_IMAGES_SH [IMAGES_DIR]
(IMAGES_DIR: images the script already made, used when they are there)
"""
import filecmp
import os
import re
import shutil
import subprocess
import sys
import tempfile

from fat_image import Fat  # noqa: F401  (the drive-pass check takes it from here)

ENV = dict(os.environ, MTOOLS_SKIP_CHECK="1", LC_ALL="C.UTF-8",
           PATH=os.environ.get("PATH", "") + ":/usr/sbin:/sbin")
failures = []


def check(cond, text):
    if not cond:
        failures.append(text)
        print("FAIL: " + text)


def run(args):
    return subprocess.run(args, env=ENV, capture_output=True, check=False)


LIST_LINE = re.compile(r"^([fd]) \S+ \S+\s+(.*?)\s+c=(\d+)")


def files_with_first_clusters(image, path="/", with_folders=False):
    """(path, first cluster) of every file, walking folders with fatcat -l;
    with_folders: the folders too, their paths ending in "/"."""
    out = []
    listing = run(["fatcat", image, "-l", path]).stdout.decode("latin-1")
    for line in listing.splitlines():
        m = LIST_LINE.match(line)
        if not m:
            continue
        kind, name, cluster = m.group(1), m.group(2), int(m.group(3))
        name = re.sub(r" \([^()]*\)$", "", name)
        if kind == "d":
            name = name.rstrip("/")
            if name not in (".", "..") and name.isascii():
                sub = path.rstrip("/") + "/" + name
                if with_folders:
                    out.append((sub + "/", cluster))
                out += files_with_first_clusters(image, sub, with_folders)
        else:
            out.append((path.rstrip("/") + "/" + name, cluster))
    return out


def fragmented(image):
    fat = Fat(image)
    return [(p, fat.fragments(c)) for p, c in files_with_first_clusters(image)
            if fat.fragments(c) != 1 and c >= 2]


def fsck_summary(image):
    r = run(["fsck.fat", "-n", image])
    m = re.search(r": (\d+ files, \d+/\d+ clusters)", r.stdout.decode("utf-8", "replace"))
    return r, (m.group(1) if m else None)


def verify(image, pristine_summary, expected_dir, what):
    r, summary = fsck_summary(image)
    lines = [l for l in r.stdout.decode("utf-8", "replace").splitlines()
             if l and not l.startswith("fsck.fat ") and ": " not in l]
    check(r.returncode == 0 and not lines,
          "%s: fsck.fat -n exit %d: %s" % (what, r.returncode, lines))
    check(summary == pristine_summary,
          "%s: fsck.fat counts %s, before %s" % (what, summary, pristine_summary))
    fatcat = run(["fatcat", image, "-2"]).stdout.decode("utf-8", "replace")
    check("FATs are exactly equals" in fatcat, "%s: fatcat -2: %s" % (what, fatcat.strip()))
    out = tempfile.mkdtemp()
    try:
        copy = run(["mcopy", "-s", "-n", "-i", image, "::*", out + "/"])
        check(copy.returncode == 0, "%s: mcopy: %s" % (what, copy.stderr.decode()))
        diff = filecmp.dircmp(expected_dir, out)
        problems = []

        def walk(d, prefix):
            problems.extend(prefix + n for n in d.left_only + d.right_only + d.funny_files)
            _, mismatch, errors = filecmp.cmpfiles(d.left, d.right, d.common_files, shallow=False)
            problems.extend(prefix + n for n in mismatch + errors)
            for name, sub in d.subdirs.items():
                walk(sub, prefix + name + "/")

        walk(diff, "")
        check(not problems, "%s: files differ from before: %s" % (what, problems))
    finally:
        shutil.rmtree(out)


def cli(args, what):
    r = run(args)
    check(r.returncode == 0, "%s: exit %d: %s" % (what, r.returncode, r.stderr.decode()[-500:]))
    return r


def main():
    if len(sys.argv) not in (3, 4):
        raise SystemExit(__doc__)
    vantrel, maker = sys.argv[1], sys.argv[2]
    made = sys.argv[3] if len(sys.argv) == 4 else None
    for tool in ("mkfs.fat", "mcopy", "fsck.fat", "fatcat"):
        if not shutil.which(tool, path=ENV["PATH"]):
            print("SKIPPED: %s is not installed" % tool)
            return 77
    work = tempfile.mkdtemp()
    try:
        images = made
        if not images or not os.path.exists(os.path.join(images, "fat32.img.manifest")):
            images = os.path.join(work, "images")
            r = run(["bash", maker, images])
            if r.returncode != 0:
                raise SystemExit("make_fat_images.sh failed: " + r.stderr.decode())
        for name in ("fat12.img", "fat16.img", "fat32.img"):
            source = os.path.join(images, name)
            _, pristine = fsck_summary(source)
            # Every file as mcopy reads it before anything moves.
            expected = os.path.join(work, name + ".before")
            os.mkdir(expected)
            run(["mcopy", "-s", "-n", "-i", source, "::*", expected + "/"])
            before = fragmented(source)
            check(len(before) >= 2, "%s: the image has no fragmented files to work on" % name)

            copy = os.path.join(work, name)
            shutil.copyfile(source, copy)
            paths = [p.lstrip("/").replace("/", "\\") for p, _ in before]
            cli([vantrel, "defrag-file", copy] + paths + ["--json"], name + " defrag-file")
            check(not fragmented(copy), "%s defrag-file: still fragmented: %s"
                  % (name, fragmented(copy)))
            verify(copy, pristine, expected, name + " defrag-file")

            shutil.copyfile(source, copy)
            cli([vantrel, "defrag", copy, "--filter", "all"], name + " defrag")
            check(not fragmented(copy), "%s defrag: still fragmented: %s" % (name, fragmented(copy)))
            verify(copy, pristine, expected, name + " defrag")

            # defrag left gaps where the fragments were: maximize fills them.
            gaps_before = Fat(copy).free_runs()
            cli([vantrel, "freespace", copy, "--mode", "maximize"], name + " freespace")
            verify(copy, pristine, expected, name + " defrag, then freespace")
            gaps_after = Fat(copy).free_runs()
            check(gaps_after < gaps_before, "%s freespace: %d free runs before, %d after"
                  % (name, gaps_before, gaps_after))
            cli([vantrel, "defrag", copy, "--filter", "all"], name + " freespace, then defrag")
            check(not fragmented(copy), "%s freespace + defrag: still fragmented: %s"
                  % (name, fragmented(copy)))
            verify(copy, pristine, expected, name + " freespace, then defrag")
            print("%s: %d fragmented files; free runs %d before freespace, %d after"
                  % (name, len(before), gaps_before, gaps_after))
    finally:
        shutil.rmtree(work)
    if failures:
        print("%d failures" % len(failures))
        return 1
    print("all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
