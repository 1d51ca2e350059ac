#!/usr/bin/env bash
# Measures the processor time the game uses while its menu runs, under Xvfb, over 10 seconds.
# Prints the share of one core. Usage: scripts/measure-idle-cpu.sh [PROGRAM]  (default build/run/pellorin)
#
# The game reads data/ and sound/ beside its program or, installed, from share/pellorin; it writes
# config.dat beside its program when its data is there and the folder is writable, else in
# $XDG_DATA_HOME/pellorin. The folder it is started from plays no part. So that the settings written at
# the start land in a scratch folder and never in the player's: a program with its data beside it (the
# build tree, a portable copy) runs as a copy in the scratch folder, data/ and sound/ linked beside it;
# an installed one runs where it is, with XDG_DATA_HOME in the scratch folder.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
program=$(realpath "${1:-$root/build/run/pellorin}")
seconds=10
work=$(mktemp -d)
trap 'kill "${pid:-}" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
home=$(dirname "$program")
if [ -d "$home/data" ] && [ -d "$home/sound" ]; then
  cp "$program" "$work/pellorin"
  ln -s "$home/data" "$home/sound" "$work/"
  program=$work/pellorin
fi
export XDG_DATA_HOME=$work/xdg
ticks=$(getconf CLK_TCK)
xvfb-run -a -s "-screen 0 1024x768x24" env SDL_AUDIODRIVER=dummy "$program" >/dev/null 2>&1 &
runner=$!
sleep 3
pid=$(pgrep -P "$runner" -x pellorin || true)
[ -n "$pid" ] || { echo "the game did not start"; exit 1; }
cpu() { awk '{print $14 + $15}' "/proc/$1/stat"; }
before=$(cpu "$pid")
sleep "$seconds"
after=$(cpu "$pid")
echo "pellorin used $(( (after - before) * 100 / (ticks * seconds) ))% of one core over ${seconds}s"
kill "$pid"
