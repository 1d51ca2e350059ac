#!/usr/bin/env bash
# The program's command line, its start without a display, a message it cannot show in a box, and
# --server: each answer's status, standard output and standard error. Needs no display (the display
# options themselves are tried on the headless platform by run_options_tests).
set -u
program=$1
version=$2
failures=0
fail() { echo "command line test: $*" >&2; failures=$((failures + 1)); }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# run ARGS...: sets status, out and err.
run() {
  timeout 20 "$program" "$@" >"$work/out" 2>"$work/err"
  status=$?
  out=$(cat "$work/out")
  err=$(cat "$work/err")
}

run --help
[ "$status" = 0 ] || fail "--help: status $status"
[ -z "$err" ] || fail "--help wrote to standard error: $err"
for option in --help --version --fullscreen --window; do
  grep -q -- "^  $option " <<<"$out" || fail "--help does not list $option"
done

run --version
[ "$status" = 0 ] && [ "$out" = "Pellorin $version" ] && [ -z "$err" ] ||
  fail "--version: status $status, '$out', not 'Pellorin $version'"

# Mistakes: the reason and the usage on standard error, nothing on standard output, status 2.
for args in "--bogus" "--window=yes" "play" "--help --bogus"; do
  # shellcheck disable=SC2086
  run $args
  [ "$status" = 2 ] || fail "'$args': status $status, not 2"
  [ -z "$out" ] || fail "'$args' wrote to standard output: $out"
  head -n 1 <<<"$err" | grep -q "^pellorin: " || fail "'$args': no reason first on standard error: $err"
  grep -q "^Usage: pellorin" <<<"$err" || fail "'$args': no usage on standard error"
done

# No display: one line that names what was tried, status 1, and no window-less run.
timeout 20 env -u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER "$program" --window >"$work/out" 2>"$work/err"
status=$?
[ "$status" = 1 ] || fail "no display: status $status, not 1"
[ "$(wc -l <"$work/err")" = 1 ] || fail "no display: not one line on standard error: $(cat "$work/err")"
grep -q "^pellorin: no display to open a window on: tried x11 (DISPLAY not set)" "$work/err" ||
  fail "no display: the line does not say what was tried: $(cat "$work/err")"

# A message box SDL cannot show (here on its off-screen driver, chosen by name) is not lost: its text
# goes to standard error and the program goes on. A copy beside its data, with a damaged menu song.
copy="$work/copy"
mkdir -p "$copy"
cp -r "$(dirname "$program")/data" "$(dirname "$program")/sound" "$copy/"
cp "$program" "$copy/pellorin"
printf 'not a song' >"$copy/sound/1.xm"
SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy "$copy/pellorin" >"$work/out" 2>"$work/err" &
pid=$!
for _ in $(seq 1 50); do grep -q "Can't load music" "$work/err" && break; sleep 0.1; done
kill -0 "$pid" 2>/dev/null || fail "unshown message box: the program ended: $(cat "$work/err")"
kill "$pid" 2>/dev/null
wait "$pid" 2>/dev/null
grep -q "^Pellorin: Can't load music\. (no message box: " "$work/err" ||
  fail "unshown message box: not on standard error: $(cat "$work/err")"

# --server URL: the address checked as server.url is read, written where this copy reads it, said where,
# and nothing else done. A copy beside its data keeps its files there; one without, in
# $XDG_DATA_HOME/pellorin (made when missing). Each case: the program, XDG_DATA_HOME, the arguments,
# the status, what server.url holds after it.
bare="$work/bare"
mkdir -p "$bare"
cp "$program" "$bare/pellorin"
: >"$work/not-a-folder"
url_cases=(
  "$copy|$work/unused|--server http://scores.example.org:8080/|0|$copy/server.url|http://scores.example.org:8080"
  "$copy|$work/unused|--server=https://192.168.1.10|0|$copy/server.url|https://192.168.1.10"
  "$copy|$work/unused|--server ftp://scores.example.org|2|$copy/server.url|https://192.168.1.10"
  "$copy|$work/unused|--server http://scores.example.org:65536|2|$copy/server.url|https://192.168.1.10"
  "$copy|$work/unused|--server scores.example.org|2|$copy/server.url|https://192.168.1.10"
  "$copy|$work/unused|--server http://a/b|2|$copy/server.url|https://192.168.1.10"
  "$copy|$work/unused|--server|2|$copy/server.url|https://192.168.1.10"
  "$copy|$work/unused|--server http://x:1 --window|2|$copy/server.url|https://192.168.1.10"
  "$bare|$work/xdg|--server http://localhost:1|0|$work/xdg/pellorin/server.url|http://localhost:1"
  "$bare|$work/not-a-folder|--server http://localhost:2|1|$work/not-a-folder/pellorin/server.url|"
)
for case in "${url_cases[@]}"; do
  IFS='|' read -r dir xdg args want_status file want <<<"$case"
  # shellcheck disable=SC2086
  XDG_DATA_HOME="$xdg" SDL_VIDEODRIVER=offscreen timeout 20 "$dir/pellorin" $args >"$work/out" 2>"$work/err"
  status=$?
  out=$(cat "$work/out")
  err=$(cat "$work/err")
  got=$(cat "$file" 2>/dev/null)
  [ "$status" = "$want_status" ] || fail "'$args': status $status, not $want_status ($out$err)"
  [ "$got" = "$want" ] || fail "'$args': server.url holds '$got', not '$want'"
  case $want_status in
  0) grep -qF "$file" <<<"$out" && [ -z "$err" ] || fail "'$args': does not say it wrote $file: $out$err" ;;
  1) grep -qF "pellorin: cannot write $file: " <<<"$err" || fail "'$args': no reason naming $file: $err" ;;
  2) [ -z "$out" ] && grep -q "^pellorin: " <<<"$err" || fail "'$args': no reason on standard error: $out$err" ;;
  esac
done
# --help names the file of this copy.
XDG_DATA_HOME="$work/xdg" "$bare/pellorin" --help | grep -qF "$work/xdg/pellorin/server.url" ||
  fail "--help does not name $work/xdg/pellorin/server.url"

[ "$failures" = 0 ] || exit 1
echo "command line test: --help, --version, four mistakes, the start without a display, an unshown message box and ${#url_cases[@]} --server cases answered as they should"
