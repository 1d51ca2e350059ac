#!/usr/bin/env bash
# The replay options of the program from outside: the JSON line and the exit statuses of
# --verify-replay (for a replay that plays otherwise than recorded too), the usage for a bad command
# line, the display options beside --replay, the messages for a missing, damaged or foreign file. Usage: replay_command_line_test.sh PELLORIN GOLDEN_DIR RUN_DIR
set -uo pipefail
pellorin=$1 golden=$2 run=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$run"
failed=0
expect() {  # expect STATUS PATTERN ARGS...: the exit status and a line of the output (stdout and stderr)
  local status=$1 pattern=$2
  shift 2
  local out
  out=$(timeout 60 "$pellorin" "$@" 2>&1)
  local got=$?
  if [[ $got -ne $status ]] || ! grep -qE -- "$pattern" <<<"$out"; then
    echo "FAILED: pellorin $* -> status $got (expected $status), output: $out"
    failed=1
  fi
}
good=$golden/exit-question.replay
expect 0 '^\{"file":".*exit-question.replay","ticks":[0-9]+,"score":[0-9]+,"level":[0-9]+,"lives":[0-9-]+,"frame_hash":"[0-9a-f]{16}",.*"result":"equal"\}$' --verify-replay "$good"
expect 0 '"result":"equal"' --verify-replay="$good"
# Without --every-frame only the last frame is drawn: the played frames' hash is not known.
expect 0 '"frame_hash":"[0-9a-f]{16}","frames":null,"recorded":\{.*"frames":"[0-9a-f]{16}"\},"result":"equal"' --verify-replay "$good"
expect 0 '^\{"file":"[^"]*","ticks":[0-9]+,"score":[0-9]+,"level":[0-9]+,"lives":[0-9-]+,"frame_hash":"[0-9a-f]{16}","frames":"[0-9a-f]{16}",.*"result":"equal"' --every-frame --verify-replay "$good"
expect 2 '^pellorin: --every-frame goes with --verify-replay only' --every-frame
expect 2 '^Usage: pellorin' --verify-replay
expect 2 '^Usage: pellorin' --record
expect 2 '^Usage: pellorin' --verify-replay "$good" --bogus
expect 2 '^Usage: pellorin' --replay --bogus
expect 2 '^Usage: pellorin' --replay "$good" --window --bogus
expect 2 '^pellorin: only one of' --replay "$good" --verify-replay "$good"
expect 2 '^pellorin: --verify-replay opens no window' --verify-replay "$good" --window
expect 2 "The replay $work/none.replay does not exist" --verify-replay "$work/none.replay"
# The display options go with --replay, before or after it: these get as far as the file.
expect 2 "The replay $work/none.replay does not exist" --replay "$work/none.replay" --window
expect 2 "The replay $work/none.replay does not exist" --fullscreen --replay "$work/none.replay"
# --replay alone takes the best kept game: a copy of the program with none kept says so (and, with a
# display, in a message box, which the window tests see).
mkdir "$work/copy"
cp "$pellorin" "$work/copy/pellorin"
ln -s "$run/data" "$run/sound" "$work/copy/"
pellorin=$work/copy/pellorin DISPLAY="" WAYLAND_DISPLAY="" expect 2 "^No kept replay in $work/copy/replays" --replay --window
printf 'hello' >"$work/text.replay"
expect 2 "The file $work/text.replay is not a replay" --verify-replay "$work/text.replay"
# A well-formed file whose record disagrees with its play: the score at the end, or the last
# checkpoint's, one more than the game makes, the checksum made to match. It loads, plays and is said
# to differ. edit FILE OFFSET adds 1 to the 16-bit value OFFSET bytes from the end, reseals the file and
# prints the tick of the state the value belongs to. From the end: the checksum (4 bytes), the end state
# (ticks 4, seed 4, score 2, level 1, lives 4, frames 8, frame hash 8), the last checkpoint (the same
# without the frame hash). The checkpoint's frames are compared by --every-frame alone.
edit() {
  python3 -c '
import struct, sys, zlib
path, at = sys.argv[1], int(sys.argv[2])
data = bytearray(open(path, "rb").read())
at += len(data)
struct.pack_into("<H", data, at, (struct.unpack_from("<H", data, at)[0] + 1) & 0xFFFF)
struct.pack_into("<I", data, len(data) - 4, zlib.crc32(bytes(data[:-4])))
open(path, "wb").write(data)
print(struct.unpack_from("<I", data, at - 8)[0])' "$@"
}
cp "$good" "$work/end.replay"
edit "$work/end.replay" $((-4 - 31 + 8)) >/dev/null
expect 1 '"recorded":\{.*\},"result":"diverged","first_difference_tick":null\}$' --verify-replay "$work/end.replay"
cp "$good" "$work/checkpoint.replay"
tick=$(edit "$work/checkpoint.replay" $((-4 - 31 - 23 + 8)))
expect 1 "\"result\":\"diverged\",\"first_difference_tick\":$tick\}\$" --verify-replay "$work/checkpoint.replay"
cp "$good" "$work/frames.replay"
edit "$work/frames.replay" $((-4 - 31 - 23 + 15)) >/dev/null  # the same checkpoint's frames
expect 0 '"result":"equal"' --verify-replay "$work/frames.replay"
expect 1 "\"result\":\"diverged\",\"first_difference_tick\":$tick\}\$" --verify-replay "$work/frames.replay" --every-frame
# A well-formed replay the game could not have recorded is refused, with the reason on one line and no
# JSON: here a start with the enemy spawn countdown at 5 (the u16 at byte 16), where a new program's
# game starts at 0.
cp "$good" "$work/start.replay"
python3 -c '
import struct, sys, zlib
path = sys.argv[1]
data = bytearray(open(path, "rb").read())
struct.pack_into("<H", data, 16, 5)
struct.pack_into("<I", data, len(data) - 4, zlib.crc32(bytes(data[:-4])))
open(path, "wb").write(data)' "$work/start.replay"
expect 2 "^The replay $work/start.replay is refused: it does not start as a new program.s game does: the enemy spawn countdown is 5, not 0\.\$" --verify-replay "$work/start.replay"
expect 2 "is refused: .*spawn countdown is 5" --verify-replay "$work/start.replay" --every-frame
if out=$(cd "$run" && timeout 60 "$pellorin" --verify-replay "$work/start.replay" 2>/dev/null); [[ -n $out ]]; then
  echo "FAILED: a refused replay printed a report: $out"
  failed=1
fi
# One byte of the input stream changed: refused by the checksum, never a crash.
cp "$good" "$work/changed.replay"
printf '\x55' | dd of="$work/changed.replay" bs=1 seek=60 conv=notrunc status=none
expect 2 "The replay $work/changed.replay is damaged" --verify-replay "$work/changed.replay"
exit $failed
