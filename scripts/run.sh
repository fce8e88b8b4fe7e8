#!/usr/bin/env bash
# The main job: installs what is missing, builds, makes the demo volumes with
# the independent FAT and NTFS tools, analyses each with vantrel-cli, draws its
# cluster map, defragments it and shows the result.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset native >/dev/null
cmake --build --preset native -j "$(nproc)" --target vantrel-cli

demo=out/demo
rm -rf "$demo"
mkdir -p "$demo"
bash tests/tools/make_fat_images.sh "$demo" >/dev/null
# NTFS images need an ntfs-3g mount (root); without one the demo is FAT only.
bash tests/tools/make_ntfs_images.sh "$demo" >/dev/null 2>&1 || echo "(no NTFS demo volumes: making them needs root and ntfs-3g)"
cli=build/native/cli/vantrel-cli
for image in "$demo"/*.img; do
  name=$(basename "$image" .img)
  echo "=== $name: analysis"
  "$cli" analyze "$image"
  "$cli" files "$image" | head -8
  "$cli" map "$image" --png "$demo/$name-before.png"
  echo
  echo "=== $name: defragmentation"
  "$cli" defrag "$image" --filter all --png "$demo/$name-after.png" || true
  "$cli" files "$image" | tail -1
  echo "    maps: $demo/$name-before.png, $demo/$name-after.png"
  echo
done

# The program itself: Vantrel.exe (64-bit) under Wine on two demo volumes.
# With a display the program opens on them for the user; without one the
# scenario drives it on a virtual frame buffer and leaves its screenshots
# in out/demo/screens/.
if cmake --preset mingw-x86_64 >/dev/null &&
   cmake --build --preset mingw-x86_64 -j "$(nproc)" --target Vantrel vt-gui-driver >/dev/null; then
  bash tests/tools/make_fat_images.sh "$demo/gui" >/dev/null
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    echo "=== Vantrel.exe on V: and W: (close its window to end)"
    VANTREL_VOLUMES="V=Z:$(realpath "$demo/gui/fat16.img" | tr / '\\');W=Z:$(realpath "$demo/gui/fat32.img" | tr / '\\')" \
      WINEDEBUG=-all wine64 build/mingw-x86_64/program/Vantrel.exe || true
  else
    echo "=== Vantrel.exe on V: and W:, driven on a virtual frame buffer"
    bash tests/gui/run_scenario.sh build/mingw-x86_64 "$demo/screens" \
      "$demo/gui/fat16.img" "$demo/gui/fat32.img" || true
    echo "    screenshots: $demo/screens/"
  fi
fi
