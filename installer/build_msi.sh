#!/usr/bin/env bash
# Builds the Vantrel package of one architecture with wixl from a program
# folder (Vantrel.exe, Brakwater.dll, VantrelShell.dll, Vantrel.chm).
# usage: build_msi.sh x64|x86 VERSION PROGRAM_DIR ICON OUTPUT_MSI
set -euo pipefail
arch=${1:?usage: build_msi.sh x64|x86 VERSION PROGRAM_DIR ICON OUTPUT_MSI}
version=${2:?}
program=$(realpath "${3:?}")
icon=$(realpath "${4:?}")
out=$(realpath -m "${5:?}")
here=$(cd "$(dirname "$0")" && pwd)
for f in Vantrel.exe Brakwater.dll VantrelShell.dll Vantrel.chm; do
  [ -f "$program/$f" ] || { echo "build_msi: $program/$f is missing" >&2; exit 1; }
done
# Programs and Features shows this size, in KiB.
size=$(( ($(cat "$program"/{Vantrel.exe,Brakwater.dll,VantrelShell.dll,Vantrel.chm} | wc -c) + 1023) / 1024 ))
# wixl takes source files by paths relative to its working folder only.
cd "$program"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! wixl -a "$arch" -D Arch="$arch" -D Version="$version" -D Size="$size" \
     -D IconFile="$(realpath --relative-to=. "$icon")" "$here/Vantrel.wxs" -o "$out.part" >"$log" 2>&1; then
  cat "$log" >&2
  exit 1
fi
# wixl reports an element it cannot build as "unimplemented" and goes on;
# a package that silently lacks a part is not a package.
if grep -q unimplemented "$log"; then
  cat "$log" >&2
  echo "build_msi: wixl skipped part of the package" >&2
  rm -f "$out.part"
  exit 1
fi
mv "$out.part" "$out"
