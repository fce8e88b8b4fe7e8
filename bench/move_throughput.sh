#!/usr/bin/env bash
# Drive-pass throughput against dd, FAT32 and NTFS side by side in one run:
# bench/drive_pass.sh lays out 2,000 fragmented files on each file system,
# runs vantrel-cli defrag --filter all on fresh copies and dd bs=1M
# conv=fdatasync copying the same number of bytes within the same image
# file; this prints the two rates and their ratio for each file system
# (goal: 0.6 or more), with the rate at which the storage reads the same
# bytes back past the cache (in 8 MiB pieces, and in pieces of the mean
# fragment, as the pass's targets lie scattered) and the ratios a pass that
# only wrote them and read them back would reach.
#   bench/move_throughput.sh [BUILD_DIR] [RUNS]
# The NTFS half needs root (drive_pass.sh makes that image through ntfs-3g).
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(bash bench/drive_pass.sh "${1:-build/native}" "${2:-3}") || { echo "$out"; exit 1; }
echo "$out" | sed -n 's/^\(FAT32\|NTFS\),.*/&/p'
echo "$out" | python3 -c '
import re, sys
fs = None
for line in sys.stdin:
    m = re.match(r"(FAT32|NTFS),", line)
    if m:
        fs = m.group(1)
    m = re.search(r"throughput: (\d+) MB/s.*dd bs=1M, fdatasync at the end: (\d+) MB/s"
                  r".*reading as many back: (\d+) MB/s.*in pieces of the mean fragment: (\d+) MB/s",
                  line)
    if m and fs:
        ours, dd, back, small = (int(g) for g in m.groups())
        # A pass writes the bytes (as dd does) and reads each back from the
        # storage: at best the two times added, with the reads in large
        # pieces or in pieces of about a fragment.
        bound = lambda read: (1 / dd) / (1 / dd + 1 / max(read, 1))
        print("%-5s drive pass %4d MB/s, dd bs=1M conv=fdatasync %4d MB/s: %.2f of dd (goal 0.60);"
              " direct reads %4d MB/s in 8 MiB pieces, %4d MB/s in pieces of a fragment,"
              " so writing and reading back alone is %.2f to %.2f of dd"
              % (fs, ours, dd, ours / max(dd, 1), back, small, bound(small), bound(back)))'
