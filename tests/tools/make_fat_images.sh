#!/usr/bin/env bash
# Builds FAT12, FAT16 and FAT32 test images with mkfs.fat and mtools, with
# fixed content (long and Latin-1 names, nested folders, a folder of several
# clusters, empty, hidden, system and read-only files, fragmented files),
# and records what the tools themselves say about each image:
#   OUTDIR/<image>.manifest   TOTAL/FREE clusters (fsck.fat), then one line
#                             per folder (D) and file (F):
#                             kind TAB first-cluster TAB size TAB copy TAB path
#                             (first cluster from fatcat, "-" where it cannot
#                             name the path; path in UTF-8, "/" separated)
#   OUTDIR/<image>.out/<copy> each file's bytes as mcopy reads them back
# usage: make_fat_images.sh OUTDIR
set -euo pipefail
out=${1:?usage: make_fat_images.sh OUTDIR}
export MTOOLS_SKIP_CHECK=1
export TZ=UTC
PATH=$PATH:/usr/sbin:/sbin
for tool in mkfs.fat mcopy mmd mdel mattrib mdir fsck.fat awk; do
  command -v "$tool" >/dev/null || { echo "make_fat_images: $tool is missing" >&2; exit 77; }
done
have_fatcat=0
command -v fatcat >/dev/null && have_fatcat=1

mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Deterministic bytes that differ at every offset: "<seed>:<offset>\n" lines.
gen() {  # gen FILE SIZE SEED
  awk -v s="$3" -v n="$2" 'BEGIN { for (i = 0; len < n; i++) {
      line = sprintf("%s:%08d\n", s, i); printf "%s", line; len += length(line) } }' |
    head -c "$2" >"$1"
  touch -d "2020-01-02 03:04:06" "$1"
}

# FAT32 keeps a next-free hint in FSInfo that mtools follows; clearing it
# makes each write start from the first free cluster, so files fill gaps.
clear_hint() {  # clear_hint IMG FAT
  if [ "$2" = 32 ]; then
    printf '\xff\xff\xff\xff' | dd of="$1" bs=1 seek=$((512 + 0x1EC)) conv=notrunc status=none
  fi
}

put() {  # put IMG FAT SIZE SEED PATH
  local src="$work/src"
  gen "$src" "$3" "$4"
  clear_hint "$1" "$2"
  mcopy -m -i "$1" "$src" "::$5"
}

build() {  # build NAME FAT KIB
  local img="$out/$1" fat=$2
  rm -f "$img"
  mkfs.fat -C -F "$fat" -s 1 -i 0x1234ABCD -n "TEST$fat" --invariant "$img" "$3" >/dev/null
  put "$img" "$fat" 300 cafe "Café 12.txt"
  put "$img" "$fat" 42 readme "readme.txt"
  put "$img" "$fat" 0 empty "Empty file.txt"
  put "$img" "$fat" 0 empty2 "EMPTY.DAT"
  put "$img" "$fat" 700 hidden "Hidden system.sys"
  mattrib -i "$img" +h +s "::Hidden system.sys"
  put "$img" "$fat" 1000 ro "Read only.txt"
  mattrib -i "$img" +r "::Read only.txt"
  mmd -i "$img" "::Level 1" "::Level 1/Level 2" "::Level 1/Level 2/Level 3" \
    "::Level 1/Level 2/Level 3/Level 4"
  put "$img" "$fat" 5000 deep "Level 1/Level 2/Level 3/Deep file.bin"
  put "$img" "$fat" 10 deeper "Level 1/Level 2/Level 3/Level 4/x.txt"
  mmd -i "$img" "::Many"
  for i in $(seq -w 1 60); do
    put "$img" "$fat" $((10#$i * 7)) "many$i" "Many/Entry number $i with a long name.txt"
  done
  # Fragmented files: fill a run of clusters with one-cluster files, delete
  # every other one, then write larger files that must use the gaps.
  mmd -i "$img" "::Fragments"
  for i in $(seq -w 0 23); do put "$img" "$fat" 500 "fill$i" "Fragments/fill$i.bin"; done
  for i in $(seq -w 1 2 23); do mdel -i "$img" "::Fragments/fill$i.bin"; done
  put "$img" "$fat" 2500 frag1 "Fragments/Fragmented one.bin"
  put "$img" "$fat" 3000 frag2 "Fragments/Fragmented two.bin"
  put "$img" "$fat" 100000 big "Big contiguous.bin"
  fsck.fat -n "$img" >/dev/null || { echo "make_fat_images: fsck.fat rejects $img" >&2; exit 1; }
  manifest "$1"
}

manifest() {  # manifest NAME
  local img="$out/$1" man="$out/$1.manifest" dir="$out/$1.out"
  rm -rf "$dir"
  mkdir -p "$dir"
  local summary
  summary=$(fsck.fat -n -v "$img" | tail -1)  # "IMG: N files, USED/TOTAL clusters"
  local used total
  used=$(echo "$summary" | sed -E 's|.* ([0-9]+)/([0-9]+) clusters.*|\1|')
  total=$(echo "$summary" | sed -E 's|.* ([0-9]+)/([0-9]+) clusters.*|\2|')
  {
    printf 'TOTAL\t%s\n' "$total"
    printf 'FREE\t%s\n' "$((total - used))"
  } >"$man"
  local n=0
  mdir -/ -a -b -i "$img" :: | while IFS= read -r line; do
    local path=${line#::/}
    local kind=F
    if [ "${path%/}" != "$path" ]; then kind=D; path=${path%/}; fi
    local cluster=-
    if [ $have_fatcat = 1 ] && LC_ALL=C grep -q '^[ -~]*$' <<<"$path"; then
      cluster=$(fatcat "$img" -e "/$path" 2>/dev/null | sed -nE 's/.*cluster=([0-9]+).*/\1/p')
      [ -n "$cluster" ] || cluster=-
    fi
    if [ $kind = F ]; then
      n=$((n + 1))
      mcopy -n -i "$img" "::$path" "$dir/$n"
      printf 'F\t%s\t%s\t%s\t%s\n' "$cluster" "$(stat -c %s "$dir/$n")" "$n" "$path"
    else
      printf 'D\t%s\t0\t-\t%s\n' "$cluster" "$path"
    fi
  done >>"$man"
}

build fat12.img 12 1440
build fat16.img 16 16384
build fat32.img 32 40960
echo "make_fat_images: images and manifests in $out"
