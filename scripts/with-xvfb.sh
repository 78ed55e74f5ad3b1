#!/usr/bin/env bash
# Runs a Windows program under Wine with DISPLAY set to an Xvfb server of its
# own, which picks a free display number itself. The server stops only after
# the prefix's Wine processes have ended, so none is left bound to a display
# that is gone.
# Usage: with-xvfb.sh PREFIX PROGRAM [ARGS...]
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
number_file="$(mktemp)"
Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp 3>"$number_file" 2>/dev/null &
server=$!
trap 'kill "$server" 2>/dev/null; wait "$server" 2>/dev/null; rm -f "$number_file"' EXIT
for _ in $(seq 100); do
  [ -s "$number_file" ] && break
  sleep 0.1
done
[ -s "$number_file" ] || { echo "Xvfb did not start" >&2; exit 1; }
status=0
DISPLAY=":$(head -n1 "$number_file")" "$here/wine-run.sh" "$@" || status=$?
WINEPREFIX="$1" timeout 60 wineserver -w || true
exit $status
