#!/usr/bin/env bash
# Installs what the build and the tests need, and nothing that is already there.
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive

need=()
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "ok installed"; }

for p in cmake ninja-build g++ make python3 googletest libgtest-dev libbenchmark-dev \
         mingw-w64 g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix \
         wine wine64 xvfb xauth x11-utils imagemagick fonts-wine xdotool \
         dosfstools mtools ntfs-3g fatcat attr clang clang-format libclang-rt-14-dev \
         zlib1g-dev libz-mingw-w64-dev fp-utils-3.2.2 wixl msitools; do
  have_pkg "$p" || need+=("$p")
done

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
  need+=("wine32:i386")
elif ! have_pkg "wine32:i386"; then
  need+=("wine32:i386")
fi

install() { $SUDO apt-get install -y -qq --no-install-recommends "$@" >/dev/null; }

if [ ${#need[@]} -gt 0 ]; then
  echo "setup: installing ${need[*]}"
  # A mirror caught mid-sync fails one index now and then; what did come in is
  # used, and the install below says whether it was enough.
  for try in 1 2 3; do
    $SUDO apt-get update -qq && break
    echo "setup: apt-get update failed (try $try of 3)"
    sleep $((try * 10))
  done
  if ! install "${need[@]}"; then
    # Without one architecture's security index the two architectures'
    # candidates differ and the 32-bit libraries cannot be matched; the
    # release suite has both. Its GStreamer libraries go first, or the
    # resolver gives up on Wine's dependency tree.
    suite=$(. /etc/os-release && echo "$VERSION_CODENAME")
    echo "setup: retrying from the $suite suite alone"
    case " ${need[*]} " in
      *" wine32:i386 "*) install -t "$suite" libgstreamer-plugins-base1.0-0:i386 || true ;;
    esac
    install -t "$suite" "${need[@]}"
  fi
fi
echo "setup: all tools present"
