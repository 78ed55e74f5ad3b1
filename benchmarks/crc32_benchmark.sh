#!/usr/bin/env bash
# Measures ComputeCrc32 on a cached 1 GiB file under Wine and compares it with
# zlib's crc32 over the same bytes already in memory (Python's zlib module).
# Usage: crc32_benchmark.sh [BUILD_DIR]   (default: the build folder beside this one)
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$repo/build}"
cmake -G Ninja -S "$repo" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/toolchain-i686-mingw32.cmake" >/dev/null
cmake --build "$build" --target crc32_benchmark >/dev/null
build="$(cd "$build" && pwd)"
exe="$build/benchmarks/crc32_benchmark.exe"
prefix="$build/wine-prefix"

"$repo/scripts/wine-prefix.sh" "$prefix" "$build/scratch-drive"

work="$(mktemp -d "$build/crc32-benchmark.XXXXXX")"
trap 'rm -rf "$work"' EXIT
data="$work/data.bin"
head -c 1073741824 /dev/urandom > "$data"
cat "$data" > /dev/null

# Best of three runs; the file stays in the page cache between them.
best=""
best_mbs=0
for _ in 1 2 3; do
  line="$("$repo/scripts/wine-run.sh" "$prefix" "$exe" "Z:${data//\//\\}" | tr -d '\r')"
  echo "$line"
  mbs="${line#crc32 MB/s=}"
  mbs="${mbs%% *}"
  if [ "$mbs" -gt "$best_mbs" ]; then best="$line"; best_mbs="$mbs"; fi
done

python3 - "$data" "$best" <<'PY'
import sys, time, zlib
path, best = sys.argv[1], sys.argv[2]
fields = dict(item.split("=", 1) for item in best.split()[1:])
ours = float(fields["MB/s"])
data = open(path, "rb").read()
zlib_best = 0.0
for _ in range(3):
    start = time.perf_counter()
    crc = zlib.crc32(data)
    zlib_best = max(zlib_best, len(data) / 1e6 / (time.perf_counter() - start))
if f"{crc:08x}" != fields["crc"]:
    sys.exit(f"CRC differs: ComputeCrc32 {fields['crc']}, zlib {crc:08x}")
print(f"zlib.crc32 in memory MB/s={zlib_best:.0f} crc={crc:08x}")
print(f"ComputeCrc32 best MB/s={ours:.0f}, ratio to zlib={ours / zlib_best:.2f}")
PY
