#!/usr/bin/env bash
# Free-space consolidation on FAT32 and NTFS: vantrel-cli freespace in both
# modes on an image of thousands of files of 4 KB to 256 KB written end to
# end, every other one then deleted (free space in as many runs as files).
# Prints, per mode, best of RUNS on fresh copies: the wall time, the clusters
# moved against the used clusters lying above the first gap before the run,
# and the largest free block and the number of free runs before and after,
# read from the FAT itself and from $Bitmap (ntfscat), not from vantrel-cli.
# Every result is checked: fsck.fat -n / ntfsfix -n and ntfsresize -i after
# each run; after the last run of each mode every file is read back (mcopy
# and fatcat -2 / a read-only ntfs-3g mount) against the image before.
#   bench/free_space.sh [BUILD_DIR] [RUNS]
# The NTFS half needs root (an ntfs-3g mount makes the image); without it only
# FAT is measured. VT_BENCH_KEEP=DIR keeps the images made.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/native}
runs=${2:-5}
cli=$build/cli/vantrel-cli
[ -x "$cli" ] || { echo "build vantrel-cli first (cmake --build --preset native)"; exit 2; }
export MTOOLS_SKIP_CHECK=1 LC_ALL=C.UTF-8 PATH=$PATH:/usr/sbin:/sbin
tools=(mkfs.fat fsck.fat mcopy mdel mmd fatcat python3)
if [ "$(id -u)" = 0 ]; then
  tools+=(mkntfs ntfs-3g ntfscat ntfscluster ntfsinfo ntfsfix ntfsresize)
else
  echo "NTFS: skipped (the image is made through an ntfs-3g mount, which needs root)"
fi
for tool in "${tools[@]}"; do
  command -v "$tool" >/dev/null || { echo "free_space: $tool is missing"; exit 2; }
done
work=$(mktemp -d "${TMPDIR:-/tmp}/vt-free-space.XXXXXX")
trap 'mountpoint -q "$work/m" 2>/dev/null && umount "$work/m"; rm -rf "$work"' EXIT
export XDG_CONFIG_HOME=$work/config  # the user's settings (priority...) play no part

python3 - "$cli" "$runs" "$work" "$(id -u)" <<'PY'
import hashlib, json, math, os, random, re, shutil, subprocess, sys, time

sys.path.insert(0, os.path.join("tests", "integration"))
import check_fat_moves as fat_tools  # noqa: E402  (the FAT read directly, fsck.fat, read-back)

cli, runs, work, root = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4] == "0"
m = os.path.join(work, "m")
os.makedirs(m)
KIB = 1024
CLUSTER = 4 * KIB
PER_FOLDER = 100  # one cluster of FAT folder entries: no folder grows between files
MODES = ("dont-fragment", "maximize")


def call(args, ok=True):
    done = subprocess.run(args, env=fat_tools.ENV, capture_output=True)
    if ok and done.returncode:
        sys.exit("free_space: %s exit %d: %s" % (args[0], done.returncode,
                                                  done.stderr.decode()[-600:]))
    return done


def sizes(seed):
    """File sizes spread evenly on a log scale from 4 KB to 256 KB."""
    rng = random.Random(seed)
    while True:
        yield int(math.exp(rng.uniform(math.log(4 * KIB), math.log(256 * KIB))))


def body(name, size):
    return random.Random(name).randbytes(size)


def fat_image(img):
    """Files written end to end by mtools (FSInfo's hint cleared, so from the
    first free cluster), 70% of the volume, folders made first as FAT folders
    never move; then every other file in write order deleted."""
    call(["mkfs.fat", "-C", "-F", "32", "-s", str(CLUSTER // 512), "-n", "FREESPACE", img,
          str(512 * KIB)])
    budget, total, names = 512 * KIB * KIB * 7 // 10, 0, []
    for size in sizes(11):
        if total >= budget:
            break
        names.append(("d%02d/f%05d.dat" % (len(names) // PER_FOLDER, len(names)), size))
        total += size
    folders = sorted({n.split("/")[0] for n, _ in names})
    call(["mmd", "-i", img] + ["::/" + d for d in folders])
    for d in folders:
        os.makedirs(os.path.join(work, d))
        batch = [n for n, _ in names if n.startswith(d + "/")]
        for n, size in names:
            if n.startswith(d + "/"):
                with open(os.path.join(work, n), "wb") as f:
                    f.write(body(n, size))
        with open(img, "r+b") as f:
            f.seek(512 + 0x1EC)
            f.write(b"\xff" * 4)
        call(["mcopy", "-i", img] + [os.path.join(work, n) for n in batch] + ["::/%s/" % d])
        shutil.rmtree(os.path.join(work, d))
    call(["mdel", "-i", img] + ["::/" + n for n, _ in names[1::2]])


def ntfs_image(img):
    """ntfs-3g spreads new files over the volume, so it is filled to the
    brim, every other file in LCN order (ntfscluster) deleted, and the volume
    grown by a quarter for a free end."""
    with open(img, "wb") as f:
        f.truncate(512 << 20)
    call(["mkntfs", "-F", "-Q", "-q", "-c", str(CLUSTER), "-L", "FREESPACE", img])
    call(["ntfs-3g", img, m])
    try:
        for i, size in enumerate(sizes(12)):
            name = "d%02d/f%05d.dat" % (i // PER_FOLDER, i)
            os.makedirs(os.path.join(m, os.path.dirname(name)), exist_ok=True)
            with open(os.path.join(m, name), "wb") as f:
                f.write(body(name, size))
    except OSError:
        pass  # full
    finally:
        call(["umount", m])
    first, lcn = {}, None
    for line in call(["ntfscluster", "-v", "-c", "0-%d" % (1 << 40), img]).stdout.decode().splitlines():
        if line.startswith("Inode: "):
            lcn = None
        hit = re.match(r"\s+0\s+(\d+)-\d+ \(\d+\)", line)
        lcn = int(hit.group(1)) if hit else lcn
        hit = re.match(r"Inode \d+ /(d\d+/f\d+\.dat)/\$DATA", line)
        if hit and lcn is not None:
            first.setdefault(hit.group(1), lcn)
    call(["ntfs-3g", img, m])
    try:
        for name in sorted(first, key=first.get)[1::2]:
            os.remove(os.path.join(m, name))
    finally:
        call(["umount", m])
    size = 640 << 20
    with open(img, "r+b") as f:
        f.truncate(size)
    call(["ntfsresize", "-f", "-f", "-s", str(size), img])
    call(["ntfsfix", "-d", img])  # ntfsresize leaves the volume marked for a check


def free_map(kind, img):
    """One flag per cluster, True where free, from the allocation itself."""
    if kind == "FAT32":
        fat = fat_tools.Fat(img)
        return [fat.entry(c) == 0 for c in range(2, fat.clusters + 2)]
    info = call(["ntfsinfo", "-m", img]).stdout.decode()
    clusters = int(re.search(r"Volume Size in Clusters: (\d+)", info).group(1))
    bitmap = call(["ntfscat", img, "$Bitmap"]).stdout
    return [not (bitmap[c >> 3] >> (c & 7)) & 1 for c in range(clusters)]


def layout(free):
    """Start of the first gap, used clusters above it, the largest free run,
    the number of free runs."""
    runs_, largest, start = 0, 0, None
    for lcn, is_free in enumerate(free + [False]):
        if is_free and start is None:
            start, runs_ = lcn, runs_ + 1
        elif not is_free and start is not None:
            largest, start = max(largest, lcn - start), None
    gap = free.index(True) if True in free else len(free)
    return {"gap": gap, "above": sum(not f for f in free[gap:]), "largest": largest,
            "runs": runs_}


def file_clusters_above(img, gap):
    """Clusters of movable files (not folders) at or above the first gap."""
    listing = json.loads(call([cli, "files", img, "--all", "--json"]).stdout)["files"]
    return sum(max(0, lcn + n - max(lcn, gap)) for f in listing
               if not f["directory"] and not f["unmovable"] for lcn, n in f["extents"])


def contents(kind, img):
    """Every file's checksum as the file system's own tools read it."""
    out = {}
    if kind == "FAT32":
        d = os.path.join(work, "read")
        os.makedirs(d)
        call(["mcopy", "-s", "-n", "-i", img, "::*", d + "/"])
        top = d
    else:
        call(["ntfs-3g", "-o", "ro", img, m])
        top = m
    try:
        for here, _, files in os.walk(top):
            for name in files:
                path = os.path.join(here, name)
                with open(path, "rb") as f:
                    out[os.path.relpath(path, top)] = hashlib.sha256(f.read()).hexdigest()
    finally:
        if kind == "FAT32":
            shutil.rmtree(d)
        else:
            call(["umount", m])
    return out


def checked(kind, img, fsck_before, what):
    if kind == "FAT32":
        done, summary = fat_tools.fsck_summary(img)
        noise = [l for l in done.stdout.decode("utf-8", "replace").splitlines()
                 if l and not l.startswith("fsck.fat ") and ": " not in l]
        if done.returncode or noise or summary != fsck_before:
            sys.exit("free_space: FAULT: %s: fsck.fat -n exit %d, %s (before %s): %s"
                     % (what, done.returncode, summary, fsck_before, noise[:8]))
        if "FATs are exactly equals" not in fat_tools.run(["fatcat", img, "-2"]).stdout.decode():
            sys.exit("free_space: FAULT: %s: fatcat -2 finds the FAT copies differ" % what)
        return
    for tool in (["ntfsfix", "-n"], ["ntfsresize", "-i", "-f"]):
        done = call(tool + [img], ok=False)
        if done.returncode:
            sys.exit("free_space: FAULT: %s: %s rejects the result: %s"
                     % (what, tool[0], (done.stdout + done.stderr).decode()[-1500:]))


def measure(kind, pristine):
    before = layout(free_map(kind, pristine))
    in_files = file_clusters_above(pristine, before["gap"])
    summary = json.loads(call([cli, "analyze", pristine, "--json"]).stdout)
    print("%s, %d MiB image, %d KiB clusters, %d files, %d folders" % (
        kind, os.path.getsize(pristine) >> 20, CLUSTER // KIB, summary["files"],
        summary["folders"]))
    print("  before: first gap at cluster %d; %d used clusters above it (%d of them in files,"
          " the rest folders and system files); largest free block %.1f MB; %d free runs"
          % (before["gap"], before["above"], in_files, before["largest"] * CLUSTER / 1e6,
             before["runs"]))
    fsck_before = fat_tools.fsck_summary(pristine)[1] if kind == "FAT32" else None
    expected = contents(kind, pristine)
    result = os.path.join(work, "result.img")
    for mode in MODES:
        best = None
        for n in range(runs):
            call(["cp", "--sparse=never", pristine, result])
            call(["sync"])
            t0 = time.monotonic_ns()
            done = call([cli, "freespace", result, "--mode", mode, "--json"], ok=False)
            ns = time.monotonic_ns() - t0
            if done.returncode:
                sys.exit("free_space: FAULT: %s %s run %d: vantrel-cli exit %d: %s"
                         % (kind, mode, n + 1, done.returncode, done.stderr.decode()[-800:]))
            checked(kind, result, fsck_before, "%s %s run %d" % (kind, mode, n + 1))
            best = ns if best is None else min(best, ns)
        report = json.loads(done.stdout)
        after = layout(free_map(kind, result))
        moved = report["moved_clusters"]
        print("  %s: %.0f ms (best of %d); moved %d clusters / %d above the first gap = %.2f"
              " (/ %d in files = %.2f); largest free block %.1f -> %.1f MB; free runs %d -> %d;"
              " fragmented files %d -> %d" % (
                  mode, best / 1e6, runs, moved, before["above"], moved / max(before["above"], 1),
                  in_files, moved / max(in_files, 1), before["largest"] * CLUSTER / 1e6,
                  after["largest"] * CLUSTER / 1e6, before["runs"], after["runs"],
                  summary["fragmented_files"], report["fragmented_files_after"]))
        said = (report["largest_free_block_before"], report["largest_free_block_after"])
        if said != (before["largest"] * CLUSTER, after["largest"] * CLUSTER):
            print("    vantrel-cli's largest free block differs: %d -> %d bytes" % said)
        refused = {}
        for e in report["errors"]:
            refused.setdefault(e["error"], []).append(e["path"])
        for code, paths in sorted(refused.items()):
            print("    not moved, error %d: %d items (%s%s)" % (
                code, len(paths), ", ".join(paths[:4]), ", ..." if len(paths) > 4 else ""))
        if contents(kind, result) != expected:
            sys.exit("free_space: FAULT: %s %s: files read back differ from before" % (kind, mode))
    print("  checks: %s clean after every run; every file read back equal to before" % (
        "fsck.fat -n and fatcat -2" if kind == "FAT32" else "ntfsfix -n and ntfsresize -i"))


for kind, make in (("FAT32", fat_image), ("NTFS", ntfs_image)):
    if kind == "NTFS" and not root:
        continue
    img = os.path.join(work, kind.lower() + ".img")
    t0 = time.monotonic()
    make(img)
    print("(%s image made in %.0f s)" % (kind, time.monotonic() - t0))
    if os.environ.get("VT_BENCH_KEEP"):
        shutil.copy(img, os.environ["VT_BENCH_KEEP"])
    measure(kind, img)
    os.remove(img)
PY
