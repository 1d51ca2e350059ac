# What the window tests share. A test sources it once it has defined fail MESSAGE (which ends the test)
# and set program and rundir (the program and the folder that holds its data); the running program's
# process is pid.

# window_need_display: the test runs on an X display.
window_need_display() { [ -n "${DISPLAY:-}" ] || fail "no DISPLAY; run it under xvfb-run"; }

# window_need TOOL...: every tool is at hand, else the test fails naming the package that has it.
window_need() {
  local tool package
  for tool in "$@"; do
    command -v "$tool" >/dev/null && continue
    case $tool in
      xwd) package=x11-apps ;;
      xwininfo | xprop) package=x11-utils ;;
      Xvfb) package=xvfb ;;
      parec) package=pulseaudio-utils ;;
      *) package=$tool ;;
    esac
    fail "$tool is missing (scripts/setup.sh --test installs $package)"
  done
}

# window_copy_game DIR: the program beside a copy of its data in DIR; a copy beside its data keeps its
# files there too.
window_copy_game() {
  mkdir -p "$1"
  local d
  for d in data sound; do [ -d "$rundir/$d" ] && cp -r "$rundir/$d" "$1/"; done
  cp "$program" "$1/pellorin"
}

# window_find TITLE: sets wid to the newest window of the program titled TITLE (a regular expression);
# false when it has none. Looked up again before each use: another test's window may still be closing on
# the same display, and the renderer may re-create the window once at start.
window_find() {
  wid=$(xdotool search --pid "$pid" --name "$1" 2>/dev/null | tail -1)
  [ -n "$wid" ]
}

# window_wait TITLE [LOG]: waits up to 10 s for the program's window titled TITLE (sets wid); fails when
# the program ends first (showing LOG) or no such window comes.
window_wait() {
  wid=""
  local _
  for _ in $(seq 1 100); do
    window_find "$1" && return 0
    kill -0 "$pid" 2>/dev/null || fail "the program ended before its window opened${2:+: $(cat "$2")}"
    sleep 0.1
  done
  fail "no window titled $1 appeared"
}

# window_wait_end [TENTHS]: waits up to TENTHS tenths of a second (50 unless given) for the program to
# end, then sets status and clears pid; false while it still runs.
window_wait_end() {
  local _
  for _ in $(seq 1 "${1:-50}"); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$pid" 2>/dev/null && return 1
  wait "$pid"
  status=$?
  pid=""
}

# window_drawn XWD: the screenshot's first 800 x 600 pixels hold a picture: many colours, little black.
# Prints what it sampled.
window_drawn() {
  python3 - "$1" <<'PY'
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
print("screenshot %dx%d, %d colours sampled, %d of %d black" % (width, height, len(seen), dark, total))
sys.exit(0 if total > 0 and dark < total // 10 and len(seen) > 200 else 1)
PY
}
