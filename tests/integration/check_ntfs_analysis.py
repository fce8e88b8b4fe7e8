#!/usr/bin/env python3
"""Checks vantrel-cli's analysis of NTFS images against the ntfs-3g tools.

The images and their manifests come from tests/tools/make_ntfs_images.sh
(what a read-only ntfs-3g mount and ntfsinfo say about each file). Checked:
folder and file counts, every stored file's bytes read through the reported
extents against the mount's checksum, fragment counts against ntfsinfo's run
lists, files behind an attribute list completed after the scan, and the
analysis cache giving the same answers.
"""
import hashlib
import json
import os
import subprocess
import sys
import tempfile

failures = []


def check(cond, text):
    if not cond:
        failures.append(text)
        print("FAIL: " + text)


def cli_json(cli, *args, env=None):
    r = subprocess.run([cli] + list(args), capture_output=True, env=env)
    if r.returncode != 0:
        raise SystemExit("vantrel-cli %s failed (%d): %s" % (args, r.returncode, r.stderr.decode()))
    return json.loads(r.stdout.decode("utf-8"))


def read_manifest(path):
    m = {"dirs": [], "files": {}, "runs": {}, "attrlist": {}, "volume": {}}
    with open(path, encoding="utf-8") as f:
        for line in f:
            parts = line.rstrip("\n").split("\t")
            if parts[0] == "volume":
                m["volume"][parts[1]] = parts[2]
            elif parts[0] == "dir":
                m["dirs"].append(parts[1])
            elif parts[0] == "file":
                m["files"][parts[1]] = {"size": int(parts[2]), "sha": parts[3], "kind": parts[4]}
            elif parts[0] == "runs":
                m["runs"][parts[1]] = [tuple(int(x) for x in r.split(":"))
                                       for r in " ".join(parts[2:]).split()]
            elif parts[0] == "attrlist":
                m["attrlist"][parts[1]] = int(parts[2])
    return m


def fragments_of(runs):
    """Fragments as the analysis counts them: holes skipped, adjacent runs joined."""
    count, end = 0, None
    for _vcn, lcn, n in runs:
        if lcn < 0:
            continue
        if end is None or lcn != end:
            count += 1
        end = lcn + n
    return count


def baseline(cli, cluster_bytes):
    """Files and folders of a fresh volume: the system's own records."""
    with tempfile.TemporaryDirectory() as tmp:
        img = os.path.join(tmp, "empty.img")
        with open(img, "wb") as f:
            # mkntfs wants room for a $LogFile of whole 2 MB clusters.
            f.truncate((1 << 30) if cluster_bytes >= (1 << 20) else (64 << 20))
        subprocess.run(["mkntfs", "-F", "-Q", "-q", "-c", str(cluster_bytes), img],
                       check=True, capture_output=True)
        a = cli_json(cli, "analyze", img, "--json")
        return a["files"], a["folders"]


def check_image(cli, image, manifest):
    name = os.path.basename(image)
    m = read_manifest(manifest)
    cluster = int(m["volume"]["cluster_bytes"])
    record_bytes = int(m["volume"]["record_bytes"])
    analysis = cli_json(cli, "analyze", image, "--json")
    listing = cli_json(cli, "files", image, "--all", "--json")
    check(analysis["file_system"] == "NTFS", "%s: file system %s" % (name, analysis["file_system"]))
    check(analysis["bytes_per_cluster"] == cluster, "%s: cluster size" % name)
    check(analysis["total_clusters"] == int(m["volume"]["clusters"]),
          "%s: %d clusters, ntfsinfo says %s" % (name, analysis["total_clusters"], m["volume"]["clusters"]))
    check(analysis["free_clusters"] == int(m["volume"]["free"]),
          "%s: %d free clusters, ntfsinfo says %s" % (name, analysis["free_clusters"], m["volume"]["free"]))
    check(not analysis["errors"], "%s: errors %s" % (name, analysis["errors"][:3]))

    base_files, base_folders = baseline(cli, cluster)
    # Hard links are one record with several names.
    records = set()
    for path, f in m["files"].items():
        records.add((f["sha"], f["size"]) if f["kind"] == "hardlink" else path)
    check(analysis["folders"] == base_folders + len(m["dirs"]),
          "%s: %d folders, expected %d system + %d" % (name, analysis["folders"], base_folders, len(m["dirs"])))
    check(analysis["files"] == base_files + len(records),
          "%s: %d files, expected %d system + %d" % (name, analysis["files"], base_files, len(records)))

    by_path = {}
    for f in listing["files"]:
        by_path[f["path"][3:].replace("\\", "/")] = f
    matched = 0
    with open(image, "rb") as img:
        for path, f in m["files"].items():
            item = by_path.get(path)
            if f["kind"] in ("resident", "empty"):
                check(item is None, "%s: %s should not be stored" % (name, path))
                continue
            if item is None:
                # Small files live inside their records and are not listed;
                # names without an ANSI form come out with '?' in them; of
                # hard links only the record's own name is listed.
                check(f["size"] < record_bytes or f["kind"] in ("unicode", "hardlink", "reparse"),
                      "%s: %s not listed" % (name, path))
                continue
            check(item["size"] == f["size"], "%s: size of %s" % (name, path))
            # (ntfsinfo shows one extension record's runs of a listed file;
            # the bytes below prove those files' extents instead.)
            if path in m["runs"] and path not in m["attrlist"]:
                check(item["fragments"] == fragments_of(m["runs"][path]),
                      "%s: %s has %d fragments, ntfsinfo's runs give %d"
                      % (name, path, item["fragments"], fragments_of(m["runs"][path])))
            holes = any(lcn < 0 for _v, lcn, _n in m["runs"].get(path, []))
            if item["virtual"] or holes:
                continue  # sparse and compressed data is not a plain copy of its clusters
            data = bytearray()
            for lcn, count in item["extents"]:
                img.seek(lcn * cluster)
                data += img.read(count * cluster)
            digest = hashlib.sha256(bytes(data[: f["size"]])).hexdigest()
            check(digest == f["sha"], "%s: bytes of %s differ from the mount's" % (name, path))
            matched += 1
    for path in m["attrlist"]:
        item = by_path.get(path)
        check(item is not None and item["fragments"] > 1,
              "%s: %s behind an attribute list was not completed" % (name, path))
    check(matched > 0, "%s: no file compared" % name)

    # The cache answers as the analysis did.
    with tempfile.TemporaryDirectory() as home:
        env = dict(os.environ, XDG_CACHE_HOME=home)
        first = cli_json(cli, "files", image, "--all", "--json", "--cache", env=env)
        second = cli_json(cli, "files", image, "--all", "--json", "--cache", env=env)
        check(first == listing and second == listing, "%s: the cached analysis differs" % name)
    print("%s: %d files, %d folders, %d files compared byte for byte: checked"
          % (name, analysis["files"], analysis["folders"], matched))


def main():
    cli, maker = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory() as tmp:
        r = subprocess.run(["bash", maker, tmp], capture_output=True)
        if r.returncode == 77:
            print("SKIPPED: " + r.stderr.decode().strip())
            return 77
        if r.returncode != 0:
            raise SystemExit("image builder failed: " + r.stderr.decode()[-2000:])
        images = sorted(os.path.join(tmp, n) for n in os.listdir(tmp) if n.endswith(".img"))
        # 4 KB sectors, 128 KB and 2 MB clusters among them.
        check(len(images) >= 5, "expected NTFS images, got %s" % images)
        for image in images:
            check_image(cli, image, image[:-4] + ".manifest")
    print("%d images checked, %d failures" % (len(images), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
