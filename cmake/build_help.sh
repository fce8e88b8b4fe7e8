#!/usr/bin/env bash
# Compiles the help file from docs/help and the screenshots with chmcmd.
# Any warning (a broken link, a missing picture) fails the build.
# usage: build_help.sh HELP_DIR SCREENSHOTS_DIR OUTPUT_CHM VERSION
# VERSION replaces @VT_VERSION@ in the topics.
set -euo pipefail
help=${1:?usage: build_help.sh HELP_DIR SCREENSHOTS_DIR OUTPUT_CHM VERSION}
shots=${2:?}
out=${3:?}
version=${4:?}
chmcmd=$(command -v chmcmd || command -v chmcmd-3.2.2 || true)
[ -n "$chmcmd" ] || { echo "build_help: chmcmd is missing (package fp-utils-3.2.2)" >&2; exit 1; }
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cp "$help"/* "$stage/"
sed -i "s/@VT_VERSION@/$version/g" "$stage"/*.htm
mkdir -p "$stage/screenshots"
# Only the pictures the topics show.
for img in $(grep -oh 'src="screenshots/[^"]*"' "$help"/*.htm | sed 's/src="screenshots\///; s/"$//' | sort -u); do
  [ -f "$shots/$img" ] && cp "$shots/$img" "$stage/screenshots/"
  echo "screenshots/$img" >>"$stage/Vantrel.hhp"
done
(cd "$stage" && "$chmcmd" --html-scan Vantrel.hhp) >"$stage/chmcmd.log" 2>&1 || {
  cat "$stage/chmcmd.log" >&2
  exit 1
}
if grep -Eiq 'warning|error|not found|missing' "$stage/chmcmd.log"; then
  grep -Ei 'warning|error|not found|missing' "$stage/chmcmd.log" >&2
  echo "build_help: chmcmd reported problems; the help file is not built" >&2
  exit 1
fi
cp "$stage/Vantrel.chm" "$out"
