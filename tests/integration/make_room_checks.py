"""The nearly full volumes of tests/tools/make_full_{fat,ntfs}.py, a drive
pass over them, and the judges: fsck.fat -n / ntfsfix -n, the fragmented
files as fatcat / ntfscluster count them, every file's checksum."""
import hashlib
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
TOOLS = os.path.join(HERE, "..", "tools")
sys.path.insert(0, HERE)
import check_fat_moves as fatcheck  # noqa: E402

ENV = fatcheck.ENV


def run(args, check=True):
    r = subprocess.run(args, env=ENV, capture_output=True)
    if check and r.returncode != 0:
        raise SystemExit("%s failed (%d): %s" % (" ".join(args[:3]), r.returncode,
                                                 r.stderr.decode()[-800:]))
    return r


def have_ntfs_tools():
    return all(shutil.which(t, path=ENV["PATH"])
               for t in ("mkntfs", "ntfs-3g", "ntfscluster", "ntfsfix"))


def make_fat(img, scale):
    """scale: full, small, or roomy (the full files on a volume with room)."""
    args = [sys.executable, os.path.join(TOOLS, "make_full_fat.py"), img, scale]
    r = run(args, check=False)
    if r.returncode == 77:
        sys.exit(77)
    if r.returncode:
        raise SystemExit(r.stderr.decode()[-800:])
    return json.loads(r.stdout)


def make_ntfs(img, scale):
    r = run([sys.executable, os.path.join(TOOLS, "make_full_ntfs.py"), img, scale], check=False)
    if r.returncode == 77:
        sys.exit(77)
    if r.returncode:
        raise SystemExit(r.stderr.decode()[-800:])
    return json.loads(r.stdout)


def ntfs_fragments(img):
    """(path, fragments) of the files with data in more than one run, from
    ntfscluster's listing, system files ("/$...") among them."""
    text = run(["ntfscluster", "-v", "-c", "0-%d" % (1 << 40), img]).stdout.decode(
        "utf-8", "replace")
    runs, inode, in_data = {}, None, False
    for line in text.splitlines():
        m = re.match(r"Inode: (\d+)", line)
        if m:
            inode, in_data = int(m.group(1)), False
            continue
        if line.strip().startswith("["):
            in_data = line.strip() == "[0x80]"
            continue
        m = re.match(r"\s+\d+\s+(\d+)-(\d+) \((\d+)\)", line)
        if m and in_data:
            runs.setdefault(inode, {"runs": []})["runs"].append((int(m.group(1)), int(m.group(2))))
        m = re.match(r"Inode (\d+) (/.*)/\$DATA$", line)
        if m and int(m.group(1)) in runs:
            runs[int(m.group(1))]["path"] = m.group(2)
    out = []
    for r in runs.values():
        pieces, end = 0, None
        for first, last in r["runs"]:
            pieces += end is None or first != end + 1
            end = last
        if pieces > 1 and "path" in r:
            out.append((r["path"], pieces))
    return out


def ntfs_fragmented(img):
    return sorted(p for p, _ in ntfs_fragments(img) if not p.startswith("/$"))


def checksums(img, kind):
    """sha256 of every file, by path, as the file system's own tools read it."""
    out = {}
    if kind == "fat":
        d = tempfile.mkdtemp(prefix="vt-room-read.")
        try:
            run(["mcopy", "-s", "-n", "-i", img, "::*", d + "/"])
            for root, _, names in os.walk(d):
                for n in names:
                    p = os.path.join(root, n)
                    out[os.path.relpath(p, d)] = hashlib.sha256(open(p, "rb").read()).hexdigest()
        finally:
            shutil.rmtree(d)
        return out
    mnt = tempfile.mkdtemp(prefix="vt-room-mnt.")
    run(["ntfs-3g", "-o", "ro", img, mnt])
    try:
        for root, _, names in os.walk(mnt):
            for n in names:
                p = os.path.join(root, n)
                out[os.path.relpath(p, mnt)] = hashlib.sha256(open(p, "rb").read()).hexdigest()
    finally:
        run(["umount", mnt])
        os.rmdir(mnt)
    return out


def fragmented(img, kind):
    if kind == "fat":
        return sorted(p for p, _ in fatcheck.fragmented(img))
    return ntfs_fragmented(img)


def folder_chains(img):
    """The chain of every FAT folder by path (the FAT32 root as "/"), from
    fatcat's listing and the first FAT."""
    fat = fatcheck.Fat(img)
    out = {p: fat.chain(c) for p, c in fatcheck.files_with_first_clusters(img, "/", True)
           if p.endswith("/")}
    with open(img, "rb") as f:
        boot = f.read(512)
    if struct.unpack_from("<H", boot, 22)[0] == 0:  # FAT32: the root is a chain too
        out["/"] = fat.chain(struct.unpack_from("<I", boot, 44)[0])
    return out


def folder_faults(before, after):
    """What a pass did to FAT folders that it must not: a first cluster moved,
    a folder in more pieces than before, a folder gone. With the number of
    folders whose later clusters moved."""
    faults, moved = [], 0
    for path, chain in before.items():
        now = after.get(path)
        if not now or now[0] != chain[0]:
            faults.append("%s: first cluster %s, now %s" % (path, chain[0], now and now[0]))
            continue
        pieces = lambda c: 1 + sum(b != a + 1 for a, b in zip(c, c[1:]))  # noqa: E731
        if len(now) != len(chain) or pieces(now) > pieces(chain):
            faults.append("%s: %d clusters in %d pieces, now %d in %d"
                          % (path, len(chain), pieces(chain), len(now), pieces(now)))
        moved += now != chain
    return faults, moved


def snapshot(img, kind):
    snap = {"fragmented": fragmented(img, kind), "sums": checksums(img, kind)}
    if kind == "fat":
        snap["fsck"] = fatcheck.fsck_summary(img)[1]
        snap["folders"] = folder_chains(img)
    return snap


def listing(cli, img):
    files = json.loads(run([cli, "files", img, "--all", "--json"]).stdout)["files"]
    return {f["path"]: f for f in files}


def defrag(cli, img, room, extra=()):
    """One drive pass; its JSON with moved_bytes and lower_bound (the bytes
    of the files it left whole that were fragmented) added."""
    before = listing(cli, img)
    r = run([cli, "defrag", img, "--filter", "all", "--make-room", room, "--json", *extra],
            check=False)
    if r.returncode not in (0, 1):
        raise SystemExit("vantrel-cli defrag exit %d: %s" % (r.returncode, r.stderr.decode()))
    result = json.loads(r.stdout)
    after = listing(cli, img)
    info = json.loads(run([cli, "analyze", img, "--json"]).stdout)
    cluster = info.get("bytes_per_cluster") or info.get("cluster_size")
    lower = sum(f["clusters"] for p, f in before.items()
                if f["fragments"] > 1 and p in after and after[p]["fragments"] == 1)
    result["moved_bytes"] = result["moved_clusters"] * cluster
    result["lower_bound"] = lower * cluster
    result["errors"] = [e.get("message") or e.get("path", "") for e in result.get("errors", [])]
    return result


def judge(img, kind, pristine):
    """The checkers' verdict and the files still fragmented; raises on any
    fault."""
    faults = []
    if kind == "fat":
        r, summary = fatcheck.fsck_summary(img)
        lines = [l for l in r.stdout.decode("utf-8", "replace").splitlines()
                 if l and not l.startswith("fsck.fat ") and ": " not in l]
        if r.returncode or lines or summary != pristine["fsck"]:
            faults.append("fsck.fat -n exit %d, %s (before %s): %s"
                          % (r.returncode, summary, pristine["fsck"], lines[:5]))
        verdict = "fsck.fat -n clean"
    else:
        r = run(["ntfsfix", "-n", img], check=False)
        if r.returncode:
            faults.append("ntfsfix -n: " + (r.stdout + r.stderr).decode()[-600:])
        verdict = "ntfsfix -n clean"
    moved_folders = 0
    if kind == "fat":
        folder_fault, moved_folders = folder_faults(pristine["folders"], folder_chains(img))
        if folder_fault:
            faults.append("folders: %s" % folder_fault[:5])
    sums = checksums(img, kind)
    bad = [p for p in pristine["sums"] if sums.get(p) != pristine["sums"][p]]
    if bad or len(sums) != len(pristine["sums"]):
        faults.append("%d files differ, first %s" % (len(bad), bad[:5]))
    if faults:
        raise SystemExit("FAULT: " + "; ".join(faults))
    if kind == "fat":
        verdict += ", %d folders' later clusters moved, every first one stayed" % moved_folders
    return {"fragmented": fragmented(img, kind), "moved_folders": moved_folders,
            "verdict": verdict + ", all %d checksums unchanged" % len(sums)}
