#!/usr/bin/env bash
# Cost of the volume's size alone: an empty 1 TiB NTFS image (truncate +
# mkntfs -Q, 268 million clusters, 17 files, sparse on the host) analysed,
# its free space consolidated (nothing to move) and its map drawn. Prints the
# best of N runs (warm cache), each beside its goal, with peak memory; then
# the sizes of map pictures (zlib, best compression) beside the raw pixel
# bytes they hold, and checks each decodes in ImageMagick.
#   bench/volume_size.sh [BUILD_DIR] [RUNS] [SIZE]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/native}
runs=${2:-3}
size=${3:-1T}
cli=$(realpath "$build/cli/vantrel-cli")
[ -x "$cli" ] || { echo "build vantrel-cli first (cmake --build --preset native)"; exit 2; }
PATH=$PATH:/usr/sbin:/sbin

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
img=$work/empty.img
truncate -s "$size" "$img"
mkntfs -F -Q -f -q "$img" 2>/dev/null
export XDG_CONFIG_HOME=$work/config HOME=$work

measure() {  # GOAL_MS ARGS...: prints best ms, peak KiB and the goal
  python3 - "$runs" "$@" <<'PY'
import os, subprocess, sys, time
runs, goal, cmd = int(sys.argv[1]), float(sys.argv[2]), sys.argv[3:]
best, peak = None, 0
for _ in range(runs):
    t0 = time.perf_counter()
    pid = os.fork()
    if pid == 0:
        fd = os.open(os.devnull, os.O_WRONLY)
        os.dup2(fd, 1)
        os.dup2(fd, 2)
        os.execv(cmd[0], cmd)
    _, status, usage = os.wait4(pid, 0)
    ms = (time.perf_counter() - t0) * 1000
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit("%s exited %d" % (" ".join(cmd[1:3]), os.waitstatus_to_exitcode(status)))
    best = ms if best is None else min(best, ms)
    peak = max(peak, usage.ru_maxrss)
verdict = "meets" if best <= goal else "MISSES"
print("%8.0f ms  peak %7.1f MB  goal <= %.0f ms (%s)" % (best, peak / 1024, goal, verdict))
PY
}

clusters=$("$cli" analyze "$img" --json | python3 -c 'import json,sys; print(json.load(sys.stdin)["total_clusters"])')
echo "image: empty NTFS of $size, $clusters clusters; $runs runs, best shown"
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-34s' "analyze"; measure 100 "$cli" analyze "$img"
printf '%-34s' "freespace --mode maximize"; measure 500 "$cli" freespace "$img" --mode maximize --quiet
printf '%-34s' "map --png (one byte a cluster)"; measure 500 "$cli" map "$img" --png "$work/map.png"

echo "map pictures (zlib), bytes written / raw pixel bytes:"
for opts in "" "--uncompressed --block-size 3" "--width 1600 --height 1000 --block-size 1"; do
  # shellcheck disable=SC2086
  "$cli" map "$img" --png "$work/p.png" $opts
  read -r w h < <(identify -format '%w %h\n' "$work/p.png")
  printf '  %-44s %7d / %8d  (%dx%d, decodes: %s)\n' "${opts:-default}" \
    "$(stat -c %s "$work/p.png")" $((w * h * 3)) "$w" "$h" \
    "$(convert "$work/p.png" rgb:- | wc -c | awk -v n=$((w * h * 3)) '{print ($1 == n) ? "yes" : "NO"}')"
done
