#!/usr/bin/env bash
# SIGTERM and SIGINT end the real program at once in each state -- the menu running, a message box open
# ("Can't load music." over a damaged song) -- the way the signal ends a program (status 128 + signal),
# with no window of it left and config.dat as it was.
# Needs an X display with the core fonts of xfonts-base (SDL's message box draws with them) and xwininfo.
# shellcheck source=SCRIPTDIR/window_lib.sh
. "$(dirname "$0")/window_lib.sh" "signal window test"
program=$1
rundir=$2
window_need_display
window_need xwininfo python3

work=$(mktemp -d)
trap 'kill -KILL "${pid:-}" 2>/dev/null; rm -rf "$work"' EXIT

# Windows titled Pellorin (xdotool does not see SDL's message box, which has no class).
windows() { xwininfo -root -tree 2>/dev/null | grep -c '^ *0x[0-9a-f]* "Pellorin"'; }

# run_case STATE SIGNAL: STATE is menu or box.
run_case() {
  local state=$1 signal=$2 dir="$work/$1-$2"
  window_copy_game "$dir"
  [ "$state" = box ] && printf 'not a song' >"$dir/sound/1.xm"
  # A settings file that must come through untouched: window, music on (stored inverted), sound off, the
  # rest any bytes (every 158 bytes are a valid record).
  { printf '\000\000\001'; head -c 155 /dev/urandom; } >"$dir/config.dat"
  cp "$dir/config.dat" "$dir/config.before"
  # Started with both signals at their defaults (a script's background job would ignore SIGINT).
  SDL_AUDIODRIVER=dummy python3 -c 'import os, signal, sys
signal.signal(signal.SIGINT, signal.SIG_DFL)
os.execv(sys.argv[1], sys.argv[1:])' "$dir/pellorin" >"$dir/out.log" 2>&1 &
  pid=$!
  local ready=""
  for _ in $(seq 1 100); do
    if [ "$state" = box ]; then
      # SDL shows the box from a child process, as a second window titled Pellorin.
      [ -n "$(pgrep -P "$pid")" ] && [ "$(windows)" -ge 2 ] && { ready=1; break; }
    else
      [ "$(windows)" -ge 1 ] && { ready=1; break; }
    fi
    kill -0 "$pid" 2>/dev/null || fail "$state: the program ended early: $(cat "$dir/out.log")"
    sleep 0.1
  done
  [ -n "$ready" ] || fail "$state: the program did not reach that state: $(cat "$dir/out.log")"
  sleep 0.5
  local start end status
  start=$(date +%s%N)
  kill "-$signal" "$pid"
  for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.02; done
  end=$(date +%s%N)
  kill -0 "$pid" 2>/dev/null && fail "$state: still running 1 s after SIG$signal"
  wait "$pid"
  status=$?
  pid=""
  local want=$((128 + $(kill -l "$signal")))
  [ "$status" = "$want" ] || fail "$state: ended with status $status after SIG$signal, not $want"
  for _ in $(seq 1 20); do [ "$(windows)" = 0 ] && break; sleep 0.05; done
  [ "$(windows)" = 0 ] || fail "$state: a window titled Pellorin is still open after SIG$signal"
  cmp -s "$dir/config.dat" "$dir/config.before" || fail "$state: config.dat changed"
  echo "signal window test: $state ended by SIG$signal in $(((end - start) / 1000000)) ms, status $status"
}

run_case menu TERM
run_case box TERM
run_case box INT
