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

if [ ${#need[@]} -gt 0 ]; then
  echo "setup: installing ${need[*]}"
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi
echo "setup: all tools present"
