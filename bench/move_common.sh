# Sourced by the move benchmarks: timing vantrel-cli defrag-file on copies of
# an image, and dd copying the same number of bytes within one image file,
# three ways, printed beside vantrel-cli's figure.
now_ns() { date +%s%N; }

# time_defrag_file CLI IMAGE WORK_DIR RUNS NAME -> best_ns, moved (clusters);
# each run on a fresh, fully written copy ($WORK_DIR/run.img, kept after the
# last run for checking); fails unless NAME ends in one fragment.
time_defrag_file() {
  local cli=$1 image=$2 work=$3 runs=$4 name=$5 t0 t1 ns out after
  best_ns=0
  moved=0
  for _ in $(seq 1 "$runs"); do
    cp --sparse=never "$image" "$work/run.img"
    sync
    cat "$work/run.img" >/dev/null
    t0=$(now_ns)
    out=$("$cli" defrag-file "$work/run.img" "$name" --json) || {
      echo "defrag-file failed: $out"
      exit 1
    }
    t1=$(now_ns)
    ns=$((t1 - t0))
    if [ "$best_ns" = 0 ] || [ "$ns" -lt "$best_ns" ]; then best_ns=$ns; fi
    read -r moved after <<<"$(python3 -c '
import json, sys
d = json.loads(sys.argv[1]); print(d["moved_clusters"], d["files"][0]["fragments_after"])' "$out")"
    [ "$after" = 1 ] || { echo "$name still in $after fragments"; exit 1; }
  done
}

#   dd_compare IMAGE WORK_DIR RUNS MOVED_BYTES FROM_BYTES TO_BYTES BLOCK_BYTES CLI_NS LABEL DETAIL

_best_dd() {  # _best_dd DD_ARGS... -> best ns over $_runs copies of $_img
  local best=0 t0 t1 ns
  for _ in $(seq 1 "$_runs"); do
    cp --sparse=never "$_img" "$_work/dd.img"
    sync
    cat "$_work/dd.img" >/dev/null
    t0=$(now_ns)
    dd if="$_work/dd.img" of="$_work/dd.img" iflag=skip_bytes,count_bytes skip="$_from" \
      seek="$_to" count="$_bytes" status=none "$@"
    t1=$(now_ns)
    ns=$((t1 - t0))
    if [ "$best" = 0 ] || [ "$ns" -lt "$best" ]; then best=$ns; fi
  done
  rm -f "$_work/dd.img"
  echo "$best"
}

dd_compare() {
  local _img=$1 _work=$2 _runs=$3 _bytes=$4 _from=$5 _to=$6 block=$7 cli_ns=$8 label=$9 detail=${10}
  local plain flush each
  plain=$(_best_dd bs=1M oflag=seek_bytes conv=notrunc)
  flush=$(_best_dd bs=1M oflag=seek_bytes conv=notrunc,fdatasync)
  each=$(_best_dd bs="$block" oflag=seek_bytes,dsync conv=notrunc)
  rate() { python3 -c "print('%.0f' % ($1 / ($2 / 1e9) / 1e6))"; }
  ratio() { python3 -c "print('%.2f' % ($1 / $2))"; }  # dd ns / vantrel ns
  printf '%-34s %6d ms  %5s MB/s  (%s)\n' "$label:" $((cli_ns / 1000000)) \
    "$(rate "$_bytes" "$cli_ns")" "$detail"
  for pair in "dd bs=1M:$plain" "dd bs=1M, fdatasync at the end:$flush" \
    "dd $((block / 1024))K blocks, each synced:$each"; do
    printf '%-34s %6d ms  %5s MB/s  vantrel / dd = %s\n' "${pair%%:*}:" $((${pair##*:} / 1000000)) \
      "$(rate "$_bytes" "${pair##*:}")" "$(ratio "${pair##*:}" "$cli_ns")"
  done
}
