#!/usr/bin/env bash
# The menu in the real window: from a fresh start the main menu is drawn over the background, the
# options screen is reached and left with the keyboard, a sound switch toggled and a country typed there
# are in config.dat, and Escape then Enter (the quit question answered "Yes") ends the program with
# status 0.
# Needs an X display (test.sh runs it under xvfb-run), xdotool and xwd.
set -u
program=$1
rundir=$2
fail() { echo "menu window test: $*" >&2; [ -n "${pid:-}" ] && kill "$pid" 2>/dev/null; exit 1; }
[ -n "${DISPLAY:-}" ] || fail "no DISPLAY; run it under xvfb-run"
command -v xdotool >/dev/null || fail "xdotool is missing (scripts/setup.sh installs it)"
command -v xwd >/dev/null || fail "xwd is missing (scripts/setup.sh installs x11-apps)"

work=$(mktemp -d)
trap 'kill "${pid:-}" 2>/dev/null; rm -rf "$work"' EXIT
for d in data sound; do [ -d "$rundir/$d" ] && cp -r "$rundir/$d" "$work/"; done
cp "$program" "$work/pellorin"  # a copy beside its data keeps its files there
cd "$work"
SDL_AUDIODRIVER=dummy "$work/pellorin" >"$work/out.log" 2>&1 &
pid=$!

# This program's own window, looked up again before each use: another test's window may still be
# closing on the same display, and the renderer may re-create the window once at start.
find_window() { wid=$(xdotool search --pid "$pid" --name '^Pellorin$' 2>/dev/null | tail -1); [ -n "$wid" ]; }
wid=""
for _ in $(seq 1 100); do
  find_window && break
  kill -0 "$pid" 2>/dev/null || fail "the program ended early: $(cat "$work/out.log")"
  sleep 0.1
done
[ -n "$wid" ] || fail "no window titled Pellorin appeared"
for _ in $(seq 1 50); do [ -f config.dat ] && break; sleep 0.1; done

# The picture: mostly not black and many colours (the menu background with its entries). The first
# frames may still be on their way, so look a few times.
check_picture() {
  find_window && xwd -silent -id "$wid" >shot.xwd 2>/dev/null || return 1
  python3 - shot.xwd <<'PY'
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
for y in range(0, min(height, 600), 7):
    row = pixels[y * bytes_per_line:(y + 1) * bytes_per_line]
    for x in range(0, min(width, 800), 7):
        p = row[x * step:x * step + 3]
        seen.add(p)
        total += 1
        dark += p == b"\0\0\0"
ok = total > 0 and dark < total // 10 and len(seen) > 200
print("screenshot %dx%d, %d colours sampled, %d of %d black" % (width, height, len(seen), dark, total))
sys.exit(0 if ok else 1)
PY
}
drawn=""
for _ in $(seq 1 10); do check_picture && { drawn=1; break; }; sleep 0.5; done
[ -n "$drawn" ] || fail "the main menu is not drawn"

keys() { find_window; xdotool windowfocus --sync "$wid" 2>/dev/null; xdotool key --delay 150 "$@"; sleep 0.5; }
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
for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$pid" 2>/dev/null && fail "the program did not end after the quit question"
wait "$pid"
status=$?
pid=""
[ "$status" = 0 ] || fail "the program ended with status $status"
echo "menu window test: menu drawn, options reached and left, sound switch and country stored, quit with status 0"
