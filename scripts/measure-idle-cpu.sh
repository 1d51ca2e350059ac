#!/usr/bin/env bash
# Measures the processor time the game uses under Xvfb, 10 seconds each: in the menu, in a game left to
# play (a new game started with Enter, measured once "Level 1" has gone), and in that game paused with P.
# Prints the share of one core for each. The paused picture does not change from frame to frame, so the
# pause must cost less than play.
# Usage: scripts/measure-idle-cpu.sh [PROGRAM]  (default build/run/pellorin)
# Needs xvfb-run, xdotool and openbox.
# Environment: SCREEN, the Xvfb screen (default 1024x768x24; 2560x1440x24 for a large desktop, where
# the window opens larger and each frame is enlarged to it); SECONDS_EACH (default 10).
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
seconds=${SECONDS_EACH:-10}
screen=${SCREEN:-1024x768x24}
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

# The measuring runs inside the X session, where xdotool reaches the game's window.
cat >"$work/inside.sh" <<'INSIDE'
set -euo pipefail
program=$1 seconds=$2 ticks=$3
# A window manager gives the game the focus, as on a desktop: the menu runs only while it has it.
openbox --sm-disable >/dev/null 2>&1 &
wm=$!
trap 'kill "$wm" 2>/dev/null' EXIT
sleep 1
xdotool mousemove 0 0  # off the window, so that no menu item is hovered and Enter starts a game
SDL_AUDIODRIVER=dummy "$program" >/dev/null 2>&1 &
pid=$!
trap 'kill "$pid" "$wm" 2>/dev/null' EXIT
wid=""
for _ in $(seq 1 100); do
  wid=$(xdotool search --pid "$pid" --name '^Pellorin$' 2>/dev/null | tail -1) && [ -n "$wid" ] && break
  sleep 0.1
done
[ -n "$wid" ] || { echo "the game did not start"; exit 1; }
sleep 2
cpu() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
measure() {  # measure WHAT
  local before after
  before=$(cpu)
  sleep "$seconds"
  after=$(cpu)
  kill -0 "$pid" 2>/dev/null || { echo "the game ended while $1 was measured"; exit 1; }
  printf '%-6s %3d.%d%% of one core over %ss\n' "$1:" $(((after - before) * 100 / (ticks * seconds))) \
    $(((after - before) * 1000 / (ticks * seconds) % 10)) "$seconds"
}
key() { xdotool windowfocus --sync "$wid" 2>/dev/null || true; xdotool key "$1"; }
measure menu
key Return  # "Start game" is selected
sleep 2     # "Level 1" shows for 1.5 s
measure play
key p
sleep 0.5
measure pause
INSIDE
xvfb-run -a -s "-screen 0 $screen" bash "$work/inside.sh" "$program" "$seconds" "$ticks"
