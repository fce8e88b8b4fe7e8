#!/usr/bin/env bash
# Runs every libFuzzer target built in build/fuzz for SECONDS in total
# (shared evenly), each from a small seed corpus: fuzz/corpus/<target>/ when
# present, plus seeds made here with the file-system tools. Exits non-zero
# when a target crashes; the input that did it is kept in
# build/fuzz/artifacts/.
#   scripts/fuzz.sh [SECONDS]
set -uo pipefail
cd "$(dirname "$0")/.."
total=${1:-60}
build=${VT_FUZZ_BUILD:-build/fuzz}
PATH=$PATH:/usr/sbin:/sbin
export MTOOLS_SKIP_CHECK=1

mapfile -t targets < <(find "$build" -type f -name '*_fuzz' -perm -u+x 2>/dev/null | sort)
if [ ${#targets[@]} -eq 0 ]; then
  echo "fuzz: no targets in $build (build the \"fuzz\" preset first)" >&2
  exit 1
fi
per=$((total / ${#targets[@]}))
[ "$per" -ge 1 ] || per=1

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$build/artifacts"

# The head of a small FAT image with a few files, folders and long names;
# the fuzz target reads the rest of the volume as zeros.
fat_seed() {  # fat_seed OUT FAT KIB HEAD_KIB [mkfs options]
  local out=$1 fat=$2 kib=$3 head=$4
  shift 4
  local img="$work/seed.img"
  rm -f "$img"
  mkfs.fat -C -F "$fat" -s 1 -i 0x1234ABCD -n SEED --invariant "$@" "$img" "$kib" >/dev/null || return 1
  printf 'seed data\n' >"$work/a.txt"
  head -c 3000 /dev/zero | tr '\0' 'x' >"$work/b.bin"
  mmd -i "$img" "::Folder" "::Folder/Inner folder" || return 1
  mcopy -i "$img" "$work/a.txt" "::Café 12.txt" || return 1
  mcopy -i "$img" "$work/a.txt" "::readme.txt" || return 1
  mcopy -i "$img" "$work/b.bin" "::Folder/Inner folder/A rather long file name.bin" || return 1
  mcopy -i "$img" "$work/a.txt" "::Folder/x.txt" || return 1
  head -c $((head * 1024)) "$img" >"$out"
}

seed_fat_fuzz() {  # seed_fat_fuzz DIR
  command -v mkfs.fat >/dev/null && command -v mcopy >/dev/null || return 0
  fat_seed "$1/fat12" 12 160 160
  fat_seed "$1/fat16" 16 2400 96
  fat_seed "$1/fat32" 32 33300 320 -f 1
}

status=0
for target in "${targets[@]}"; do
  name=$(basename "$target")
  corpus="$work/corpus-$name"
  mkdir -p "$corpus"
  [ -d "fuzz/corpus/$name" ] && cp -r "fuzz/corpus/$name/." "$corpus/"
  if declare -F "seed_$name" >/dev/null; then "seed_$name" "$corpus"; fi
  echo "== fuzz $name for ${per}s ($(ls "$corpus" | wc -l) seeds)"
  "$target" "$corpus" -max_total_time="$per" -max_len=1048576 -timeout=30 \
    -rss_limit_mb=3072 -print_final_stats=1 \
    -artifact_prefix="$build/artifacts/$name-" >"$work/$name.log" 2>&1
  rc=$?
  tail -n 12 "$work/$name.log"
  if [ $rc -ne 0 ]; then
    echo "== fuzz $name FAILED (exit $rc); artifacts in $build/artifacts" >&2
    grep -m 20 -E 'ERROR|SUMMARY|==[0-9]+==' "$work/$name.log" >&2
    status=1
  fi
done
exit $status
