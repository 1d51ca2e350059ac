#!/usr/bin/env bash
# The menu in the real window: from a fresh start the main menu is drawn over the background, the
# options screen is reached and left with the keyboard, a sound switch toggled and a country typed there
# are in config.dat, and Escape then Enter (the quit question answered "Yes") ends the program with
# status 0.
# Needs an X display (test.sh runs it under xvfb-run), xdotool and xwd.
# shellcheck source=SCRIPTDIR/window_lib.sh
. "$(dirname "$0")/window_lib.sh" "menu window test"
program=$1
rundir=$2
window_need_display
window_need xdotool xwd python3

work=$(mktemp -d)
trap 'kill "${pid:-}" 2>/dev/null; rm -rf "$work"' EXIT
window_copy_game "$work"
cd "$work"
SDL_AUDIODRIVER=dummy "$work/pellorin" >"$work/out.log" 2>&1 &
pid=$!
window_wait '^Pellorin$' "$work/out.log"
for _ in $(seq 1 50); do [ -f config.dat ] && break; sleep 0.1; done

# The picture: the menu background with its entries. The first frames may still be on their way, so
# look a few times.
drawn=""
for _ in $(seq 1 10); do
  window_find '^Pellorin$' && xwd -silent -id "$wid" >shot.xwd 2>/dev/null && window_drawn shot.xwd && { drawn=1; break; }
  sleep 0.5
done
[ -n "$drawn" ] || fail "the main menu is not drawn"

keys() { window_find '^Pellorin$'; xdotool windowfocus --sync "$wid" 2>/dev/null; xdotool key --delay 150 "$@"; sleep 0.5; }
keys Down Return            # "Options"
keys Down Down Return       # "Sound:" switched off, written at once
sound=$(od -An -tx1 -j2 -N1 config.dat | tr -d ' \n')
[ "$sound" = 01 ] || fail "the sound switch is not in config.dat (byte $sound)"
keys Down Return            # "Your Country:" edited
xdotool type --delay 150 'Ab1'
sleep 0.5
keys Escape                 # back to the main menu, the country written
country=$(od -An -tx1 -j6 -N4 config.dat | tr -d ' \n')
[ "$country" = 03be9dce ] || fail "the typed country is not in config.dat (bytes $country)"
keys Escape Return          # the quit question, "Yes"
window_wait_end || fail "the program did not end after the quit question"
[ "$status" = 0 ] || fail "the program ended with status $status"
echo "menu window test: menu drawn, options reached and left, sound switch and country stored, quit with status 0"
