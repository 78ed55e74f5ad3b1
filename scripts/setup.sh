#!/usr/bin/env bash
# Makes a fresh Debian 12 machine ready to build and test the updater:
# the i686 mingw-w64 cross compiler, CMake, Ninja, 32-bit Wine, GoogleTest's
# sources, OpenSSL and Python for the test server, Pillow for the embedded
# pictures, a virtual display with xdotool and ImageMagick for the window
# tests, and miniz from Debian's source package. Safe to run again; it
# does nothing when all is in place.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/.." && pwd)"

packages=(
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix mingw-w64-i686-dev binutils-mingw-w64-i686
  cmake ninja-build googletest openssl python3
  wine wine32:i386
  xvfb xauth xdotool imagemagick fonts-dejavu-core fonts-wine
  dpkg-dev python3-pil
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

export DEBIAN_FRONTEND=noninteractive
if [ ${#missing[@]} -gt 0 ]; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

"$here/fetch-miniz.sh" "$root/third_party/miniz"
