#!/usr/bin/env bash
# Fetches miniz 2.0.8 from Debian's source package r-cran-zip, which carries it
# unmodified, and checks both files against their known SHA-256 sums.
set -euo pipefail

dest="$1"
miniz_c_sum=d22a0e9551dd2830c9ba50c2a1e24e37ab2279373977d71808b74a8c224b8b85
miniz_h_sum=f6f6d074793a851c40214bacceee3e60cb433d51be659e172a153105e910baf3

verified() {
  [ -f "$dest/miniz.c" ] && [ -f "$dest/miniz.h" ] &&
    echo "$miniz_c_sum  $dest/miniz.c" | sha256sum -c --status &&
    echo "$miniz_h_sum  $dest/miniz.h" | sha256sum -c --status
}
verified && exit 0

# Source entries mirror the machine's binary entries.
src_list=/etc/apt/sources.list.d/debian-src.sources
if [ ! -f "$src_list" ]; then
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] && grep -q '^Types: deb$' "$f" || continue
    case "$f" in *debian*) sed 's/^Types: deb$/Types: deb-src/' "$f" >> "$src_list";; esac
  done
  if [ ! -s "$src_list" ] && [ -f /etc/apt/sources.list ]; then
    rm -f "$src_list"
    sed -n 's/^deb /deb-src /p' /etc/apt/sources.list > /etc/apt/sources.list.d/debian-src.list
  fi
  apt-get update -q
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
(cd "$work" && chmod 755 "$work" && apt-get source --download-only --tar-only -q r-cran-zip >/dev/null)
tarball="$(ls "$work"/r-cran-zip_*.orig.tar.* | head -n 1)"
mkdir -p "$work/x" "$dest"
tar -xf "$tarball" -C "$work/x"
cp "$(find "$work/x" -path '*src/miniz.c' | head -n 1)" "$dest/miniz.c"
cp "$(find "$work/x" -path '*src/miniz.h' | head -n 1)" "$dest/miniz.h"
verified || { echo "miniz checksum mismatch" >&2; exit 1; }
