#!/usr/bin/env bash
# Sets up what is missing, builds, makes the data files and starts Pellorin.
set -euo pipefail
root=$(cd "$(dirname "$0")" && pwd)
"$root/scripts/setup.sh"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "play.sh: no graphical display (neither DISPLAY nor WAYLAND_DISPLAY is set); start it from a desktop session." >&2
  exit 1
fi
cd "$root/build/run"
exec ./pellorin
