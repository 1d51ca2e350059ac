#!/usr/bin/env bash
# The browser build's simulation is the desktop's: pellorin-verify.js (the game compiled to WebAssembly,
# run by Node) gives the very JSON line, standard error and exit status of `pellorin --verify-replay`
# for every golden game, with --every-frame too, and for a damaged and a cut replay.
#   verify_test.sh PELLORIN PELLORIN_VERIFY_JS GOLDEN_DIR
set -uo pipefail
pellorin=$(realpath "$1") verify_js=$(realpath "$2") golden=$(realpath "$3")
[ -f "$verify_js" ] || { echo "web verify test: $verify_js is missing: scripts/build-web.sh builds it" >&2; exit 1; }
command -v node >/dev/null || { echo "web verify test: node is not installed" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# compare NAME FILE [--every-frame]: both programs on the same replay (run from the desktop program's
# folder, so that a relative path means the same file to both).
compare() {
  local name=$1
  shift
  (cd "$(dirname "$pellorin")" && "$pellorin" --verify-replay "$@") >"$work/native.out" 2>"$work/native.err"
  local native=$?
  (cd "$(dirname "$pellorin")" && node "$verify_js" "$@") >"$work/web.out" 2>"$work/web.err"
  local web=$?
  if [ "$native" != "$web" ] || ! cmp -s "$work/native.out" "$work/web.out" || ! cmp -s "$work/native.err" "$work/web.err"; then
    echo "web verify test: $name differs: status $native natively, $web in WebAssembly" >&2
    diff "$work/native.out" "$work/web.out" | head -n 8 >&2
    diff "$work/native.err" "$work/web.err" | head -n 8 >&2
    failures=$((failures + 1))
  else
    echo "web verify test: $name: status $native, $(cat "$work/native.out" "$work/native.err" | head -c 200)"
  fi
}

for replay in "$golden"/*.replay; do
  compare "$(basename "$replay")" "$replay"
  compare "$(basename "$replay") --every-frame" "$replay" --every-frame
done

# A damaged replay (a byte of its header changed) and one cut short.
first=$(ls "$golden"/*.replay | head -n 1)
cp "$first" "$work/damaged.replay"
printf '\x7f' | dd of="$work/damaged.replay" bs=1 seek=9 conv=notrunc status=none
compare "a damaged replay" "$work/damaged.replay"
head -c 200 "$first" >"$work/cut.replay"
compare "a cut replay" "$work/cut.replay"
compare "a missing replay" "$work/missing.replay"

[ "$failures" = 0 ] || { echo "web verify test: $failures differences" >&2; exit 1; }
echo "web verify test: every golden game checks the same in the browser build"
