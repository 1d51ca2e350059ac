#!/usr/bin/env bash
# A game in the real window: Enter on the main menu starts a game whose frames change as the mountains
# scroll, holding the fire key puts the hero's tracer bullets on the screen, and Escape then Enter (the
# exit question answered "Yes") ends the game through "Game over" back in the menu. A second game is
# then played busily for 30 s (fire held, bombs dropped, the hero steered) before the quit question ends
# the program with status 0 (under the sanitizers: no error and no leak). The sound goes to a private
# PulseAudio server (pulse_sink.sh): the menu's music is heard, then the game's, the hero's shots peak
# well over the music, and no sample of the whole recording is clipped (the busy game's peak stays at
# -0.3 dBFS or under).
# Needs an X display (test.sh runs it under xvfb-run), xdotool, xwd, python3, pulseaudio and parec.
# shellcheck source=SCRIPTDIR/window_lib.sh
. "$(dirname "$0")/window_lib.sh" "game window test"
# shellcheck source=SCRIPTDIR/pulse_sink.sh
. "$here/pulse_sink.sh"
program=$1
rundir=$2
window_need_display
window_need xdotool xwd python3 pulseaudio parec

work=$(mktemp -d)
trap 'kill "${pid:-}" 2>/dev/null; pulse_stop; rm -rf "$work"' EXIT
pulse_start "$work/pulse" || fail "no sound server to listen with"
pulse_record "$work/sound.raw" || fail "the sound server's monitor cannot be recorded"
window_copy_game "$work"
cd "$work"
# config.dat: a window, music and sound on, F12 as boss key, no country, and a local table of ten
# scores of 65535 (stored inverted as 0), so that no score of this short game places and "Game over"
# leads straight back to the menu.
window_config_dat window zeros >config.dat
"$work/pellorin" >"$work/out.log" 2>&1 &
pid=$!

find_window() { window_find '^Pellorin$'; }
window_wait '^Pellorin$'
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
# the same bullets, but seldom along that line), the number of pure red pixels where "Level 1" stands
# while the level is announced, and a digest of the landscape below the status bar.
cat >measure.py <<'PY'
import hashlib, sys, xwd
for name in sys.argv[1:]:
    shot = xwd.read(name)
    width, height = shot.width, shot.height
    tracer, red, land = 0, 0, hashlib.sha1()
    for y in range(40, min(height, 600)):
        land.update(shot.row(y)[:800 * shot.step])
        if 216 <= y < 228:
            for x in range(120, min(width, 800)):
                b, g, r = shot.pixel(x, y)
                tracer += r == 0xff and g == 0xed and b in (0xad, 0xae)
        if 270 <= y < 330:
            for x in range(300, min(width, 560)):
                red += shot.pixel(x, y) == b"\0\0\xff"
    print(tracer, red, land.hexdigest()[:12])
PY

keys() { find_window; xdotool windowfocus --sync "$wid" 2>/dev/null; xdotool key --delay 150 "$@"; sleep 0.3; }
# Play begins when "Level 1" leaves the screen. The announcement lasts 1.5 s of the game's ticks, which a
# slow machine (the sanitizer build) stretches, so it is watched for rather than timed.
wait_for_play() {
  local _ red
  for _ in $(seq 1 60); do
    shot play.xwd && read -r _ red _ < <(window_python measure.py play.xwd) && [ "$red" = 0 ] && return 0
    kill -0 "$pid" 2>/dev/null || fail "the program ended in the level's announcement"
    sleep 0.25
  done
  fail "\"Level 1\" was still on the screen 15 s after the game started"
}

keys Return                 # "Start game"
started=$(pulse_mark)
sleep 1.2                   # "Level 1": the game's music alone
heard "the music under \"Level 1\"" "$started" "$(pulse_mark)"
music=${level#* }
wait_for_play
shot a.xwd && sleep 0.4 && shot b.xwd || fail "no screenshot of the game"
read -r tracer_a _ land_a < <(window_python measure.py a.xwd)
read -r _ _ land_b < <(window_python measure.py b.xwd)
[ "$land_a" != "$land_b" ] || fail "the field does not move: two frames 0.4 s apart are the same"

# Fire held until a few shots show on the hero's line, looked at 15 times 0.4 s apart (over 6 s): an
# enemy may have shot the hero down just before, and the next hero comes about 3 s later.
firing=$(pulse_mark)
tracer_c=0
find_window; xdotool windowfocus --sync "$wid" 2>/dev/null
xdotool keydown space
for _ in $(seq 1 15); do
  sleep 0.4
  shot c.xwd || continue
  read -r tracer _ < <(window_python measure.py c.xwd)
  [ "$tracer" -gt "$tracer_c" ] && tracer_c=$tracer
  [ "$tracer_c" -ge $((tracer_a + 12)) ] && break
done
xdotool keyup space
heard "the fire held" "$firing" "$(pulse_mark)"
[ "$tracer_c" -ge $((tracer_a + 12)) ] || fail "holding fire shows no shots ($tracer_a tracer pixels before, $tracer_c after)"
# A shot peaks near full scale, the music well under it: one shot heard makes the peak 6 dB higher.
awk -v a="${level#* }" -v m="$music" 'BEGIN { exit !(a >= m + 6) }' ||
  fail "the shots are not heard: the fire held peaks at ${level#* } dBFS, the music alone at $music"

keys Escape Return          # "Exit the game?" "Yes": "Game over", then the menu
sleep 2.5
kill -0 "$pid" 2>/dev/null || fail "the program ended instead of going back to the menu"

# A busy game: fire held, a bomb asked for every second, the hero steered up and down, for 30 s of
# shots, hits and explosions over the music. The game may end on its own meanwhile (then the menu plays).
keys Return                 # "Start game"
wait_for_play
busy=$(pulse_mark)
find_window; xdotool windowfocus --sync "$wid" 2>/dev/null
xdotool keydown space
for n in $(seq 1 30); do
  if [ $((n % 2)) = 0 ]; then steer=Up; else steer=Down; fi
  xdotool keydown "$steer" shift; sleep 0.3; xdotool keyup "$steer" shift
  sleep 0.7
done
xdotool keyup space
busy_level=$(pulse_clipped "$busy" "$(pulse_mark)")
read -r busy_clipped busy_peak <<<"$busy_level"
levels+="; the busy game: $busy_clipped clipped, peak $busy_peak"
[ "$busy_clipped" = 0 ] || fail "the busy game clips $busy_clipped samples of 30 s (peak $busy_peak dBFS)"
awk -v p="$busy_peak" 'BEGIN { exit !(p <= -0.3) }' || fail "the busy game peaks at $busy_peak dBFS, over -0.3"

# Out of the game (if it still runs: "Exit the game?" "Yes", "Game over"), then "Exit" and "Yes" in the menu.
# Keys are passed by over "Game over" (a game that ended on its own just then, drawn slowly by the
# sanitizer build): then they go again.
for _ in 1 2 3; do
  keys Escape Return
  sleep 2.5
  if kill -0 "$pid" 2>/dev/null; then
    keys Down Down Down Down Down Return
    keys Return
  fi
  window_wait_end 50 && break
done
[ -z "$pid" ] || fail "the program did not end after the quit question: the menu did not come back"
[ "$status" = 0 ] || fail "the program ended with status $status"
grep -q 'ERROR: \(Address\|Leak\)Sanitizer\|runtime error' out.log && fail "the sanitizers reported a fault"
grep -q 'no sound device\|ALSA lib' out.log && fail "with a sound server the program still speaks of the sound: $(cat out.log)"
read -r clipped peak < <(pulse_clipped 0)
[ "$clipped" = 0 ] || fail "$clipped samples of the whole recording are clipped (peak $peak dBFS)"
echo "game window test: the field moves, fire shows $tracer_c tracer pixels, Escape and Yes led back to the menu," \
  "status 0; sound: RMS and peak in dBFS$levels; the whole recording: $clipped clipped, peak $peak"
