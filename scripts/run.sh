#!/usr/bin/env bash
# The main job: installs what is missing, builds, makes the demo volumes with
# the independent FAT tools and analyses each of them with vantrel-cli.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset native >/dev/null
cmake --build --preset native -j "$(nproc)" --target vantrel-cli

demo=out/demo
rm -rf "$demo"
mkdir -p "$demo"
bash tests/tools/make_fat_images.sh "$demo" >/dev/null
cli=build/native/cli/vantrel-cli
for image in "$demo"/*.img; do
  echo "=== $(basename "$image")"
  "$cli" analyze "$image"
  echo
  "$cli" files "$image" | head -15
  echo
done
