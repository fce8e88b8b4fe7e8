#!/usr/bin/env bash
# Drive defragmentation pass on FAT32 and NTFS: vantrel-cli defrag --filter all
# over 2,000 files of 8 KB to 1 MB, each in 2 to 10 fragments (on FAT among
# some 10,700 one-cluster files), with room to spare. Prints, best of RUNS on
# fresh copies: fragmented files per second, bytes moved against the bytes of
# the fragmented files (1.0 is the least a pass can move), and bytes moved per
# second against dd copying as many bytes within the same image file.
# Fragmented files are counted by the tools (chains in the FAT from fatcat's
# first clusters; ntfscluster's run lists) and by vantrel-cli, before and after.
# Every result is checked: fsck.fat -n / ntfsfix -n and ntfsresize -i after each
# run; after the last, every file read back (mcopy and fatcat -2 / a read-only
# ntfs-3g mount) against what was written.
#   bench/drive_pass.sh [BUILD_DIR] [RUNS]
# The NTFS half needs root (an ntfs-3g mount makes the image); without it only
# FAT is measured. VT_BENCH_KEEP=DIR keeps the images made.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/native}
runs=${2:-3}
cli=$build/cli/vantrel-cli
[ -x "$cli" ] || { echo "build vantrel-cli first (cmake --build --preset native)"; exit 2; }
export MTOOLS_SKIP_CHECK=1 LC_ALL=C.UTF-8 PATH=$PATH:/usr/sbin:/sbin
for tool in mkfs.fat fsck.fat mcopy mdel mmd fatcat dd python3; do
  command -v "$tool" >/dev/null || { echo "drive_pass: $tool is missing"; exit 2; }
done
work=$(mktemp -d "${TMPDIR:-/tmp}/vt-drive-pass.XXXXXX")
cleanup() {
  mountpoint -q "$work/mnt" 2>/dev/null && umount "$work/mnt"
  rm -rf "$work"
}
trap cleanup EXIT
mkdir "$work/mnt"
export XDG_CONFIG_HOME=$work/config  # the user's settings (priority...) play no part

ntfs=1
if [ "$(id -u)" != 0 ]; then
  ntfs=0
  echo "NTFS: skipped (the image is made through an ntfs-3g mount, which needs root)"
fi
for tool in mkntfs ntfs-3g ntfscluster ntfsfix ntfsresize; do
  command -v "$tool" >/dev/null || { ntfs=0; echo "NTFS: skipped ($tool is missing)"; }
done

python3 - "$cli" "$runs" "$work" "$ntfs" <<'PY'
import hashlib, json, math, os, random, re, shutil, subprocess, sys, time

sys.path.insert(0, os.path.join(os.getcwd(), "tests", "integration"))
import check_fat_moves as fatcheck  # noqa: E402  (FAT chains, fsck.fat, read-back)
import make_room_checks  # noqa: E402  (ntfscluster's fragments)

cli, runs, work, with_ntfs = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4] == "1"
mnt = os.path.join(work, "mnt")
CLUSTER = 4096
FILES = 2000
PER_FOLDER = 100
EXTS = [".bin", ".dat", ".txt", ".jpg", ".doc", ".log"]


def sh(*args, check=True):
    r = subprocess.run(list(args), env=fatcheck.ENV, capture_output=True)
    if check and r.returncode != 0:
        raise SystemExit("drive_pass: %s failed (%d): %s"
                         % (" ".join(args[:2]), r.returncode, r.stderr.decode()[-600:]))
    return r


def plan_files():
    """(path, size, piece lengths in clusters): sizes spread evenly on a log
    scale from 8 KB to 1 MB, each file cut at random into 2 to 10 pieces."""
    rng = random.Random(20240611)
    plan = []
    for i in range(FILES):
        size = int(math.exp(rng.uniform(math.log(8192), math.log(1 << 20))))
        clusters = -(-size // CLUSTER)
        k = rng.randint(2, min(10, clusters))
        cuts = sorted(rng.sample(range(1, clusters), k - 1))
        pieces = [b - a for a, b in zip([0] + cuts, cuts + [clusters])]
        plan.append(("t/d%02d/f%04d%s" % (i // PER_FOLDER, i, EXTS[i % len(EXTS)]), size, pieces))
    return plan


def content(path, size):
    return random.Random(path).randbytes(size)


def make_fat(img, plan):
    """Lays the volume out in order, with mtools' first-free allocation: one
    placeholder per piece, each followed by a one-cluster file that stays;
    then the placeholders are deleted and the files written into the holes
    in the same order, so each takes exactly its own pieces."""
    def clear_hint():  # FSInfo's next-free hint, which mtools would follow
        with open(img, "r+b") as f:
            f.seek(512 + 0x1EC)
            f.write(b"\xff\xff\xff\xff")

    pieces = [p for _, _, ps in plan for p in ps]
    used = sum(pieces)
    kib = (2 * used + len(pieces)) * CLUSTER * 11 // 10 // 1024 + 16384
    sh("mkfs.fat", "-C", "-F", "32", "-s", str(CLUSTER // 512), "-n", "DRIVEPASS", img, str(kib))
    folders = sorted({os.path.dirname(p) for p, _, _ in plan})
    sh("mmd", "-i", img, "::/t", *["::/" + d for d in folders], "::/l")
    src = os.path.join(work, "src")
    os.makedirs(src)
    keeper = os.path.join(src, "keeper")
    with open(keeper, "wb") as f:
        f.truncate(CLUSTER)
    chunk = 400  # files a layout folder holds
    layout = []
    for j in range(0, len(pieces), chunk):
        d = os.path.join(src, "l%03d" % (j // chunk))
        os.makedirs(d)
        args = []
        for q, p in enumerate(pieces[j:j + chunk]):
            hole = os.path.join(d, "P%05d" % (j + q))
            with open(hole, "wb") as f:
                f.truncate(p * CLUSTER)
            os.link(keeper, os.path.join(d, "K%05d" % (j + q)))
            args += [hole, os.path.join(d, "K%05d" % (j + q))]
        layout.append("::/l/%03d" % (j // chunk))
        sh("mmd", "-i", img, layout[-1])
        clear_hint()
        sh("mcopy", "-i", img, *args, layout[-1] + "/")
        shutil.rmtree(d)
    sh("mdel", "-i", img, *[d + "/P*" for d in layout])
    for folder in folders:
        d = os.path.join(src, folder)
        os.makedirs(d)
        args = []
        for path, size, _ in plan:
            if os.path.dirname(path) == folder:
                with open(os.path.join(src, path), "wb") as f:
                    f.write(content(path, size))
                args.append(os.path.join(src, path))
        clear_hint()
        sh("mcopy", "-i", img, *args, "::/%s/" % folder)
        shutil.rmtree(d)


def make_ntfs(img, plan):
    """ntfs-3g chooses where data goes, so the holes are made one file at a
    time: the files are created empty (their folders' indexes allocated), one
    placeholder per piece is written, the volume is filled to the brim, and
    then for each file its own placeholders are deleted and it is written
    into the only free clusters left. The volume then grows for room."""
    used = sum(sum(ps) for _, _, ps in plan)
    with open(img, "wb") as f:
        f.truncate((used * 112 // 100 + 8000) * CLUSTER)
    sh("mkntfs", "-F", "-Q", "-q", "-c", str(CLUSTER), "-L", "DRIVEPASS", img)
    zero = bytes(256 * CLUSTER)

    def put(path, clusters):
        with open(path, "wb") as f:
            f.write(zero[:clusters * CLUSTER])

    sh("ntfs-3g", img, mnt)
    try:
        for path, _, _ in plan:
            os.makedirs(os.path.join(mnt, os.path.dirname(path)), exist_ok=True)
            open(os.path.join(mnt, path), "wb").close()
        os.makedirs(os.path.join(mnt, "ph"))
        os.makedirs(os.path.join(mnt, "rest"))
        order = [(i, j) for i, (_, _, ps) in enumerate(plan) for j in range(len(ps))]
        random.Random(5).shuffle(order)  # a file's pieces far apart
        for i, j in order:
            put(os.path.join(mnt, "ph", "%04d_%d" % (i, j)), plan[i][2][j])
        n = 0
        for clusters in (256, 32, 4, 1):
            while True:
                n += 1
                try:
                    put(os.path.join(mnt, "rest", "%06d" % n), clusters)
                except OSError:
                    break
        for i, (path, size, ps) in enumerate(plan):
            for j in range(len(ps)):
                os.remove(os.path.join(mnt, "ph", "%04d_%d" % (i, j)))
            with open(os.path.join(mnt, path), "r+b") as f:
                f.write(content(path, size))
        shutil.rmtree(os.path.join(mnt, "rest"))
        os.rmdir(os.path.join(mnt, "ph"))
    finally:
        sh("umount", mnt)
    grown = os.path.getsize(img) + used * CLUSTER + (64 << 20)
    with open(img, "r+b") as f:
        f.truncate(grown)
    if sh("ntfsresize", "-f", "-f", "-b", "-s", str(grown), img, check=False).returncode:
        sh("ntfsresize", "-f", "-f", "-s", str(grown), img)
    sh("ntfsfix", "-d", img)  # ntfsresize leaves the volume marked for a check


def ntfs_fragmented(img):
    """Files with data in more than one run, from ntfscluster's listing."""
    return make_room_checks.ntfs_fragments(img)


def check_ntfs(img, what):
    for args in (["ntfsfix", "-n", img], ["ntfsresize", "-i", "-f", img]):
        r = sh(*args, check=False)
        if r.returncode != 0:
            raise SystemExit("drive_pass: FAULT: %s: %s rejects the result:\n%s"
                             % (what, args[0], (r.stdout + r.stderr).decode()[-1500:]))


def check_fat(img, pristine, what):
    r, summary = fatcheck.fsck_summary(img)
    complaints = [l for l in r.stdout.decode("utf-8", "replace").splitlines()
                  if l and not l.startswith("fsck.fat ") and ": " not in l]
    if r.returncode != 0 or complaints or summary != pristine:
        raise SystemExit("drive_pass: FAULT: %s: fsck.fat -n exit %d, %s (before: %s): %s"
                         % (what, r.returncode, summary, pristine, complaints[:10]))


def read_back_ntfs(img, plan):
    sh("ntfs-3g", "-o", "ro", img, mnt)
    try:
        bad = [p for p, size, _ in plan
               if hashlib.sha256(open(os.path.join(mnt, p), "rb").read()).digest()
               != hashlib.sha256(content(p, size)).digest()]
    finally:
        sh("umount", mnt)
    return bad


def best_dd(img, moved_bytes, *how):
    """dd copying the bytes moved from the front of the image to its back."""
    size = os.path.getsize(img)
    skip = 16 << 20
    seek = max(skip + moved_bytes, (size - moved_bytes) // (1 << 20) * (1 << 20) - (1 << 20))
    best = None
    for _ in range(runs):
        sh("sync")
        t0 = time.monotonic_ns()
        sh("dd", "if=" + img, "of=" + img, "iflag=skip_bytes,count_bytes", "skip=%d" % skip,
           "seek=%d" % seek, "count=%d" % moved_bytes, "status=none", *how)
        ns = time.monotonic_ns() - t0
        best = ns if best is None else min(best, ns)
    return best


def best_direct_read(img, moved_bytes, block="8M"):
    """dd reading as many bytes past the page cache, as the pass reads every
    copy back from the storage before its group is switched."""
    best = None
    for _ in range(runs):
        sh("sync")
        t0 = time.monotonic_ns()
        sh("dd", "if=" + img, "of=/dev/null", "bs=%s" % block, "iflag=direct,count_bytes",
           "count=%d" % (moved_bytes // 4096 * 4096), "status=none")
        ns = time.monotonic_ns() - t0
        best = ns if best is None else min(best, ns)
    return best


def mb(n):
    return "%.1f MB" % (n / 1e6)


def bench(kind, pristine, plan):
    what = "FAT32" if kind == "fat" else "NTFS"
    if os.environ.get("VT_BENCH_KEEP"):
        shutil.copy(pristine, os.environ["VT_BENCH_KEEP"])
    listing = json.loads(sh(cli, "files", pristine, "--all", "--json").stdout)["files"]
    frag = [f for f in listing if f["fragments"] > 1]
    taken = [f for f in frag if not f["unmovable"]]
    tool_before = (fatcheck.fragmented(pristine) if kind == "fat" else ntfs_fragmented(pristine))
    frag_bytes = sum(f["size"] for f in taken)
    frag_clusters = sum(f["clusters"] for f in taken)
    pieces = sum(f["fragments"] for f in taken)
    print("%s, %d MiB image, %d KiB clusters, %d files: %d fragmented (%d fragments, %s)"
          % (what, os.path.getsize(pristine) >> 20, CLUSTER // 1024,
             sum(not f["directory"] for f in listing), len(frag), pieces, mb(frag_bytes)))
    if kind == "fat":
        _, fsck_before = fatcheck.fsck_summary(pristine)
        expected = os.path.join(work, "expected")
        os.makedirs(expected)
        sh("mcopy", "-s", "-n", "-i", pristine, "::*", expected + "/")
    run_img = os.path.join(work, "run.img")
    best, result = None, None
    for n in range(runs):
        sh("cp", "--sparse=never", pristine, run_img)
        sh("sync")
        t0 = time.monotonic_ns()
        r = sh(cli, "defrag", run_img, "--filter", "all", "--json", check=False)
        ns = time.monotonic_ns() - t0
        if r.returncode != 0:
            raise SystemExit("drive_pass: FAULT: %s run %d: vantrel-cli defrag exit %d: %s"
                             % (what, n + 1, r.returncode, r.stderr.decode()[-800:]))
        result = json.loads(r.stdout)
        if kind == "fat":
            check_fat(run_img, fsck_before, "%s run %d" % (what, n + 1))
        else:
            check_ntfs(run_img, "%s run %d" % (what, n + 1))
        best = ns if best is None else min(best, ns)
    moved = result["moved_clusters"] * CLUSTER
    secs = best / 1e9
    t0 = time.monotonic_ns()
    sh(cli, "analyze", pristine)
    scan = time.monotonic_ns() - t0
    print("  vantrel-cli defrag --filter all: %.0f ms (best of %d; analysis alone %.0f ms):"
          " %.0f files/s (%d files taken)" % (best / 1e6, runs, scan / 1e6, len(taken) / secs,
                                             len(taken)))
    print("  bytes moved: %s (%d clusters) / fragmented files' bytes %s = %.3f"
          " (/ their clusters: %.3f)" % (mb(moved), result["moved_clusters"], mb(frag_bytes),
                                        moved / max(frag_bytes, 1),
                                        result["moved_clusters"] / max(frag_clusters, 1)))
    after = json.loads(sh(cli, "files", run_img, "--json").stdout)["files"]
    tool_after = fatcheck.fragmented(run_img) if kind == "fat" else ntfs_fragmented(run_img)
    tool = "fatcat" if kind == "fat" else "ntfscluster"

    def by_tool(found):  # user files counted; system files ($MFT...) named
        system = ["%s in %d fragments" % (p, n) for p, n in found if p.startswith("/$")]
        return "%s: %d%s" % (tool, len(found) - len(system),
                             " and " + ", ".join(system) if system else "")

    left = ", ".join("%s (%d fragments%s)" % (f["path"], f["fragments"],
                                              ", unmovable" if f["unmovable"] else "")
                     for f in after) or "none"
    print("  fragmented files before: %d (%s); after: %d (%s); left: %s"
          % (len(frag), by_tool(tool_before), len(after), by_tool(tool_after), left))
    if result["errors"]:
        print("  FAULT: the pass reported %d errors, first: %s"
              % (len(result["errors"]), result["errors"][:3]))
    room = result["largest_free_block_after"]
    for f in after:
        if not f["unmovable"] and f["size"] <= room:
            print("  FAULT: %s is left in %d fragments with a free block of %s"
                  % (f["path"], f["fragments"], mb(room)))
    if kind == "fat":
        fatcheck.verify(run_img, fsck_before, expected, what)
        if fatcheck.failures:
            raise SystemExit("drive_pass: FAULT: %s: %s" % (what, fatcheck.failures))
        shutil.rmtree(expected)
        checks = ("fsck.fat -n clean after every run; fatcat -2: FATs equal;"
                  " every file read back with mcopy equal to before")
    else:
        bad = read_back_ntfs(run_img, plan)
        if bad:
            raise SystemExit("drive_pass: FAULT: %s: %d files read back differ, first %s"
                             % (what, len(bad), bad[:5]))
        checks = ("ntfsfix -n and ntfsresize -i clean after every run;"
                  " every file read back through ntfs-3g equal to what was written")
    # dd last: it writes into the result. The pass moves a file a fragment at
    # a time, each move durable before the next, so dd is also shown flushing
    # after each fragment-sized block.
    block = frag_bytes // max(pieces, 1) // 4096 * 4096 or 4096
    figures = ["%.0f MB/s" % (moved / secs / 1e6)]
    for label, how in (("dd bs=1M", ["bs=1M", "oflag=seek_bytes", "conv=notrunc"]),
                       ("dd bs=1M, fdatasync at the end",
                        ["bs=1M", "oflag=seek_bytes", "conv=notrunc,fdatasync"]),
                       ("dd bs=%dK (the mean fragment), each block synced" % (block // 1024),
                        ["bs=%d" % block, "oflag=seek_bytes,dsync", "conv=notrunc"])):
        ns = best_dd(run_img, moved, *how)
        figures.append("%s: %.0f MB/s (vantrel / dd = %.2f)" % (label, moved / (ns / 1e9) / 1e6,
                                                                  ns / best))
    ns = best_direct_read(run_img, moved)
    figures.append("dd bs=8M iflag=direct reading as many back: %.0f MB/s"
                   % (moved / (ns / 1e9) / 1e6))
    # The pass reads its targets back where they lie, in pieces of about a
    # fragment or a few: the storage answers small direct reads more slowly.
    ns = best_direct_read(run_img, moved, str(block))
    figures.append("dd bs=%dK iflag=direct, in pieces of the mean fragment: %.0f MB/s"
                   % (block // 1024, moved / (ns / 1e9) / 1e6))
    print("  throughput: " + "; ".join(figures))
    print("  checks: " + checks)


plan = plan_files()
t0 = time.monotonic()
fat_img = os.path.join(work, "fat32.img")
make_fat(fat_img, plan)
print("(FAT32 image made in %.0f s)" % (time.monotonic() - t0))
bench("fat", fat_img, plan)
os.remove(fat_img)
if with_ntfs:
    t0 = time.monotonic()
    ntfs_img = os.path.join(work, "ntfs.img")
    make_ntfs(ntfs_img, plan)
    print("(NTFS image made in %.0f s)" % (time.monotonic() - t0))
    bench("ntfs", ntfs_img, plan)
PY
