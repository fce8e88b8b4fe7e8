#!/usr/bin/env bash
# The drive pass where free space is scarce and scattered: one
# vantrel-cli defrag --filter all over
#  - FAT32 97.8% full (80 MiB, 1 KiB clusters, ~12,000 small files, ~1,787
#    free clusters in ~494 runs, the largest 37, 62 fragmented files of 25 to
#    783 clusters), made by tests/tools/make_full_fat.py;
#  - the same files on 96 MiB, where a free run holds every file (making
#    room must then do nothing);
#  - NTFS whose largest free run is smaller than a 32 MB file in ~8,000
#    fragments, made by tests/tools/make_full_ntfs.py (needs root; the
#    largest free run is printed: ntfs-3g's MFT growth decides it).
# Each with making room on and off. Prints fragmented files before and after
# (counted by fatcat / ntfscluster), bytes moved against the lower bound (the
# bytes of the files defragmented), and time. Every result is judged by
# fsck.fat -n / ntfsfix -n and every file read back against its checksum.
#   bench/make_room.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/native}
cli=$build/cli/vantrel-cli
[ -x "$cli" ] || { echo "build vantrel-cli first (cmake --build --preset native)"; exit 2; }
export MTOOLS_SKIP_CHECK=1 LC_ALL=C.UTF-8 PATH=$PATH:/usr/sbin:/sbin
work=$(mktemp -d "${TMPDIR:-/tmp}/vt-make-room.XXXXXX")
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME=$work/config

python3 - "$cli" "$work" <<'PY'
import json, os, subprocess, sys, time

sys.path.insert(0, os.path.join(os.getcwd(), "tests", "integration"))
import make_room_checks as mr  # noqa: E402

cli, work = sys.argv[1], sys.argv[2]


def report(what, img, kind):
    pristine = mr.snapshot(img, kind)
    for room in ("on", "off"):
        run = os.path.join(work, "run.img")
        subprocess.run(["cp", "--sparse=never", img, run], check=True)
        t0 = time.monotonic()
        result = mr.defrag(cli, run, room)
        secs = time.monotonic() - t0
        judged = mr.judge(run, kind, pristine)
        print("%s, make room %s: largest free run %.2f MB; fragmented files %d -> %d (tool: %d ->"
              " %d); bytes moved %.2f MB / lower bound %.2f MB = %.2fx; %.1f s; %s"
              % (what, room, result["largest_free_block_before"] / 1e6,
                 result["fragmented_files_before"], result["fragmented_files_after"],
                 len(pristine["fragmented"]), len(judged["fragmented"]),
                 result["moved_bytes"] / 1e6, result["lower_bound"] / 1e6,
                 result["moved_bytes"] / max(1, result["lower_bound"]), secs, judged["verdict"]))
        for line in result["errors"][:5]:
            print("    left: " + line)
        os.remove(run)


for scale, what in (("full", "FAT32 97.8% full"), ("roomy", "FAT32 with room")):
    img = os.path.join(work, scale + ".img")
    t0 = time.monotonic()
    mr.make_fat(img, scale)
    print("(%s made in %.0f s)" % (what, time.monotonic() - t0))
    report(what, img, "fat")
    os.remove(img)
if os.getuid() == 0 and mr.have_ntfs_tools():
    img = os.path.join(work, "ntfs.img")
    t0 = time.monotonic()
    mr.make_ntfs(img, "full")
    print("(NTFS made in %.0f s)" % (time.monotonic() - t0))
    report("NTFS, 32 MB file", img, "ntfs")
else:
    print("NTFS: skipped (needs root and mkntfs, ntfs-3g, ntfscluster, ntfsfix)")
PY
