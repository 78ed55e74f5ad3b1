#!/usr/bin/env bash
# Installs what is missing and builds everything for 32-bit Windows into
# build/. Each build folder gets test ports of its own, so clones on one
# machine can build and test at the same time.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build"

bash "$root/scripts/setup.sh"
# A server left running by an interrupted run of this folder would hold its own ports.
python3 "$root/tests/http_test_server.py" stop --dir "$build/http-test-server"
read -r port_a port_b port_plain port_untrusted < <(python3 "$root/scripts/test-ports.py" "$build")
echo "HTTP test ports: $port_a $port_b $port_plain $port_untrusted"
# The ports are compiled into the test build, so they are set at configure time.
cmake -G Ninja -S "$root" -B "$build" \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-i686-mingw32.cmake" \
  -DHTTP_TEST_PORT_A="$port_a" -DHTTP_TEST_PORT_B="$port_b" \
  -DHTTP_TEST_PORT_PLAIN="$port_plain" -DHTTP_TEST_PORT_UNTRUSTED="$port_untrusted" >/dev/null
cmake --build "$build"
