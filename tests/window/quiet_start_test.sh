#!/usr/bin/env bash
# Starts on a machine without a sound device (no sound server to reach, no sound card of the name ALSA
# is told to use): with no display either, the program says so in one line on standard error and ends
# with status 1; with a display it says in one line that it plays without sound -- and nothing more, none
# of the sound libraries' own complaints -- then runs silently: the menu is drawn, and the quit question
# ends it with status 0. A game watched again (--replay) says the same one line and plays silently.
# Needs an X display (test.sh runs it under xvfb-run), xdotool and xwd.
set -u
program=$1
rundir=$2
golden=$3
fail() { echo "quiet start test: $*" >&2; [ -n "${pid:-}" ] && kill "$pid" 2>/dev/null; exit 1; }
[ -n "${DISPLAY:-}" ] || fail "no DISPLAY; run it under xvfb-run"
command -v xdotool >/dev/null || fail "xdotool is missing (scripts/setup.sh installs it)"
command -v xwd >/dev/null || fail "xwd is missing (scripts/setup.sh installs x11-apps)"

work=$(mktemp -d)
trap 'kill "${pid:-}" 2>/dev/null; rm -rf "$work"' EXIT
for d in data sound; do [ -d "$rundir/$d" ] && cp -r "$rundir/$d" "$work/"; done
cp "$program" "$work/pellorin"  # a copy beside its data keeps its files there
cd "$work" || fail "cannot enter $work"

# No sound anywhere: SDL picks its driver as on a player's machine; the sound servers' addresses lead
# nowhere and ALSA looks for a card no machine has.
no_sound=(PULSE_SERVER="unix:$work/no-server" PIPEWIRE_REMOTE="$work/no-server" ALSA_CARD=PellorinNoSuchCard)

# No display either: the display is missed first, in one line, status 1.
timeout 20 env -u SDL_AUDIODRIVER -u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER "${no_sound[@]}" "$work/pellorin" \
  >out.log 2>err.log
status=$?
[ "$status" = 1 ] || fail "no display, no sound: status $status, not 1"
[ "$(wc -l <err.log)" = 1 ] && grep -q '^pellorin: no display to open a window on: ' err.log ||
  fail "no display, no sound: standard error is not the one line about the display: $(cat err.log)"
[ -s out.log ] && fail "no display, no sound: something on standard output: $(cat out.log)"

# A display and no sound: one line, then a silent game.
env -u SDL_AUDIODRIVER "${no_sound[@]}" "$work/pellorin" >out.log 2>err.log &
pid=$!
find_window() { wid=$(xdotool search --pid "$pid" --name '^Pellorin$' 2>/dev/null | tail -1); [ -n "$wid" ]; }
wid=""
for _ in $(seq 1 100); do
  find_window && break
  kill -0 "$pid" 2>/dev/null || fail "the program ended early: $(cat err.log)"
  sleep 0.1
done
[ -n "$wid" ] || fail "no window titled Pellorin appeared"
sleep 1
line="pellorin: no sound device, the game plays without sound ("
[ "$(wc -l <err.log)" = 1 ] && grep -qF "$line" err.log ||
  fail "no sound: standard error is not the one line about the sound: $(cat err.log)"

# The menu is drawn: many colours, little black.
python3 - <(xwd -silent -id "$wid") <<'PY' || fail "the menu is not drawn without sound"
import struct, sys
data = open(sys.argv[1], "rb").read()
header_size, = struct.unpack(">I", data[0:4])
width, height = struct.unpack(">II", data[16:24])
bits_per_pixel, = struct.unpack(">I", data[44:48])
bytes_per_line, = struct.unpack(">I", data[48:52])
ncolors, = struct.unpack(">I", data[76:80])
pixels = data[header_size + 12 * ncolors:]
step = bits_per_pixel // 8
seen, dark, total = set(), 0, 0
for y in range(0, height, 7):
    row = pixels[y * bytes_per_line:(y + 1) * bytes_per_line]
    for x in range(0, width, 7):
        p = row[x * step:x * step + 3]
        seen.add(p)
        total += 1
        dark += p == b"\0\0\0"
sys.exit(0 if total > 0 and dark < total // 10 and len(seen) > 200 else 1)
PY

xdotool windowfocus --sync "$wid" 2>/dev/null
xdotool key --delay 150 Escape Return  # the quit question, "Yes"
for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$pid" 2>/dev/null && fail "the program did not end after the quit question"
wait "$pid"
status=$?
pid=""
[ "$status" = 0 ] || fail "no sound: the program ended with status $status"
[ "$(wc -l <err.log)" = 1 ] || fail "no sound: more on standard error by the end: $(cat err.log)"

# A game watched again without sound: the same one line, and Escape ends it with status 0.
env -u SDL_AUDIODRIVER "${no_sound[@]}" "$work/pellorin" --replay "$golden/loses-every-life.replay" --window \
  >out.log 2>replay-err.log &
pid=$!
wid=""
for _ in $(seq 1 100); do
  wid=$(xdotool search --pid "$pid" --name '^Pellorin replay$' 2>/dev/null | tail -1)
  [ -n "$wid" ] && break
  kill -0 "$pid" 2>/dev/null || fail "the replay ended early: $(cat replay-err.log)"
  sleep 0.1
done
[ -n "$wid" ] || fail "no window titled 'Pellorin replay' appeared"
sleep 1
[ "$(wc -l <replay-err.log)" = 1 ] && grep -qF "$line" replay-err.log ||
  fail "a replay without sound: standard error is not the one line about the sound: $(cat replay-err.log)"
xdotool windowfocus --sync "$wid" 2>/dev/null
xdotool key Escape
for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$pid" 2>/dev/null && fail "Escape did not end the replay"
wait "$pid"
status=$?
pid=""
[ "$status" = 0 ] || fail "a replay without sound ended with status $status"
echo "quiet start test: no display and no sound: status 1, one line; no sound: one line" \
  "($(cat err.log)), the menu drawn, status 0; a replay without sound: the same line, status 0"
