#!/usr/bin/env bash
# The Debian package as a player gets it: cpack makes it from a build tree; it carries the program, the
# data, the desktop entry, the AppStream metadata, the icons and the manual page, and depends on the
# libraries the program links. Unpacked into a scratch root and started from another folder with a
# scratch home, the game reaches its menu and writes config.dat into the player's folder, under
# $XDG_DATA_HOME or ~/.local/share, and nowhere else.
#   package_test.sh BUILD_DIR APP_ID
# Needs an X display (test.sh runs it under xvfb-run), dpkg-deb, xdotool and xwd.
set -u
build=$(cd "$1" && pwd)
app_id=$2
fail() { echo "package test: $*" >&2; [ -n "${pid:-}" ] && kill "$pid" 2>/dev/null; exit 1; }
[ -n "${DISPLAY:-}" ] || fail "no DISPLAY; run it under xvfb-run"
for tool in cpack dpkg-deb xdotool xwd python3; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/setup.sh --test installs it)"
done

work=$(mktemp -d)
trap 'kill "${pid:-}" 2>/dev/null; rm -rf "$work"' EXIT

(cd "$build" && cpack -G DEB -B "$work/package") >"$work/cpack.log" 2>&1 || fail "cpack failed: $(cat "$work/cpack.log")"
# cpack makes the server's package too (server_package_test.sh tries that one).
deb=$(ls "$work"/package/pellorin_*.deb 2>/dev/null | head -1)
[ -n "$deb" ] || fail "cpack made no pellorin_*.deb: $(cat "$work/cpack.log")"
dpkg-deb -c "$deb" | grep -q "pellorin-server" && fail "the game's package carries the server: $(dpkg-deb -c "$deb" | grep pellorin-server)"

# What it holds and what it needs.
prefix=$(dpkg-deb -c "$deb" | awk '$NF ~ /\/bin\/pellorin$/ {print $NF}' | sed 's|^\./||; s|/bin/pellorin$||')
[ -n "$prefix" ] || fail "the package has no bin/pellorin"
contents=$(dpkg-deb -c "$deb" | awk '{print $NF}' | sed 's|^\./||')
for file in bin/pellorin share/pellorin/data/menu.dxg share/pellorin/data/gamegraphic.dxg \
  share/pellorin/data/icon.png share/pellorin/sound/gamesound.dxw share/pellorin/sound/1.xm \
  share/pellorin/sound/2.xm "share/applications/$app_id.desktop" "share/metainfo/$app_id.metainfo.xml" \
  "share/icons/hicolor/scalable/apps/$app_id.svg" "share/icons/hicolor/64x64/apps/$app_id.png" \
  "share/icons/hicolor/128x128/apps/$app_id.png" "share/icons/hicolor/256x256/apps/$app_id.png" \
  share/man/man6/pellorin.6.gz share/pellorin/data/fonts/DejaVuSans.ttf share/pellorin/data/fonts/DejaVuSans-Bold.ttf \
  share/pellorin/data/fonts/LICENSE-DejaVu.txt; do
  grep -qx "$prefix/$file" <<<"$contents" || fail "the package lacks $prefix/$file"
done
# The manual page as Debian's policy asks: gzip -9n (the header: no file name, no time stamp, the best
# compression), the page itself inside.
page=$(dpkg-deb --fsys-tarfile "$deb" | tar -xOf - "./$prefix/share/man/man6/pellorin.6.gz" | od -An -tx1 -N9 | tr -d ' \n')
[ "$page" = 1f8b08000000000002 ] || fail "the manual page is not compressed with gzip -9n (header $page)"
dpkg-deb --fsys-tarfile "$deb" | tar -xOf - "./$prefix/share/man/man6/pellorin.6.gz" | gzip -dc | grep -q '^\.TH PELLORIN 6' ||
  fail "the compressed manual page is not the game's page"
grep -q "config.dat" <<<"$contents" && fail "the package carries a config.dat"
depends=$(dpkg-deb -f "$deb" Depends)
for library in libsdl2 libopenmpt libpng; do
  grep -q "$library" <<<"$depends" || fail "Depends does not name $library: $depends"
done
# The game draws its text from the fonts it carries: no font library, no system font.
for library in libsdl2-ttf libfontconfig fonts-dejavu; do
  grep -q "$library" <<<"$depends" && fail "Depends names $library, which the game does not use: $depends"
done

root="$work/root"
dpkg-deb -x "$deb" "$root" || fail "dpkg-deb -x failed"
mkdir -p "$work/elsewhere" "$work/home"

# start_installed ENV...: starts the unpacked program from another folder with a scratch home; sets pid.
start_installed() {
  (cd "$work/elsewhere" && exec env -u XDG_DATA_HOME HOME="$work/home" SDL_AUDIODRIVER=dummy "$@" \
    "$root/$prefix/bin/pellorin" >"$work/out.log" 2>&1) &
  pid=$!
}

# The menu drawn: a window of the program's own whose picture is mostly not black and has many colours.
menu_drawn() {
  local wid
  wid=$(xdotool search --pid "$pid" --name '^Pellorin$' 2>/dev/null | tail -1)
  [ -n "$wid" ] && xwd -silent -id "$wid" >"$work/shot.xwd" 2>/dev/null || return 1
  python3 - "$work/shot.xwd" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
header_size, = struct.unpack(">I", data[0:4])
width, height = struct.unpack(">II", data[16:24])
bits_per_pixel, bytes_per_line = struct.unpack(">I", data[44:48])[0], struct.unpack(">I", data[48:52])[0]
ncolors, = struct.unpack(">I", data[76:80])
pixels = data[header_size + 12 * ncolors:]
step = bits_per_pixel // 8
seen, dark, total = set(), 0, 0
for y in range(0, min(height, 600), 9):
    for x in range(0, min(width, 800), 9):
        p = pixels[y * bytes_per_line + x * step:y * bytes_per_line + x * step + 3]
        seen.add(p)
        total += 1
        dark += p == b"\0\0\0"
sys.exit(0 if total > 0 and dark < total // 10 and len(seen) > 200 else 1)
PY
}

# run_case WHAT CONFIG ENV...: the installed game reaches the menu and writes CONFIG, and only that.
run_case() {
  local what=$1 config=$2
  shift 2
  start_installed "$@"
  local drawn=""
  for _ in $(seq 1 60); do
    kill -0 "$pid" 2>/dev/null || fail "$what: the program ended: $(cat "$work/out.log")"
    menu_drawn && { drawn=1; break; }
    sleep 0.25
  done
  [ -n "$drawn" ] || fail "$what: the menu was not drawn: $(cat "$work/out.log")"
  for _ in $(seq 1 20); do [ -f "$config" ] && break; sleep 0.1; done
  [ "$(stat -c %s "$config" 2>/dev/null)" = 158 ] || fail "$what: no 158-byte $config"
  local others
  others=$(find "$root" "$work/elsewhere" "$work/home" -name config.dat ! -path "$config")
  [ -z "$others" ] || fail "$what: config.dat also in $others"
  kill "$pid"
  wait "$pid" 2>/dev/null
  pid=""
  rm -f "$config"
  echo "package test: $what: menu drawn, $config written"
}

run_case "~/.local/share" "$work/home/.local/share/pellorin/config.dat"
run_case "XDG_DATA_HOME" "$work/xdg/pellorin/config.dat" XDG_DATA_HOME="$work/xdg"
echo "package test: $(basename "$deb") ($(du -k "$deb" | cut -f1) KiB) holds the game and its desktop files"
