#!/usr/bin/env bash
# The real program in a real window: copied with its data files into an empty directory, it
# shows a window titled Pellorin with an 800 x 600 client area and writes the default config.dat.
# Needs an X display (test.sh runs it under xvfb-run).
# shellcheck source=SCRIPTDIR/window_lib.sh
. "$(dirname "$0")/window_lib.sh" "window test"
program=$1
rundir=$2
window_need_display
window_need xwininfo

work=$(mktemp -d)
trap 'kill "${pid:-}" 2>/dev/null; rm -rf "$work"' EXIT
window_copy_game "$work"
cd "$work"
SDL_AUDIODRIVER=dummy "$work/pellorin" >"$work/out.log" 2>&1 &
pid=$!

info=""
for _ in $(seq 1 100); do
  info=$(xwininfo -name Pellorin 2>/dev/null) && break
  kill -0 "$pid" 2>/dev/null || fail "the program ended early: $(cat "$work/out.log")"
  sleep 0.1
done
[ -n "$info" ] || fail "no window titled Pellorin appeared"
width=$(echo "$info" | awk '/Width:/ {print $2}')
height=$(echo "$info" | awk '/Height:/ {print $2}')
[ "$width" = 800 ] && [ "$height" = 600 ] || fail "client area is ${width}x${height}, not 800x600"

for _ in $(seq 1 50); do [ -f config.dat ] && break; sleep 0.1; done
[ -f config.dat ] || fail "config.dat was not written"
size=$(stat -c %s config.dat)
[ "$size" = 158 ] || fail "config.dat has $size bytes, not 158"
# Defaults: window, music and sound on (stored as 0), F12 as boss key.
head=$(od -An -tx1 -N6 config.dat | tr -d ' \n')
[ "$head" = "000000007b00" ] || fail "config.dat starts with $head"
kill -0 "$pid" 2>/dev/null || fail "the program ended: $(cat "$work/out.log")"
echo "window test: window 800x600 titled Pellorin, default config.dat written"
