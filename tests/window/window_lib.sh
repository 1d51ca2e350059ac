# shellcheck shell=bash
# The preamble of every window test and what they share. A test sources it first, with its name:
#   . "$(dirname "$0")/window_lib.sh" "menu window test"
# then sets program and rundir (the program and the folder that holds its data). The running program's
# process is pid; its output goes to $work/out.log, which fail shows.
set -u
window_test_name=$1
# The window tests' folder: this library, xwd.py and pulse_sink.sh.
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# fail MESSAGE: ends the test with MESSAGE under its name, stops the program under test and shows its
# output when there is some.
fail() {
  echo "$window_test_name: $*" >&2
  [ -n "${pid:-}" ] && kill "$pid" 2>/dev/null
  [ -f "${work:-}/out.log" ] && cat "$work/out.log" >&2
  exit 1
}

# window_python ARGS...: python3 able to import xwd (the screenshot reader).
window_python() { PYTHONPATH="$here${PYTHONPATH:+:$PYTHONPATH}" python3 "$@"; }

# window_config_dat window|full-screen zeros|varied: prints a config.dat of 158 bytes: the display mode,
# music and sound on, F12 as the boss key, then 152 bytes for the country and the local table: all zero
# (no country, ten scores of 65535 stored inverted, so that no score places) or varied bytes.
window_config_dat() {
  python3 - "$1" "$2" <<'PY'
import sys
mode = {"window": 0, "full-screen": 1}[sys.argv[1]]  # stored as the mode XOR 1
rest = {"zeros": bytes(152), "varied": bytes((i * 7 + 3) % 256 for i in range(152))}[sys.argv[2]]
sys.stdout.buffer.write(bytes([mode, 0, 0, 0, 0x7b, 0]) + rest)
PY
}

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
  window_python - "$1" <<'PY'
import sys, xwd
shot = xwd.read(sys.argv[1])
seen, dark, total = set(), 0, 0
for y in range(0, min(shot.height, 600), 7):
    for x in range(0, min(shot.width, 800), 7):
        p = shot.pixel(x, y)
        seen.add(p)
        total += 1
        dark += p == b"\0\0\0"
print("screenshot %dx%d, %d colours sampled, %d of %d black" % (shot.width, shot.height, len(seen), dark, total))
sys.exit(0 if total > 0 and dark < total // 10 and len(seen) > 200 else 1)
PY
}
