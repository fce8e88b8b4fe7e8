#!/usr/bin/env bash
# Drive-pass throughput against dd, FAT32 and NTFS side by side in one run:
# bench/drive_pass.sh lays out 2,000 fragmented files on each file system,
# runs vantrel-cli defrag --filter all on fresh copies and dd bs=1M
# conv=fdatasync copying the same number of bytes within the same image
# file; this prints the two rates and their ratio for each file system
# (goal: 0.6 or more).
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
    m = re.search(r"throughput: (\d+) MB/s.*dd bs=1M, fdatasync at the end: (\d+) MB/s", line)
    if m and fs:
        ours, dd = int(m.group(1)), int(m.group(2))
        print("%-5s drive pass %4d MB/s, dd bs=1M conv=fdatasync %4d MB/s: %.2f of dd (goal 0.60)"
              % (fs, ours, dd, ours / max(dd, 1)))'
