#!/usr/bin/env bash
# Creates the tests' own Wine prefix once, with a scratch drive S: that maps to
# a folder of the build, so that tests never touch the prefix's real C: drive.
# Wine has no "Segoe UI", and GDI+ draws no text in a missing family, so the
# prefix maps it to DejaVu Sans; --without-segoe-ui leaves it missing, for the
# tests of the window's fallback font.
# Usage: wine-prefix.sh PREFIX SCRATCH_FOLDER [--without-segoe-ui]
set -euo pipefail
prefix="$1"
scratch="$2"
fonts="${3:-}"
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=d"
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY no_proxy NO_PROXY all_proxy ALL_PROXY
if [ ! -f "$prefix/system.reg" ]; then
  mkdir -p "$prefix"
  wineboot -i >/dev/null 2>&1
  wineserver -w
fi
if [ "$fonts" != "--without-segoe-ui" ] && ! grep -q '^"Segoe UI"="DejaVu Sans"' "$prefix/user.reg"; then
  reg="$prefix/segoe-ui.reg"
  printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n"Segoe UI"="DejaVu Sans"\r\n' >"$reg"
  wine regedit /S "$reg"
  wineserver -w
fi
mkdir -p "$scratch"
ln -sfn "$scratch" "$prefix/dosdevices/s:"
