#!/usr/bin/env bash
# The name entry in the real window, reached with a key still held from play. A game is fought (fire held,
# the hero steered) until it has scored, against a local table of ten empty places; then Escape and Enter
# answer the exit question "Yes", and the Down arrow and fire, pressed at once and held (the keyboard
# repeats Down), are still down when "Game over" opens the name entry; there fire is let go. While Down stays held the focus stays on the name,
# where the caret shows in the name's red; Country never takes it. Released, the keys type the name, Enter
# takes it, "No" declines the sending, and config.dat holds the name.
# Needs an X display (test.sh runs it under xvfb-run), xdotool, xwd and python3.
# Usage: name_entry_window_test.sh PELLORIN RUN_DIR
# shellcheck source=SCRIPTDIR/window_lib.sh
. "$(dirname "$0")/window_lib.sh" "name entry window test"
program=$1
rundir=$2
window_need_display
window_need xdotool xwd python3

work=$(mktemp -d)
trap 'kill "${pid:-}" 2>/dev/null; xdotool keyup Down space 2>/dev/null; rm -rf "$work"' EXIT
window_copy_game "$work"
cd "$work"
# config.dat: a window, music and sound on, F12 as the boss key, no country, and ten empty places (no
# name, score 0, stored inverted), so that any score places.
python3 - >config.dat <<'PY'
import sys
entries = (bytes(12) + b"\xff\xff") * 10
sys.stdout.buffer.write(bytes([0, 0, 0, 0, 0x7b, 0]) + bytes(12) + entries)
PY
SDL_AUDIODRIVER=dummy "$work/pellorin" >"$work/out.log" 2>&1 &
pid=$!
find_window() { window_find '^Pellorin$'; }
window_wait '^Pellorin$'
sleep 1
focus() { find_window && xdotool windowfocus --sync "$wid" 2>/dev/null; }
shot() { find_window && xwd -silent -id "$wid" >"$1" 2>/dev/null; }

# measure.py FILE...: per screenshot, the pure red pixels in the name's field (around the middle, where
# an empty name's caret stands), on the Country line, and in the status bar's score (not zero once the
# game has scored: the digits of 0 alone are green there too, so its pixels are counted against the first).
cat >measure.py <<'PY'
import sys, xwd
for name in sys.argv[1:]:
    shot = xwd.read(name)
    def red(left, top, right, bottom):
        return sum(shot.pixel(x, y) == b"\0\0\xff" for y in range(top, bottom) for x in range(left, right))
    score = sum(p[1] > 90 and p[1] > 2 * p[2] for p in (shot.pixel(x, y) for y in range(6, 26) for x in range(385, 470)))
    print(red(300, 255, 500, 285), red(300, 312, 700, 340), score)
PY

focus
xdotool key Return          # "Start game"
sleep 3                     # "Level 1", then play
shot start.xwd || fail "no screenshot of the game"
read -r _ _ score0 < <(window_python measure.py start.xwd)
focus
xdotool keydown space
scored=""
for n in $(seq 1 40); do
  if [ $((n % 2)) = 0 ]; then steer=Up; else steer=Down; fi
  focus
  xdotool keydown "$steer"; sleep 0.4; xdotool keyup "$steer"
  [ "$n" -ge 10 ] || continue
  shot play.xwd && read -r _ _ score < <(window_python measure.py play.xwd)
  if [ "${score:-0}" -gt "$((score0 + 20))" ]; then scored=1; break; fi
done
[ -n "$scored" ] || fail "16 s of fire scored nothing"

# Escape and Enter: "Exit the game?" "Yes"; Down pressed then and held through "Game over" into the name
# entry, as a player still steering when the last life goes.
xdotool keyup space
focus
xdotool key Escape
sleep 0.3
xdotool key Return
sleep 0.2
# "Game over", then the name entry, Down repeating all the while as a keyboard repeats a held key (the
# display's own repeat may be off, so the presses are sent again here). Fire, held too, is let go once the
# entry is open: a key let go must not free the other held keys to act.
xdotool keydown space
for n in $(seq 1 50); do
  xdotool keydown Down
  [ "$n" = 35 ] && xdotool keyup space
  sleep 0.1
done
caret=0
for n in 1 2 3 4 5 6; do
  xdotool keydown Down
  shot "entry$n.xwd" || continue
  read -r field country _ < <(window_python measure.py "entry$n.xwd")
  [ "$country" = 0 ] || fail "the held Down moved the focus to Country ($country red pixels on its line)"
  [ "$field" -gt "$caret" ] && caret=$field
  sleep 0.15
done
[ "$caret" -ge 20 ] || fail "no caret in the name's field while the entry waits for typing ($caret red pixels)"
xdotool keyup Down

focus
xdotool type --delay 120 tester
sleep 0.3
xdotool key Return          # the name: "Send the result?"
sleep 0.5
xdotool key Right Return    # "No": the menu
sleep 1
python3 - <<'PY' || fail "config.dat does not hold the name typed"
import sys
data = open("config.dat", "rb").read()
sys.exit(0 if b"\x06" + bytes(~b & 0xFF for b in b"tester") in data else 1)
PY
echo "name entry window test: the held Down left the focus on the name, whose caret showed ($caret red" \
  "pixels); the typed name is in config.dat"
