# Sourced by the benchmarks: make_ntfs_files IMG SIZE_MB COUNT MOUNTPOINT makes
# an NTFS image (mkntfs) and writes COUNT files into it through an ntfs-3g
# mount, 1,000 a folder. Most files stay inside their records; every tenth
# owns clusters. Needs root for the mount. The image is kept in
# VT_BENCH_CACHE (default /var/tmp/vantrel-bench) under the hash of this
# script and its arguments, and copied from there on later runs.
make_ntfs_files() {
  local img=$1 size_mb=$2 count=$3 mnt=$4
  local cache=${VT_BENCH_CACHE:-/var/tmp/vantrel-bench}
  local key
  key=$( (cat "${BASH_SOURCE[0]}"; echo "$size_mb $count") | sha256sum | cut -c1-16)
  local cached=$cache/ntfs-files-$key.img
  if [ ! -f "$cached" ]; then
    mkdir -p "$cache" "$mnt"
    local building=$cached.part
    rm -f "$building"
    truncate -s "${size_mb}M" "$building"
    mkntfs -F -Q -q -L BENCH "$building" 2>/dev/null
    ntfs-3g -o big_writes "$building" "$mnt"
    python3 - "$mnt" "$count" <<'PY'
import os, sys
root, count = sys.argv[1], int(sys.argv[2])
per = 1000
for d in range((count + per - 1) // per):
    folder = os.path.join(root, "folder%04d" % d)
    os.mkdir(folder)
    for f in range(min(per, count - d * per)):
        with open(os.path.join(folder, "file%04d.dat" % f), "wb") as out:
            out.write(b"x" * (5000 if f % 10 == 0 else 100))
PY
    umount "$mnt"
    mv "$building" "$cached"
  fi
  cp --reflink=auto --sparse=always "$cached" "$img"
}
