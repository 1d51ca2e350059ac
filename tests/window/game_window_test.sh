#!/usr/bin/env bash
# A game in the real window: Enter on the main menu starts a game whose frames change as the mountains
# scroll, holding the fire key puts the hero's tracer bullets on the screen, and Escape then Enter (the
# exit question answered "Yes") ends the game through "Game over" back in the menu, from which the quit
# question ends the program with status 0 (under the sanitizers: no error and no leak). The sound goes to
# a private PulseAudio server (pulse_sink.sh): the menu's music is heard, then the game's, and the hero's
# shots peak well over the music.
# Needs an X display (test.sh runs it under xvfb-run), xdotool, xwd, python3, pulseaudio and parec.
set -u
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=SCRIPTDIR/pulse_sink.sh
. "$here/pulse_sink.sh"
program=$1
rundir=$2
fail() { echo "game window test: $*" >&2; [ -n "${pid:-}" ] && kill "$pid" 2>/dev/null; [ -f "${work:-}/out.log" ] && cat "$work/out.log" >&2; exit 1; }
[ -n "${DISPLAY:-}" ] || fail "no DISPLAY; run it under xvfb-run"
command -v xdotool >/dev/null || fail "xdotool is missing (scripts/setup.sh installs it)"
command -v xwd >/dev/null || fail "xwd is missing (scripts/setup.sh installs x11-apps)"

work=$(mktemp -d)
trap 'kill "${pid:-}" 2>/dev/null; pulse_stop; rm -rf "$work"' EXIT
pulse_start "$work/pulse" || fail "no sound server to listen with"
pulse_record "$work/sound.raw" || fail "the sound server's monitor cannot be recorded"
for d in data sound; do [ -d "$rundir/$d" ] && cp -r "$rundir/$d" "$work/"; done
cp "$program" "$work/pellorin"  # a copy beside its data keeps its files there
cd "$work"
# config.dat: a window, music and sound on, F12 as boss key, no country, and a local table of ten
# scores of 65535 (stored inverted as 0), so that no score of this short game places and "Game over"
# leads straight back to the menu.
python3 -c '
import sys
sys.stdout.buffer.write(bytes([0, 0, 0, 0, 0x7b, 0]) + bytes(12) + bytes(14) * 10)' >config.dat
"$work/pellorin" >"$work/out.log" 2>&1 &
pid=$!

find_window() { wid=$(xdotool search --pid "$pid" --name '^Pellorin$' 2>/dev/null | tail -1); [ -n "$wid" ]; }
wid=""
for _ in $(seq 1 100); do
  find_window && break
  kill -0 "$pid" 2>/dev/null || fail "the program ended early"
  sleep 0.1
done
[ -n "$wid" ] || fail "no window titled Pellorin appeared"
menu=$(pulse_mark)
sleep 1
# heard WHAT FROM TO: sets level to "RMS PEAK" in dBFS, kept for the summary.
levels=""
heard() {
  level=$(pulse_heard "$2" "$3") || fail "$1 is not heard: RMS and peak $level dBFS"
  levels+="; $1 $level"
}
heard "the menu's music" "$menu" "$(pulse_mark)"

shot() { find_window && xwd -silent -id "$wid" >"$1" 2>/dev/null; }
# measure.py FILE...: for each screenshot the number of tracer pixels (the pale yellow of the bullet's core)
# right of the hero on the line its shots fly along (the hero waits at y 200, 40 pixels high; enemies fire
# the same bullets, but seldom along that line), and a digest of the landscape below the status bar.
# measure.py --rows FILE: the rows of the whole field that hold tracer pixels, and how many each.
cat >measure.py <<'PY'
import hashlib, struct, sys
by_rows = sys.argv[1] == "--rows"
for name in sys.argv[1 + by_rows:]:
    data = open(name, "rb").read()
    header_size, = struct.unpack(">I", data[0:4])
    width, height = struct.unpack(">II", data[16:24])
    bits_per_pixel, = struct.unpack(">I", data[44:48])
    bytes_per_line, = struct.unpack(">I", data[48:52])
    ncolors, = struct.unpack(">I", data[76:80])
    pixels = data[header_size + 12 * ncolors:]
    step = bits_per_pixel // 8
    tracer, land, rows = 0, hashlib.sha1(), {}
    for y in range(40, min(height, 600)):
        row = pixels[y * bytes_per_line:(y + 1) * bytes_per_line]
        land.update(row[:800 * step])
        if not by_rows and not 216 <= y < 228:
            continue
        for x in range(0 if by_rows else 120, min(width, 800)):
            b, g, r = row[x * step], row[x * step + 1], row[x * step + 2]
            if r == 0xff and g == 0xed and b in (0xad, 0xae):
                tracer += 1
                rows[y] = rows.get(y, 0) + 1
    print(sorted(rows.items()) if by_rows else f"{tracer} {land.hexdigest()[:12]}")
PY

keys() { find_window; xdotool windowfocus --sync "$wid" 2>/dev/null; xdotool key --delay 150 "$@"; sleep 0.3; }
keys Return                 # "Start game"
started=$(pulse_mark)
sleep 1.2                   # "Level 1" for 1.5 s: the game's music alone
heard "the music under \"Level 1\"" "$started" "$(pulse_mark)"
music=${level#* }
sleep 1.3                   # then play
kill -0 "$pid" 2>/dev/null || fail "the program ended when the game started"
shot a.xwd && sleep 0.4 && shot b.xwd || fail "no screenshot of the game"
read -r tracer_a land_a < <(python3 measure.py a.xwd)
read -r tracer_b land_b < <(python3 measure.py b.xwd)
[ "$land_a" != "$land_b" ] || fail "the field does not move: two frames 0.4 s apart are the same"

# Fire held for up to 2 s: a few shots on the hero's line in one of the screenshots taken meanwhile.
# Once more if none showed: a slow start (the sanitizer build) may lose the first key to a focus change.
firing=$(pulse_mark)
tracer_c=0
for attempt in 1 2; do
  find_window; xdotool windowfocus --sync "$wid" 2>/dev/null
  xdotool keydown space
  for n in 1 2 3 4 5; do
    sleep 0.4
    shot c.xwd || continue
    read -r tracer _ < <(python3 measure.py c.xwd)
    [ "$tracer" -gt "$tracer_c" ] && tracer_c=$tracer
    [ "$tracer_c" -ge $((tracer_a + 12)) ] && break
  done
  xdotool keyup space
  [ "$tracer_c" -ge $((tracer_a + 12)) ] && break
  echo "game window test: no shots on the hero's line in attempt $attempt; tracer pixels by row:" \
    "$(python3 measure.py --rows c.xwd)" >&2
done
heard "the fire held" "$firing" "$(pulse_mark)"
[ "$tracer_c" -ge $((tracer_a + 12)) ] || fail "holding fire shows no shots ($tracer_a tracer pixels before, $tracer_c after)"
# A shot peaks near full scale, the music well under it: one shot heard makes the peak 6 dB higher.
awk -v a="${level#* }" -v m="$music" 'BEGIN { exit !(a >= m + 6) }' ||
  fail "the shots are not heard: the fire held peaks at ${level#* } dBFS, the music alone at $music"

keys Escape Return          # "Exit the game?" "Yes": "Game over", then the menu
sleep 2.5
kill -0 "$pid" 2>/dev/null || fail "the program ended instead of going back to the menu"
keys Down Down Down Down Down Return   # "Exit", then the quit question's "Yes"
keys Return
for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$pid" 2>/dev/null && fail "the program did not end after the quit question: the menu did not come back"
wait "$pid"
status=$?
pid=""
[ "$status" = 0 ] || fail "the program ended with status $status"
grep -q 'ERROR: \(Address\|Leak\)Sanitizer\|runtime error' out.log && fail "the sanitizers reported a fault"
echo "game window test: the field moves, fire shows $tracer_c tracer pixels, Escape and Yes led back to the menu," \
  "status 0; sound: RMS and peak in dBFS$levels"
