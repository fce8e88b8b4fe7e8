#!/usr/bin/env bash
# Installs what is missing, builds every preset and runs every test:
# native (plain and with AddressSanitizer/UndefinedBehaviorSanitizer),
# both Windows builds under Wine, and a bounded fuzzing run of each on-disk
# parser.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

jobs=$(nproc)
export CTEST_OUTPUT_ON_FAILURE=1
# One Wine prefix for the whole run, made fresh.
export VT_WINE_PREFIX_ROOT
VT_WINE_PREFIX_ROOT=$(mktemp -d "${TMPDIR:-/tmp}/vantrel-wine.XXXXXX")
trap 'rm -rf "$VT_WINE_PREFIX_ROOT"' EXIT

status=0
run() {
  echo "== $*"
  "$@" || status=1
}

run bash scripts/check_layers.sh
run bash scripts/check_format.sh

for preset in native native-asan mingw-x86_64 mingw-i686; do
  run cmake --preset "$preset" >/dev/null
  run cmake --build --preset "$preset" -j "$jobs"
done

run ctest --preset native -j "$jobs"
run ctest --preset native-asan -j "$jobs"
run ctest --preset mingw-x86_64 -j "$jobs"
run ctest --preset mingw-i686 -j "$jobs"

if [ -f fuzz/CMakeLists.txt ]; then
  run cmake --preset fuzz >/dev/null
  run cmake --build --preset fuzz -j "$jobs"
  run bash scripts/fuzz.sh "${VT_FUZZ_SECONDS:-60}"
fi

if [ $status -ne 0 ]; then
  echo "== FAILED"
else
  echo "== all presets built and all tests passed"
fi
exit $status
