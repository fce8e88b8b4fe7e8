#!/usr/bin/env bash
# Runs a Windows test program under Wine for CTest.
#   wine-run.sh 32|64 PROGRAM [ARGS...]
#   wine-run.sh 32|64 --start-server | --stop-server
# The prefix comes from WINEPREFIX, or one kept beside the build. A 32-bit
# program on a kernel that cannot execute 32-bit code is reported as skipped
# (exit 77), since Wine cannot start there at all.
set -u
bits=$1; shift
if [ "$bits" = 32 ]; then
  loader=/usr/lib/wine/wine
  if ! /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
    echo "SKIPPED: this kernel does not run 32-bit programs, so 32-bit Wine cannot start here" >&2
    exit 77
  fi
else
  loader=/usr/lib/wine/wine64
  [ -x "$loader" ] || loader=$(command -v wine64 || command -v wine)
fi
server=/usr/lib/wine/wineserver
[ -x "$server" ] || server=$(command -v wineserver)
if [ -z "${WINEPREFIX:-}" ]; then
  WINEPREFIX="${VT_WINE_PREFIX_ROOT:-${TMPDIR:-/tmp}}/vantrel-wine-$(id -u)-$bits"
fi
export WINEPREFIX
if [ "${1:-}" = --stop-server ]; then
  [ -f "$WINEPREFIX/system.reg" ] && "$server" -k 2>/dev/null
  exit 0
fi
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml="}
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  # Several tests may start at once; one of them makes the prefix.
  (
    flock 9
    [ -f "$WINEPREFIX/system.reg" ] || "$loader" wineboot -i >/dev/null 2>&1
    "$server" -w 2>/dev/null || true
  ) 9>"$WINEPREFIX.lock"
fi
# A server kept up for the whole run (until --stop-server): every test
# connects to the same one instead of racing a server that is shutting down.
# The prefix's own processes (services, devices, explorer) are started here
# too, away from any test's output: a persistent server keeps them alive, and
# one started by a test would hold that test's output pipe open to the end.
if [ "${1:-}" = --start-server ]; then
  "$server" -p || exit 1
  "$loader" cmd.exe /c exit </dev/null >/dev/null 2>&1 || true
  exit 0
fi
exec "$loader" "$@"
