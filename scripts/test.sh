#!/usr/bin/env bash
# Installs what is missing, builds everything for 32-bit Windows and runs all
# tests under Wine.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build"

bash "$root/scripts/setup.sh"
cmake -G Ninja -S "$root" -B "$build" \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-i686-mingw32.cmake" >/dev/null
cmake --build "$build"
rm -rf "$build/test-results"
status=0
(cd "$build" && ctest --output-on-failure -j "$(nproc)") || status=$?
python3 "$root/scripts/test-summary.py" "$build/test-results"
exit $status
