#!/usr/bin/env bash
# Starts on a machine without a sound device (no sound server to reach, no sound card of the name ALSA
# is told to use): with no display either, the program says so in one line on standard error and ends
# with status 1; with a display it says in one line that it plays without sound -- and nothing more, none
# of the sound libraries' own complaints -- then runs silently: the menu is drawn, and the quit question
# ends it with status 0. A game watched again (--replay) says the same one line and plays silently.
# Needs an X display (test.sh runs it under xvfb-run), xdotool and xwd.
# shellcheck source=SCRIPTDIR/window_lib.sh
. "$(dirname "$0")/window_lib.sh" "quiet start test"
program=$1
rundir=$2
golden=$3
window_need_display
window_need xdotool xwd python3

work=$(mktemp -d)
trap 'kill "${pid:-}" 2>/dev/null; rm -rf "$work"' EXIT
window_copy_game "$work"
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

# A display and no sound: one line, then a silent game. A display that has just lost its last client
# resets and refuses for a moment: a start that finds no display goes again.
for _ in 1 2 3; do
  env -u SDL_AUDIODRIVER "${no_sound[@]}" "$work/pellorin" >out.log 2>err.log &
  pid=$!
  sleep 0.5
  kill -0 "$pid" 2>/dev/null || ! grep -q 'no display to open a window on' err.log && break
  wait "$pid"
done
window_wait '^Pellorin$' err.log
sleep 1
line="pellorin: no sound device, the game plays without sound ("
[ "$(wc -l <err.log)" = 1 ] && grep -qF "$line" err.log ||
  fail "no sound: standard error is not the one line about the sound: $(cat err.log)"

# The menu is drawn.
xwd -silent -id "$wid" >menu.xwd 2>/dev/null && window_drawn menu.xwd >/dev/null || fail "the menu is not drawn without sound"

xdotool windowfocus --sync "$wid" 2>/dev/null
xdotool key --delay 150 Escape Return  # the quit question, "Yes"
window_wait_end || fail "the program did not end after the quit question"
[ "$status" = 0 ] || fail "no sound: the program ended with status $status"
[ "$(wc -l <err.log)" = 1 ] || fail "no sound: more on standard error by the end: $(cat err.log)"

# A game watched again without sound: the same one line, and Escape ends it with status 0.
env -u SDL_AUDIODRIVER "${no_sound[@]}" "$work/pellorin" --replay "$golden/loses-every-life.replay" --window \
  >out.log 2>replay-err.log &
pid=$!
window_wait '^Pellorin replay$' replay-err.log
sleep 1
[ "$(wc -l <replay-err.log)" = 1 ] && grep -qF "$line" replay-err.log ||
  fail "a replay without sound: standard error is not the one line about the sound: $(cat replay-err.log)"
xdotool windowfocus --sync "$wid" 2>/dev/null
xdotool key Escape
window_wait_end || fail "Escape did not end the replay"
[ "$status" = 0 ] || fail "a replay without sound ended with status $status"
echo "quiet start test: no display and no sound: status 1, one line; no sound: one line" \
  "($(cat err.log)), the menu drawn, status 0; a replay without sound: the same line, status 0"
