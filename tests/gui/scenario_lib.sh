# Sourced by the GUI scenarios: Wine in a prefix of the scenario's own on an
# X virtual frame buffer, the transcript with its checks, screenshots, the
# GUI driver, and the judges of the volumes (every file's checksum, read by
# mtools or a read-only ntfs-3g mount; fsck.fat -n or ntfsfix -n).
# The scenario sets before sourcing: name (for messages), out (its output
# folder), needs (tools beyond the common ones) and driver (the GUI driver,
# may be set later). Exits 77 when a tool is missing. Afterwards: $work (a
# temporary folder removed at exit), $wine, $server and the functions below.
PATH=$PATH:/usr/sbin:/sbin
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine64 || true)
server=/usr/lib/wine/wineserver64
[ -x "$server" ] || server=$(command -v wineserver64 || command -v wineserver || true)
for tool in Xvfb import mcopy fsck.fat sha256sum ${needs:-}; do
  command -v "$tool" >/dev/null || { echo "$name: $tool is missing" >&2; exit 77; }
done
[ -n "$wine" ] && [ -n "$server" ] || { echo "$name: wine64 is missing" >&2; exit 77; }

mkdir -p "$out"
: >"$out/transcript.txt"
work=$(mktemp -d)
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export MTOOLS_SKIP_CHECK=1
display=${VT_DISPLAY:-:$((50 + RANDOM % 400))}
Xvfb "$display" -screen 0 1280x900x24 >/dev/null 2>&1 &
xvfb=$!
export DISPLAY=$display
cleanup() {
  "$server" -k >/dev/null 2>&1
  kill "$xvfb" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

failures=0
log() { echo "$*" | tee -a "$out/transcript.txt"; }
check() {  # check DESCRIPTION COMMAND...
  local what=$1; shift
  if "$@"; then log "ok   $what"; else log "FAIL $what"; failures=$((failures + 1)); fi
}
shot() { sleep 1; import -display "$DISPLAY" -window root "PNG24:$out/$1.png"; log "shot $1.png"; }
drive() { "$wine" "$driver" "$@" 2>>"$out/driver.err" | tr -d '\r'; }
winpath() { echo "Z:${1//\//\\}"; }

# A fresh prefix, with Marlett for the caption buttons.
init_prefix() {
  "$wine" wineboot -i >/dev/null 2>&1
  "$server" -w
  [ -d /usr/share/wine/fonts ] && cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null
  return 0
}

# Checksums of every file of an image. NTFS is read through a read-only
# ntfs-3g mount; a volume it cannot mount gives a line that never matches.
sums() {  # sums IMAGE
  local dir=$work/files-$RANDOM
  mkdir -p "$dir"
  if file -b "$1" | grep -q NTFS; then
    if ntfs-3g -o ro "$1" "$dir" 2>/dev/null; then
      (cd "$dir" && find . -type f -print0 | sort -z | xargs -0 -r sha256sum)
      umount "$dir"
    else
      echo "unreadable $RANDOM$RANDOM"
    fi
  else
    mcopy -s -n -i "$1" ::/ "$dir/" 2>/dev/null
    (cd "$dir" && find . -type f -print0 | sort -z | xargs -0 -r sha256sum)
  fi
  rm -rf "$dir"
}
fs_check() {  # fs_check IMAGE
  if file -b "$1" | grep -q NTFS; then ntfsfix -n "$1" >/dev/null 2>&1; else fsck.fat -n "$1" >/dev/null 2>&1; fi
}
