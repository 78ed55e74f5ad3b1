#!/usr/bin/env bash
# The launcher's main job on this machine: installs what is missing, builds,
# publishes a demo client as a local HTTPS update site and updates an old copy
# of that client with the launcher under Wine. With DISPLAY set the player
# clicks; without it a virtual display is used, Update is clicked for the
# player, and screenshots, the final status and the client's changes are
# printed. The site's server and the virtual display stop on exit.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

bash "$root/scripts/build.sh"
exec /usr/bin/python3 "$root/scripts/demo.py" --build "$root/build"
