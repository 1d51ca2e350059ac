#!/usr/bin/env bash
# Measures the processor time the game uses while its menu runs, under Xvfb, over 10 seconds.
# Prints the share of one core. Usage: scripts/measure-idle-cpu.sh [build/run/pellorin] (its data beside it)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
program=$(realpath "${1:-$root/build/run/pellorin}")
seconds=10
work=$(mktemp -d)
trap 'kill "${pid:-}" 2>/dev/null; rm -rf "$work"' EXIT
# A copy of the program beside a copy of its data, so that the settings it writes stay in the scratch
# folder.
for d in data sound; do cp -r "$(dirname "$program")/$d" "$work/"; done
cp "$program" "$work/pellorin"
program=$work/pellorin
cd "$work"
ticks=$(getconf CLK_TCK)
xvfb-run -a -s "-screen 0 1024x768x24" env SDL_AUDIODRIVER=dummy "$program" >/dev/null 2>&1 &
sleep 3
pid=$(pgrep -n -f "^$program" || true)
[ -n "$pid" ] || { echo "the game did not start"; exit 1; }
cpu() { awk '{print $14 + $15}' "/proc/$1/stat"; }
before=$(cpu "$pid")
sleep "$seconds"
after=$(cpu "$pid")
echo "pellorin used $(( (after - before) * 100 / (ticks * seconds) ))% of one core over ${seconds}s"
kill "$pid"
