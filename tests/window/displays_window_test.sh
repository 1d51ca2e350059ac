#!/usr/bin/env bash
# On a desktop of two displays, a first start (no window.txt) opens the window centred on the primary
# display, wherever the other lies: to its left, or above it. The primary display is not at the desktop's
# origin in either layout, so a window centred on the union of the displays, or at the origin, stands
# elsewhere.
#
# SDL reads the displays from RandR, one for each output of each X screen, the primary output first; it
# does not read Xinerama, whose heads Xvfb stacks at one origin anyway. So the X server of the test's
# own has two screens: screen 1 of 1920 x 1080, and screen 0, the default one, whose only output shows a
# mode of 1280 x 1024 placed (by randr.py below) to the right of screen 1 or below it. With no window
# manager, the window stands exactly where the program puts it. Needs Xvfb, xdotool, xwininfo and python3
# with libX11 and libXrandr (which SDL needs too).
# shellcheck source=SCRIPTDIR/window_lib.sh
. "$(dirname "$0")/window_lib.sh" "displays window test"
program=$1
rundir=$2
window_need Xvfb xdotool xwininfo python3

work=$(mktemp -d)
trap 'kill ${pid:-} ${randr:-} ${xserver:-} 2>/dev/null; rm -rf "$work"' EXIT
Xvfb -displayfd 3 -screen 0 3200x2104x24 -screen 1 1920x1080x24 -nolisten tcp 3>"$work/display" \
  >"$work/xvfb.log" 2>&1 &
xserver=$!
for _ in $(seq 1 100); do [ -s "$work/display" ] && break; sleep 0.05; done
[ -s "$work/display" ] || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
DISPLAY=":$(head -n 1 "$work/display")"
export DISPLAY
unset WAYLAND_DISPLAY SDL_VIDEODRIVER

# randr.py WxH+X+Y: screen 0's output shows a mode of W x H at X, Y and is the primary output; prints
# the place its CRTC then has. The mode is this client's and goes with it, so it waits to be killed.
cat >"$work/randr.py" <<'PY'
import ctypes, re, signal, sys
c = ctypes
x11, xrandr = c.CDLL("libX11.so.6"), c.CDLL("libXrandr.so.2")
class ModeInfo(c.Structure):
    _fields_ = [("id", c.c_ulong), ("width", c.c_uint), ("height", c.c_uint), ("dotClock", c.c_ulong),
                ("hSyncStart", c.c_uint), ("hSyncEnd", c.c_uint), ("hTotal", c.c_uint), ("hSkew", c.c_uint),
                ("vSyncStart", c.c_uint), ("vSyncEnd", c.c_uint), ("vTotal", c.c_uint), ("name", c.c_char_p),
                ("nameLength", c.c_uint), ("modeFlags", c.c_ulong)]
class Resources(c.Structure):
    _fields_ = [("timestamp", c.c_ulong), ("configTimestamp", c.c_ulong), ("ncrtc", c.c_int),
                ("crtcs", c.POINTER(c.c_ulong)), ("noutput", c.c_int), ("outputs", c.POINTER(c.c_ulong)),
                ("nmode", c.c_int), ("modes", c.POINTER(ModeInfo))]
class CrtcInfo(c.Structure):
    _fields_ = [("timestamp", c.c_ulong), ("x", c.c_int), ("y", c.c_int), ("width", c.c_uint),
                ("height", c.c_uint), ("mode", c.c_ulong), ("rotation", c.c_ushort), ("noutput", c.c_int),
                ("outputs", c.POINTER(c.c_ulong)), ("rotations", c.c_ushort), ("npossible", c.c_int),
                ("possible", c.POINTER(c.c_ulong))]
x11.XOpenDisplay.restype, x11.XOpenDisplay.argtypes = c.c_void_p, [c.c_char_p]
x11.XRootWindow.restype, x11.XRootWindow.argtypes = c.c_ulong, [c.c_void_p, c.c_int]
x11.XSync.argtypes = [c.c_void_p, c.c_int]
xrandr.XRRGetScreenResources.restype = c.POINTER(Resources)
xrandr.XRRGetScreenResources.argtypes = [c.c_void_p, c.c_ulong]
xrandr.XRRCreateMode.restype = c.c_ulong
xrandr.XRRCreateMode.argtypes = [c.c_void_p, c.c_ulong, c.POINTER(ModeInfo)]
xrandr.XRRAddOutputMode.argtypes = [c.c_void_p, c.c_ulong, c.c_ulong]
xrandr.XRRSetCrtcConfig.argtypes = [c.c_void_p, c.POINTER(Resources), c.c_ulong, c.c_ulong, c.c_int, c.c_int,
                                    c.c_ulong, c.c_ushort, c.POINTER(c.c_ulong), c.c_int]
xrandr.XRRSetOutputPrimary.argtypes = [c.c_void_p, c.c_ulong, c.c_ulong]
xrandr.XRRGetCrtcInfo.restype = c.POINTER(CrtcInfo)
xrandr.XRRGetCrtcInfo.argtypes = [c.c_void_p, c.POINTER(Resources), c.c_ulong]

width, height, x, y = map(int, re.fullmatch(r"(\d+)x(\d+)\+(\d+)\+(\d+)", sys.argv[1]).groups())
display = x11.XOpenDisplay(None)
if not display:
    sys.exit("randr.py: cannot open the display")
root = x11.XRootWindow(display, 0)
resources = xrandr.XRRGetScreenResources(display, root)
name = b"%dx%d" % (width, height)
info = ModeInfo(width=width, height=height, dotClock=60 * width * height, hSyncStart=width, hSyncEnd=width,
                hTotal=width, vSyncStart=height, vSyncEnd=height, vTotal=height, name=name,
                nameLength=len(name))
mode = xrandr.XRRCreateMode(display, root, c.byref(info))
output = resources.contents.outputs[0]
crtc = resources.contents.crtcs[0]
xrandr.XRRAddOutputMode(display, output, mode)
outputs = (c.c_ulong * 1)(output)
xrandr.XRRSetCrtcConfig(display, resources, crtc, 0, x, y, mode, 1, outputs, 1)
xrandr.XRRSetOutputPrimary(display, root, output)
x11.XSync(display, 0)
now = xrandr.XRRGetCrtcInfo(display, resources, crtc).contents
print("%dx%d+%d+%d" % (now.width, now.height, now.x, now.y), flush=True)
signal.pause()
PY

# layout NAME GEOMETRY X Y: with screen 0's display at GEOMETRY, a first start opens an 800 x 600 window
# at X, Y.
layout() {
  local name=$1 geometry=$2 want="800x600+$3+$4" placed got _
  python3 "$work/randr.py" "$geometry" >"$work/randr.out" 2>&1 &
  randr=$!
  for _ in $(seq 1 100); do [ -s "$work/randr.out" ] && break; sleep 0.05; done
  placed=$(head -n 1 "$work/randr.out")
  [ "$placed" = "$geometry" ] || fail "$name: the primary display is at '$placed', not $geometry: $(cat "$work/randr.out")"

  local game=$work/$name
  window_copy_game "$game"
  (cd "$game" && SDL_AUDIODRIVER=dummy exec "$game/pellorin") >"$work/out.log" 2>&1 &
  pid=$!
  window_wait '^Pellorin$'
  for _ in $(seq 1 30); do
    window_find '^Pellorin$' || fail "$name: the window went away"
    got=$(xwininfo -id "$wid" | awk '/Absolute upper-left X:/ {x = $4} /Absolute upper-left Y:/ {y = $4}
      /Width:/ {w = $2} /Height:/ {h = $2} END {print w "x" h "+" x "+" y}')
    [ "$got" = "$want" ] && break
    sleep 0.1
  done
  [ "$got" = "$want" ] || fail "$name: the window stands at $got, not $want, centred on the primary display $geometry"
  kill "$pid"
  window_wait_end 50 || fail "$name: the program did not end on SIGTERM"
  kill "$randr"
  wait "$randr" 2>/dev/null
  randr=""
  echo "displays window test: $name: the primary display at $geometry, the window at $got"
}

# 1280 x 1024 at (1920, 0): room for 800 x 600 and the frame, centred at (2160, 212). Centred on the union
# (0, 0, 3200, 1080) it would stand at (1200, 240).
layout left 1280x1024+1920+0 2160 212
# 1280 x 1024 at (0, 1080): at (240, 1292). On the union (0, 0, 1920, 2104) it would open at 1600 x 1200.
layout above 1280x1024+0+1080 240 1292
