#!/usr/bin/env bash
# The layer check names a bad include planted in any folder of a copy of the
# sources, and lets the same lines pass where they belong.
# Usage: check_layers_test.sh <source folder>
set -euo pipefail
src=${1:?source folder}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$src" && git ls-files -z '*.cpp' '*.h' '*.c' '*.rc' scripts/check_layers.sh |
  tar --null -T - -cf -) | tar -C "$work" -xf -
check() { VT_LAYERS_ROOT="$work" bash "$work/scripts/check_layers.sh" > "$work/out" 2>&1; }

failures=0
fail() { echo "FAIL: $*"; sed 's/^/  | /' "$work/out"; failures=$((failures + 1)); }

check || fail "the clean copy does not pass"

# Every planted file is named at its line 1; one run for all of them.
planted=()
n=0
plant() {
  n=$((n + 1))
  local file="${1%.*}_$n.${1##*.}"
  mkdir -p "$work/$(dirname "$file")"
  printf '%s\n' "$2" > "$work/$file"
  planted+=("$file|$2")
}
allowed=()
allow() {
  mkdir -p "$work/$(dirname "$1")"
  printf '%s\n' "$2" > "$work/$1"
  allowed+=("$1")
}

for folder in app pages map report engine cli schedule base base/posix ondisk platform platform/image; do
  plant "$folder/zz_planted.cpp" '#include <windows.h>'
  plant "$folder/zz_planted.h" '#include <CommCtrl.h>'
  plant "$folder/zz_planted.cpp" '#include <shlobj.h>'
  plant "$folder/zz_planted.cpp" '#ifdef _WIN32'
  plant "$folder/zz_planted.cpp" '#if defined(__MINGW32__) || 1'
  plant "$folder/zz_planted.cpp" '#include "app/win32/main_dlg.h"'
done
for folder in engine ondisk base schedule map report; do
  plant "$folder/zz_planted.cpp" '#include "pages/drive_page.h"'
  plant "$folder/zz_planted.cpp" '#include "map/win32/wnd_graph.h"'
done
plant "platform/image/zz_planted.cpp" '#include <winioctl.h>'
# Private messages outside their one header, and windows reading the clock.
for folder in engine pages app/win32 map/win32 report/win32 widgets; do
  plant "$folder/zz_planted.h" '#define UM_MINE (WM_APP + 77)'
done
plant "engine/zz_planted.cpp" 'Messages().Send(wnd, WM_APP, 0, 0);'
for folder in app/win32 pages/win32 map/win32 widgets; do
  plant "$folder/zz_planted.cpp" 'const DWORD now = ::GetTickCount();'
done
plant "pages/zz_planted.cpp" '#include "platform/image/fs_volume.h"'
check && fail "the check passed with faults planted"
for entry in "${planted[@]}"; do
  file=${entry%%|*}
  grep -q "^$file:1: " "$work/out" || fail "$file with '${entry#*|}' was not named"
  rm -f "$work/$file"
done

# The same lines where they belong pass.
for folder in app/win32 pages/win32 map/win32 report/win32 platform/win32 platform/image/win32 \
  base/win32 widgets; do
  allow "$folder/zz_allowed.cpp" '#include <windows.h>'
done
allow "map/zz_allowed.cpp" '#include "engine/defrag.h"'
allow "pages/zz_allowed.cpp" '#include "app/settings_file.h"'
allow "report/zz_allowed.cpp" '// no _WIN32 test here, only a comment'
allow "engine/zz_allowed.cpp" '// posts UM_DRIVE_UPDATE (WM_APP + 0)'
allow "platform/win32/zz_allowed.cpp" 'DWORD Tick() { return ::GetTickCount(); }'
check || fail "lines where they belong were refused"

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "layer check: every planted fault named"
