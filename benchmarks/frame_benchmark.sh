#!/usr/bin/env bash
# Draws 100 frames of each kind through the window's paint under Wine, in a
# window on an Xvfb of its own, and prints the median milliseconds per frame
# next to one BitBlt of the client area.
# Usage: frame_benchmark.sh [BUILD_DIR]   (default: the build folder beside this one)
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$repo/build}"
cmake -G Ninja -S "$repo" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/toolchain-i686-mingw32.cmake" >/dev/null
cmake --build "$build" --target frame_benchmark >/dev/null
build="$(cd "$build" && pwd)"
prefix="$build/wine-prefix"
"$repo/scripts/wine-prefix.sh" "$prefix" "$build/scratch-drive"
"$repo/scripts/with-xvfb.sh" "$prefix" "$build/benchmarks/frame_benchmark.exe" | tr -d '\r'
