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
# One Wine prefix per architecture for the whole run, made fresh, each with
# one Wine server that stays up until the end: a server that shuts down
# between two tests can drop the next one's connection.
export VT_WINE_PREFIX_ROOT
VT_WINE_PREFIX_ROOT=$(mktemp -d "${TMPDIR:-/tmp}/vantrel-wine.XXXXXX")
stop_wine_servers() {
  local bits
  for bits in 64 32; do
    tools/wine-run.sh "$bits" --stop-server || true
  done
}
trap 'stop_wine_servers; rm -rf "$VT_WINE_PREFIX_ROOT"' EXIT

status=0
run() {
  local started=$SECONDS
  echo "== $*"
  "$@" || status=1
  echo "== $(($SECONDS - started)) s: $*"
}

run bash scripts/check_layers.sh
run bash scripts/check_format.sh

for preset in native native-asan mingw-x86_64 mingw-i686; do
  run cmake --preset "$preset" >/dev/null
  run cmake --build --preset "$preset" -j "$jobs"
done
fuzz=0
if [ -f fuzz/CMakeLists.txt ]; then
  fuzz=1
  run cmake --preset fuzz >/dev/null
  run cmake --build --preset fuzz -j "$jobs"
fi

run tools/wine-run.sh 64 --start-server
# 32-bit Wine where this machine runs 32-bit programs (77: it does not).
tools/wine-run.sh 32 --start-server || [ $? = 77 ] || status=1

# The 64-bit Windows tests spend most of their time waiting on windows
# under Wine, one scenario at a time. The native tests, the 32-bit Windows
# tests and the fuzzing run beside them on the processors those leave
# free, at a lower priority so that no window waits for them; their output
# follows the 64-bit tests' output.
beside_log=$(mktemp "${TMPDIR:-/tmp}/vantrel-tests.XXXXXX")
(
  status=0
  run nice -n 10 ctest --preset native -j "$jobs"
  run nice -n 10 ctest --preset native-asan -j "$jobs"
  run nice -n 10 ctest --preset mingw-i686 -j "$jobs"
  if [ $fuzz = 1 ]; then
    run nice -n 10 bash scripts/fuzz.sh "${VT_FUZZ_SECONDS:-60}"
  fi
  exit $status
) >"$beside_log" 2>&1 &
beside=$!
run ctest --preset mingw-x86_64 -j "$jobs"
wait $beside || status=1
cat "$beside_log"
rm -f "$beside_log"

if [ $status -ne 0 ]; then
  echo "== FAILED"
else
  echo "== all presets built and all tests passed"
fi
exit $status
