#!/usr/bin/env bash
# Installs what is missing, builds everything for 32-bit Windows and runs all
# tests under Wine.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build"

bash "$root/scripts/build.sh"
rm -rf "$build/test-results" "$build/ctest-results.xml"
status=0
(cd "$build" && ctest --output-on-failure -j "$(nproc)" --output-junit ctest-results.xml) || status=$?
python3 "$root/scripts/test-summary.py" "$build/test-results" "$build/ctest-results.xml" || status=1
exit $status
