#!/usr/bin/env bash
# Creates the tests' own Wine prefix once, with a scratch drive S: that maps to
# a folder of the build, so that tests never touch the prefix's real C: drive.
# Usage: wine-prefix.sh PREFIX SCRATCH_FOLDER
set -euo pipefail
prefix="$1"
scratch="$2"
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=d"
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY no_proxy NO_PROXY all_proxy ALL_PROXY
if [ ! -f "$prefix/system.reg" ]; then
  mkdir -p "$prefix"
  wineboot -i >/dev/null 2>&1
  wineserver -w
fi
mkdir -p "$scratch"
ln -sfn "$scratch" "$prefix/dosdevices/s:"
