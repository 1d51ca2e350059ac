# shellcheck shell=bash
# A private PulseAudio server for a window test, so that the test hears what the program plays: a null
# sink is the server's only (so default) sink, and parec records the sink's monitor as raw 16-bit
# little-endian stereo at 44.1 kHz. The server runs as whoever runs the test (root in CI, where it warns
# that it is not meant for root and works all the same), keeps its socket, cookie and state in the
# folder it is given, and reaches no session bus and no other server.
# Source it, then:
#   pulse_start DIR         starts the server in DIR (made if missing) and exports what SDL and the
#                           PulseAudio clients need to reach it: SDL_AUDIODRIVER, PULSE_SERVER, PULSE_COOKIE
#   pulse_record FILE       records the sink's monitor into FILE until pulse_stop
#   pulse_mark              prints how many bytes are recorded so far: a place in the recording
#   pulse_level FROM [TO]   prints "RMS PEAK" in dBFS (-120 for digital silence) of the recording between
#                           two marks (TO: up to the end)
#   pulse_heard FROM [TO]   succeeds when that stretch holds sound: RMS at or above -50 dBFS
#   pulse_quiet FROM [TO]   succeeds when that stretch is silent: peak below -60 dBFS
#                           (both print the stretch's level as pulse_level does)
#   pulse_clipped FROM [TO] prints "CLIPPED PEAK": how many samples of the stretch stand at full scale
#                           (32767, or -32767 and below) and its peak in dBFS
#   pulse_stop              ends the recording and the server; call it from the test's EXIT trap
# Needs pulseaudio, parec and pactl (scripts/setup.sh --test installs pulseaudio and pulseaudio-utils)
# and python3. The marks are only as sharp as parec's 50 ms fragments and the player's own latency.

pulse_dir=""
pulse_pid=""
pulse_rec_pid=""
pulse_recording=""

pulse_start() {
  pulse_dir=$1
  mkdir -p "$pulse_dir" || return 1
  local tool
  for tool in pulseaudio parec pactl python3; do
    command -v "$tool" >/dev/null || {
      echo "pulse_sink: $tool is missing (scripts/setup.sh --test installs it)" >&2
      return 1
    }
  done
  # HOME and the XDG folders point into DIR so that the server writes its cookie and state there; no
  # DISPLAY and no session bus, or it would try to start a bus of its own on the X display.
  env -u DISPLAY -u DBUS_SESSION_BUS_ADDRESS HOME="$pulse_dir" XDG_CONFIG_HOME="$pulse_dir" \
    XDG_RUNTIME_DIR="$pulse_dir" pulseaudio --daemonize=no --exit-idle-time=-1 -n --use-pid-file=no \
    --disable-shm=yes --realtime=no --high-priority=no --log-target=stderr \
    --load="module-null-sink sink_name=pellorin rate=44100 channels=2 format=s16le" \
    --load="module-native-protocol-unix auth-anonymous=1 socket=$pulse_dir/native" \
    >"$pulse_dir/server.log" 2>&1 &
  pulse_pid=$!
  export SDL_AUDIODRIVER=pulseaudio PULSE_SERVER="unix:$pulse_dir/native" PULSE_COOKIE="$pulse_dir/cookie"
  local _
  for _ in $(seq 1 100); do
    pactl info 2>/dev/null | grep -q '^Default Sink: pellorin$' && return 0
    kill -0 "$pulse_pid" 2>/dev/null || break
    sleep 0.05
  done
  echo "pulse_sink: the PulseAudio server did not start: $(cat "$pulse_dir/server.log")" >&2
  return 1
}

pulse_record() {
  pulse_recording=$1
  parec --device=pellorin.monitor --raw --format=s16le --rate=44100 --channels=2 --latency-msec=50 \
    >"$pulse_recording" 2>"$pulse_dir/parec.log" &
  pulse_rec_pid=$!
  # Started once the first fragment is in.
  local _
  for _ in $(seq 1 100); do
    [ -s "$pulse_recording" ] && return 0
    kill -0 "$pulse_rec_pid" 2>/dev/null || break
    sleep 0.02
  done
  echo "pulse_sink: parec records nothing: $(cat "$pulse_dir/parec.log")" >&2
  return 1
}

pulse_mark() { stat -c %s "$pulse_recording"; }

# pulse_measure FROM [TO]: "RMS PEAK CLIPPED PEAK2" of the stretch, the levels in dBFS (-120 for
# digital silence), PEAK2 with two decimals; pulse_level and pulse_clipped print their parts of it.
pulse_measure() {
  python3 - "$pulse_recording" "$1" "${2:-}" <<'PY'
import array, math, sys
path, start, end = sys.argv[1], int(sys.argv[2]), sys.argv[3]
start -= start % 4  # whole stereo frames
with open(path, "rb") as f:
    f.seek(start)
    data = f.read(max(0, int(end) - start) if end else -1)
samples = array.array("h", data[: len(data) - len(data) % 4])
if sys.byteorder == "big":
    samples.byteswap()
db = lambda v: max(-120.0, 20 * math.log10(v / 32768)) if v > 0 else -120.0
rms = math.sqrt(sum(s * s for s in samples) / len(samples)) if samples else 0
peak = max((abs(s) for s in samples), default=0)
clipped = sum(1 for s in samples if s >= 32767 or s <= -32767)
print("%.1f %.1f %d %.2f" % (db(rms), db(peak), clipped, 20 * math.log10(peak / 32768) if peak else -120.0))
PY
}

pulse_level() { pulse_measure "$@" | awk '{ print $1, $2 }'; }

pulse_clipped() { pulse_measure "$@" | awk '{ print $3, $4 }'; }

pulse_heard() {
  local rms peak
  read -r rms peak < <(pulse_level "$@")
  echo "$rms $peak"
  awk -v v="$rms" 'BEGIN { exit !(v >= -50) }'
}

pulse_quiet() {
  local rms peak
  read -r rms peak < <(pulse_level "$@")
  echo "$rms $peak"
  awk -v v="$peak" 'BEGIN { exit !(v < -60) }'
}

pulse_stop() {
  local p
  for p in "$pulse_rec_pid" "$pulse_pid"; do
    [ -n "$p" ] || continue
    kill "$p" 2>/dev/null
    wait "$p" 2>/dev/null
  done
  pulse_rec_pid=""
  pulse_pid=""
}
