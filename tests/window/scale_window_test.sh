#!/usr/bin/env bash
# The window scales the 800 x 600 picture. On a desktop of 2048 x 1536 (an X server of its own, with a
# window manager) the first start opens at twice the picture's size, pixel for pixel. Resized to
# 1000 x 900, the picture fills the width with its aspect kept, black bars above and below, and the mouse
# works in the scaled picture: a click on "Options", then on "Sound:", switches the sound off in
# config.dat. Alt+Enter goes full screen (the picture filling the screen) and back to 1000 x 900, and a
# restart opens at 1000 x 900 again, as window.txt beside config.dat remembers. Maximised, the window
# grows to the desktop with the picture in it (and does not go full screen); a restart opens maximised
# again, and the window comes back to 1000 x 900 when it is no longer maximised.
# Needs Xvfb, openbox, wmctrl, xdotool, xwd, xwininfo, xprop and python3. It runs its own X server, so the display it
# is started on (if any) plays no part.
# shellcheck source=SCRIPTDIR/window_lib.sh
. "$(dirname "$0")/window_lib.sh" "scale window test"
program=$1
rundir=$2
window_need Xvfb openbox wmctrl xdotool xwd xwininfo xprop python3

work=$(mktemp -d)
trap 'kill ${pid:-} ${wm:-} ${xserver:-} 2>/dev/null; rm -rf "$work"' EXIT
# The server picks a free display and writes its number to the descriptor given.
Xvfb -displayfd 3 -screen 0 2048x1536x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xserver=$!
for _ in $(seq 1 100); do [ -s "$work/display" ] && break; sleep 0.05; done
[ -s "$work/display" ] || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=":$(head -n 1 "$work/display")"
unset WAYLAND_DISPLAY SDL_VIDEODRIVER
openbox --sm-disable >"$work/openbox.log" 2>&1 &
wm=$!
has_wm() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }
for _ in $(seq 1 100); do has_wm && break; sleep 0.05; done
has_wm || fail "openbox did not start: $(cat "$work/openbox.log")"

game=$work/game
window_copy_game "$game"
cd "$game" || fail "cannot enter $game"

start() {
  SDL_AUDIODRIVER=dummy "$game/pellorin" >"$work/out.log" 2>&1 &
  pid=$!
  window_wait '^Pellorin$'
  sleep 1
}
quit() {  # from the main menu: the quit question, "Yes"
  keys Escape Return
  window_wait_end || fail "the program did not end after the quit question"
  [ "$status" = 0 ] || fail "the program ended with status $status"
}
size() { xwininfo -id "$wid" | awk '/Width:/ {w = $2} /Height:/ {h = $2} END {print w "x" h}'; }
wait_size() {  # wait_size WxH: the window reaches that size within 3 s
  for _ in $(seq 1 30); do [ "$(size)" = "$1" ] && return 0; sleep 0.1; done
  fail "the window is $(size), not $1"
}
keys() { xdotool windowfocus --sync "$wid" 2>/dev/null; xdotool key --delay 150 "$@"; sleep 0.5; }
# Alt held while Enter goes down and up, as a player does it.
alt_enter() { xdotool windowfocus --sync "$wid" 2>/dev/null; xdotool keydown alt; sleep 0.1; xdotool key Return; sleep 0.1; xdotool keyup alt; }
# The pointer goes to the screen's corner first, where it lights no menu item up.
shot() { xdotool mousemove 0 0; sleep 0.5; xwd -silent -id "$wid" >"$work/$1" 2>/dev/null || fail "no screenshot"; }

# picture.py REFERENCE SHOT: where the picture stands in SHOT (the box of pixels that are not black)
# and how it compares with REFERENCE, an 800 x 600 screenshot of the same screen: at the centre of each
# picture pixel scaled into the box, the largest difference of a colour channel. Prints the box, then
# the median and the 95th percentile of those differences, and the share of pixel blocks that are whole
# squares of one colour when the box is a whole multiple.
cat >"$work/picture.py" <<'PY'
import sys, xwd
ref = xwd.read(sys.argv[1]).pixel
screenshot = xwd.read(sys.argv[2])
width, height, shot = screenshot.width, screenshot.height, screenshot.pixel
black = b"\0\0\0"
rows = [y for y in range(height) if any(shot(x, y) != black for x in range(0, width, 3))]
cols = [x for x in range(width) if any(shot(x, y) != black for y in range(0, height, 3))]
left, top, right, bottom = cols[0], rows[0], cols[-1] + 1, rows[-1] + 1
sx, sy = (right - left) / 800, (bottom - top) / 600
diffs = []
for y in range(1, 600, 4):
    for x in range(1, 800, 4):
        a, b = ref(x, y), shot(left + int((x + 0.5) * sx), top + int((y + 0.5) * sy))
        diffs.append(max(abs(a[i] - b[i]) for i in range(3)))
diffs.sort()
square = 0
k = (right - left) // 800
if k * 800 == right - left:
    for y in range(0, 600, 5):
        for x in range(0, 800, 5):
            block = {shot(left + k * x + i, top + k * y + j) for i in range(k) for j in range(k)}
            square += len(block) == 1
print(left, top, right, bottom, diffs[len(diffs) // 2], diffs[len(diffs) * 95 // 100],
      "%.3f" % (square / (120 * 160)))
PY
# picture SHOT: sets box (LEFT TOP RIGHT BOTTOM), median, p95 and squares from picture.py
picture() {
  read -r b_left b_top b_right b_bottom median p95 squares < <(window_python "$work/picture.py" "$work/ref.xwd" "$work/$1")
  box="$b_left $b_top $b_right $b_bottom"
}

# First start: twice the picture's size, which fits the 2048 x 1536 desktop with room for the frame.
start
wait_size 1600x1200
xdotool windowsize "$wid" 800 600
wait_size 800x600
shot ref.xwd
xdotool windowsize "$wid" 1600 1200
wait_size 1600x1200
shot big.xwd
picture big.xwd
[ "$box" = "0 0 1600 1200" ] || fail "at 1600 x 1200 the picture stands in $box, not the whole window"
[ "$median" = 0 ] && [ "$p95" = 0 ] || fail "at 1600 x 1200 the picture differs from the 800 x 600 one (median $median, 95% $p95)"
awk -v s="$squares" 'BEGIN { exit !(s >= 0.999) }' || fail "at 1600 x 1200 only a share $squares of the pixels are sharp 2 x 2 squares"

# 1000 x 900: the width filled, 750 rows of picture, bars of 75 rows above and below.
xdotool windowsize "$wid" 1000 900
wait_size 1000x900
shot mid.xwd
picture mid.xwd
mid_median=$median mid_p95=$p95
[ "$box" = "0 75 1000 825" ] || fail "at 1000 x 900 the picture stands in $box, not 0 75 1000 825"
[ "$median" -le 2 ] && [ "$p95" -le 32 ] || fail "at 1000 x 900 the picture is not the 800 x 600 one scaled (median $median, 95% $p95)"

# Clicks in the scaled picture: "Options" (main menu, x 297.., y 237..), then the "On / Off" of "Sound:"
# (x 400..520, y 306..324), each at its place times 1.25 and 75 rows down.
click() {  # click X Y: a picture point
  xdotool mousemove --window "$wid" $(($1 * 5 / 4)) $((75 + $2 * 5 / 4)) && sleep 0.3 && xdotool click 1 && sleep 0.5
}
for _ in $(seq 1 50); do [ -f config.dat ] && break; sleep 0.1; done
click 320 250
click 440 315
sound=$(od -An -tx1 -j2 -N1 config.dat | tr -d ' \n')
[ "$sound" = 01 ] || fail "the clicks in the scaled picture did not switch the sound off (config.dat byte $sound)"
keys Escape  # back to the main menu

# Alt+Enter: full screen (2048 x 1536, the picture filling it), and back to 1000 x 900.
alt_enter
wait_size 2048x1536
shot full.xwd
picture full.xwd
[ "$box" = "0 0 2048 1536" ] || fail "full screen: the picture stands in $box, not the whole screen"
[ "$median" -le 2 ] && [ "$p95" -le 32 ] || fail "full screen: the picture is not the 800 x 600 one scaled (median $median, 95% $p95)"
alt_enter
wait_size 1000x900
quit
grep -q '^1000x900[+-][0-9]*[+-][0-9]*$' window.txt || fail "window.txt does not hold the size: $(cat window.txt)"

# A restart opens as the window was left. Maximised, it fills the desktop but for the frame: the picture
# in its middle, the window mode in config.dat as it was.
start
wait_size 1000x900
maximise() { wmctrl -i -r "$wid" -b "$1,maximized_vert,maximized_horz"; sleep 1; }
maximise add
read -r width height < <(size | tr x ' ')
[ "$width" -gt 1900 ] && [ "$height" -gt 1400 ] || fail "maximised, the window is only $(size)"
[ "$width" -lt 2048 ] || [ "$height" -lt 1536 ] || fail "maximised, the window covers the screen: full screen?"
[ "$(od -An -tx1 -N1 config.dat | tr -d ' \n')" = 00 ] || fail "maximising switched the display mode in config.dat"
maximised=$(size)
shot max.xwd
picture max.xwd
[ "$median" -le 2 ] && [ "$p95" -le 32 ] || fail "maximised: the picture is not the 800 x 600 one scaled (median $median, 95% $p95)"
quit
grep -qx maximized window.txt || fail "window.txt does not say the window was maximised: $(cat window.txt)"
start
wait_size "$maximised"
maximise remove
wait_size 1000x900
quit
echo "scale window test: first start at 1600x1200 (sharp 2 x 2 pixels); 1000x900 with bars above and below" \
  "(median and 95% difference $mid_median, $mid_p95); clicks landed on Options and Sound:; Alt+Enter to 2048x1536 and back;" \
  "restart at 1000x900; maximised to $maximised, and again after a restart"
