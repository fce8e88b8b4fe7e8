# Sourced by the benchmarks: make_ntfs_tree IMG MOUNTPOINT makes a 2 GiB NTFS
# image (mkntfs) of 200,000 files shaped like a used system volume, written
# through an ntfs-3g mount (root): 169,000 small files that stay inside their
# records, 31,000 of 1 to 64 KB (2,000 of them written four at a time in
# turns), 2,500 folders up to 9 deep, six folders of 3,500 entries, 24
# folders whose names end up in extension records behind an attribute list,
# and a name in 40 with letters outside ASCII. Writing it takes minutes, so
# the image is kept in VT_BENCH_CACHE (default /var/tmp/vantrel-bench) under
# the hash of this script and copied from there (reflinked where the file
# system can) on later runs.
make_ntfs_tree() {
  local img=$1 mnt=$2
  local cache=${VT_BENCH_CACHE:-/var/tmp/vantrel-bench}
  local key
  # Comments do not change the image.
  key=$(grep -v '^ *#' "${BASH_SOURCE[0]}" | sha256sum | cut -c1-16)
  local cached=$cache/ntfs-tree-$key.img
  if [ ! -f "$cached" ]; then
    mkdir -p "$cache" "$mnt"
    local building=$cached.part
    rm -f "$building"
    truncate -s 2048M "$building"
    mkntfs -F -Q -q -L TREE "$building" 2>/dev/null
    ntfs-3g -o big_writes "$building" "$mnt"
    local t0=$SECONDS
    python3 - "$mnt" <<'PY'
import os, random, sys
root = sys.argv[1]
rng = random.Random(26)
FOLDERS, LARGE, LARGE_ENTRIES, FILES, RESIDENT, FRAGMENTED, LISTED = 2500, 6, 3500, 200000, 169000, 2000, 24
odd = ["café", "Ελληνικά", "データ", "Привет", "naïve", "smörgåsbord", "日本語のファイル", "Zürich"]

def name(i, kind):
    if i % 40 == 0:
        return "%s %d.%s" % (odd[i % len(odd)], i, kind)
    if i % 7 == 0:
        return "a rather longer name of entry number %06d.%s" % (i, kind)
    return "%s%05d.%s" % (kind[0], i, kind)

# Folders: each under a random earlier folder less than 9 deep.
paths, depth = [root], [0]
for i in range(1, FOLDERS + 1):
    parent = rng.randrange(len(paths))
    while depth[parent] >= 9:
        parent = rng.randrange(len(paths))
    path = os.path.join(paths[parent], name(i, "dir"))
    os.mkdir(path)
    paths.append(path)
    depth.append(depth[parent] + 1)
folders = paths[1:]
large = folders[-LARGE:]
# A folder's record fills with named streams: ntfs-3g then moves its name
# out to an extension record behind an attribute list.
for path in folders[:LISTED]:
    for k in range(6):
        os.setxattr(path, "user.note%d" % k, b"n" * 200)

# Where each file goes: the large folders take their 3,500, the rest spread.
places = [f for f in large for _ in range(LARGE_ENTRIES)]
others = folders[:-LARGE]
places += [others[rng.randrange(len(others))] for _ in range(FILES - len(places))]
rng.shuffle(places)
small = [i < RESIDENT for i in range(FILES)]
rng.shuffle(small)
pending = []  # files written in turns, four at a time
for i, folder in enumerate(places):
    path = os.path.join(folder, name(i, "dat" if small[i] else "bin"))
    if small[i]:
        with open(path, "wb") as out:
            out.write(b"r" * rng.randrange(0, 600))
    elif len(pending) < 4 * (FRAGMENTED // 4) and i % 15 == 0:
        pending.append(path)
    else:
        with open(path, "wb") as out:
            out.write(b"b" * rng.randrange(1024, 65536))
for g in range(0, len(pending), 4):
    fds = [os.open(p, os.O_WRONLY | os.O_CREAT, 0o644) for p in pending[g:g + 4]]
    for _ in range(6):
        for fd in fds:
            os.write(fd, b"f" * 4096)
            os.fsync(fd)
    for fd in fds:
        os.close(fd)
PY
    umount "$mnt"
    echo "ntfs_tree_image: wrote $cached in $((SECONDS - t0)) s" >&2
    mv "$building" "$cached"
  fi
  cp --reflink=auto --sparse=always "$cached" "$img"
}
