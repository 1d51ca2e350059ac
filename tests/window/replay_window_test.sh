#!/usr/bin/env bash
# A game played back in the real window. Left alone, `pellorin --replay FILE --window` shows the game
# moving in an 800 x 600 window (though config.dat asks for full screen), with a "Replay" caption; once
# the game's ticks have run at 60 a second its last frame stays until a key, which ends it with status 0.
# `pellorin --replay` plays the best kept game full screen, as config.dat says; P stops the picture
# until P again, and Escape ends the playback early with status 0.
# config.dat and the replays folder stay byte for byte as they were, and are not even rewritten.
# The sound goes to a private PulseAudio server (pulse_sink.sh): the music is heard under "Level 1", the
# effects join it once the hero flies (peaks well over the music's), the pause is silent once the effects
# already playing have died away, and the sound is back after it.
# Needs an X display (test.sh runs it under xvfb-run), xdotool, xwd, xwininfo, xprop, python3, pulseaudio
# and parec and, when the display has no window manager, openbox: without one a window cannot go full
# screen.
# Usage: replay_window_test.sh PELLORIN RUN_DIR GOLDEN_DIR
# shellcheck source=SCRIPTDIR/window_lib.sh
. "$(dirname "$0")/window_lib.sh" "replay window test"
# shellcheck source=SCRIPTDIR/pulse_sink.sh
. "$here/pulse_sink.sh"
program=$1
rundir=$2
golden=$3
window_need_display
window_need xdotool xwd xwininfo xprop python3 pulseaudio parec

work=$(mktemp -d)
trap 'kill "${pid:-}" ${wm:-} 2>/dev/null; pulse_stop; rm -rf "$work"' EXIT
has_wm() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }
if ! has_wm; then
  window_need openbox
  # Tried again: a display that has just lost its last client resets and refuses for a moment.
  for _ in 1 2 3 4 5; do
    openbox --sm-disable >"$work/openbox.log" 2>&1 &
    wm=$!
    for _ in $(seq 1 50); do
      has_wm && break
      kill -0 "$wm" 2>/dev/null || break
      sleep 0.1
    done
    has_wm && break
    sleep 0.5
  done
  has_wm || fail "openbox did not start: $(cat "$work/openbox.log")"
fi
pulse_start "$work/pulse" || fail "no sound server to listen with"
pulse_record "$work/sound.raw" || fail "the sound server's monitor cannot be recorded"
game=$work/game
window_copy_game "$game"
cd "$game" || fail "cannot enter $game"

# config.dat: full screen (the first byte is the mode XOR 1), music and sound on, F12 as boss key, then
# varied bytes for the country and the table.
window_config_dat full-screen varied >config.dat
mkdir replays
short=$golden/loses-every-life.replay
# The best kept game: the highest score, the older of equal scores. The others are no replays, so a
# playback that took one would end at once with status 2.
cp "$short" replays/00412-20240102-120000.replay
for name in 00412-20240105-120000.replay 00130-20231231-120000.replay last.replay; do
  echo "not this one" >"replays/$name"
done
# Contents, and the inode and time of each file: a rewrite with the same bytes is a write too.
# shellcheck disable=SC2016  # the inner script expands its own variables
sums() { find config.dat replays -type f -print0 | sort -z | xargs -0 sh -c 'for f; do echo "$(sha1sum <"$f") $(stat -c "%i %y" "$f") $f"; done' sh; }
before=$(sums)

ticks=$("$game/pellorin" --verify-replay "$short" | sed -n 's/.*"recorded":{"ticks":\([0-9]*\),.*/\1/p')
[ -n "$ticks" ] || fail "--verify-replay did not give the ticks of $short"
length_ms=$((ticks * 16))

now_ms() { date +%s%3N; }
start() {  # start ARGS...: the playback, its window (wid) and the time it started
  started=$(now_ms)
  "$game/pellorin" "$@" >"$work/out.log" 2>&1 &
  pid=$!
  window_wait '^Pellorin replay$' "$work/out.log"
  sleep 0.5
  shown=$(pulse_mark)
}
# heard WHAT FROM [TO]: the recording between two marks holds sound.
# Each stretch's RMS and peak in dBFS go into the summary.
levels=""
heard() {  # heard WHAT FROM TO: sets level to "RMS PEAK"
  level=$(pulse_heard "$2" "$3") || fail "$1 is not heard: RMS and peak $level dBFS"
  levels+="; $1 $level"
}
size() { xwininfo -id "$1" | awk '/Width:/ {w = $2} /Height:/ {h = $2} END {print w "x" h}'; }
shot() { xwd -silent -id "$wid" >"$work/$1" 2>/dev/null || fail "no screenshot of the playback"; }
key() { xdotool windowfocus --sync "$wid" 2>/dev/null; xdotool key "$1"; }
finish() {  # finish WITHIN_MS: waits for the end; sets status and elapsed (ms since start)
  local limit=$(($(now_ms) + $1))
  while kill -0 "$pid" 2>/dev/null && [ "$(now_ms)" -lt "$limit" ]; do sleep 0.1; done
  kill -0 "$pid" 2>/dev/null && fail "the playback was still running $1 ms later"
  elapsed=$(($(now_ms) - started))
  wait "$pid"
  status=$?
  pid=""
  [ "$status" = 0 ] || fail "the playback ended with status $status"
  grep -q 'ERROR: \(Address\|Leak\)Sanitizer\|runtime error' "$work/out.log" && fail "the sanitizers reported a fault"
}

# Left alone, in the window --window asks for.
start --replay "$short" --window
[ "$(size "$wid")" = 800x600 ] || fail "--window: the playback's window is $(size "$wid"), not 800x600"
sleep 0.7
heard "the music under \"Level 1\"" "$shown" "$(pulse_mark)"
music=${level#* }
sleep 1.3  # "Level 1" stands still for 1.5 s
shot a.xwd
played=$(pulse_mark)
sleep 0.5
shot b.xwd
cmp -s "$work/a.xwd" "$work/b.xwd" && fail "the game does not move: two frames 0.5 s apart are the same"
sleep 1.5
heard "the first 2 s of flight" "$played" "$(pulse_mark)"
# The hero fires all along; a shot or a hit peaks near full scale, the music well under it.
awk -v a="${level#* }" -v m="$music" 'BEGIN { exit !(a >= m + 6) }' ||
  fail "no sound effects are heard: the flight peaks at ${level#* } dBFS, the music alone at $music"
# The end: "Game over" stands still for 1.5 s, then the caption changes and the last frame stays. A
# picture unchanged for 2.5 s is that held frame.
limit=$(($(now_ms) + length_ms * 2 + 10000))
shot e.xwd
steady=$(now_ms)
while [ $(($(now_ms) - steady)) -lt 2500 ]; do
  [ "$(now_ms)" -lt "$limit" ] || fail "the playback's picture never stood still for its end"
  kill -0 "$pid" 2>/dev/null || fail "the playback ended by itself instead of holding its last frame"
  sleep 0.5
  mv "$work/e.xwd" "$work/e0.xwd"
  shot e.xwd
  cmp -s "$work/e0.xwd" "$work/e.xwd" || steady=$(now_ms)
done
held=$(($(now_ms) - started - 2500))
# The game's own pace: no sooner than its ticks take at 16 ms.
[ "$held" -ge $((length_ms - 500)) ] ||
  fail "the playback of $ticks ticks ended after $held ms, sooner than $length_ms ms"
# The "Replay" caption at the bottom left: white, which the game's frame does not have there.
window_python - "$work/e.xwd" <<'PY' || fail "no caption at the bottom left of the held frame"
import sys, xwd
shot = xwd.read(sys.argv[1])
white = sum(shot.pixel(x, y) == b"\xff\xff\xff" for y in range(570, 596) for x in range(5, 300))
sys.exit(0 if white > 40 else 1)
PY
key space
finish 3000
alone=$held

# The best kept game, full screen as config.dat says; paused, resumed, then ended early.
start --replay
sleep 2
root=$(xwininfo -root | awk '/Width:/ {w = $2} /Height:/ {h = $2} END {print w "x" h}')
[ "$(size "$wid")" = "$root" ] || fail "config.dat's full screen: the window is $(size "$wid"), not $root"
heard "the full-screen playback before P" "$shown" "$(pulse_mark)"
key p
sleep 0.5
shot p1.xwd
sleep 1.2  # the longest sound effect dies away within 1.7 s
hush=$(pulse_mark)
sleep 0.8
level=$(pulse_quiet "$hush" "$(pulse_mark)") ||
  fail "the pause is not silent: RMS and peak $level dBFS from 1.7 s after P"
levels+="; the pause $level"
shot p2.xwd
cmp -s "$work/p1.xwd" "$work/p2.xwd" || fail "P did not stop the playback: the picture changed while paused"
key p
resumed=$(pulse_mark)
sleep 0.5
heard "the music after P again" "$resumed" "$(pulse_mark)"
shot r.xwd
cmp -s "$work/p2.xwd" "$work/r.xwd" && fail "P again did not go on: the picture stayed as it was"
key Escape
finish 3000
[ "$elapsed" -lt "$length_ms" ] || fail "Escape did not end the playback early ($elapsed ms)"

[ "$(sums)" = "$before" ] || fail "playback changed config.dat or the replays folder:
$(diff <(echo "$before") <(sums))"
# No game kept: the desktop's "Watch your best game" says so in a message box, which Return closes.
mv replays replays.kept
"$game/pellorin" --replay >"$work/out.log" 2>&1 &
pid=$!
box=""
for _ in $(seq 1 100); do
  # SDL's message box carries no process id, and xdotool's search passes it by; xwininfo sees it.
  box=$(xwininfo -root -tree | awk '/"Pellorin": / {print $1}' | tail -1)
  [ -n "$box" ] && break
  kill -0 "$pid" 2>/dev/null || fail "with no game kept, --replay ended without a message box"
  sleep 0.1
done
[ -n "$box" ] || fail "with no game kept, --replay showed no message box titled Pellorin"
xdotool windowfocus --sync "$box" 2>/dev/null
xdotool key Return
window_wait_end || fail "Return did not close the message box"
[ "$status" = 2 ] || fail "with no game kept, --replay ended with status $status, not 2"
grep -q "^No kept replay in $game/replays\.\$" "$work/out.log" || fail "with no game kept, standard error does not say so"
echo "replay window test: $ticks ticks played alone in $alone ms (at least $length_ms), the last frame held until a key, P held the picture," \
  "Escape ended it after $elapsed ms, config.dat and replays/ unchanged, no kept game said in a message box;" \
  "sound: RMS and peak in dBFS$levels"
