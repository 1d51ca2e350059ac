#!/usr/bin/env bash
# Installs what is missing, configures and builds Pellorin into build/ and makes the data files in
# build/run/. Safe to run again: it installs and rebuilds only what is missing or out of date.
#   scripts/setup.sh            what playing needs
#   scripts/setup.sh --web      also emscripten and the browser build in build-web/ (scripts/build-web.sh)
#   scripts/setup.sh --test     also what the test suite needs, the browser build, the sanitizer build in
#                               build-asan/, the fuzzers in build-fuzz/ and the release build (for the
#                               package) in build-release/
# Warnings are errors in these builds (PELLORIN_WERROR); a plain cmake configure leaves them warnings.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

want_tests=0
want_web=0
[ "${1:-}" = "--test" ] && want_tests=1 && want_web=1
[ "${1:-}" = "--web" ] && want_web=1

# fonts-dejavu-core: the faces the build copies into the game's data; libsdl2-ttf-dev: only the
# benchmark's peer draws with SDL2_ttf, the game does not.
packages=(build-essential cmake pkg-config
  libsdl2-dev libstb-dev fonts-dejavu-core libsdl2-ttf-dev
  libcurl4-openssl-dev libopenmpt-dev libpng-dev librsvg2-dev libcairo2-dev
  libgtest-dev libgmock-dev libbenchmark-dev libsdl2-gfx-dev
  libcpp-httplib-dev libmicrohttpd-dev libsqlite3-dev libpq-dev)
# xfonts-base: the core fonts SDL's message box draws with under Xvfb. desktop-file-utils, appstream and
# man-db check the desktop entry, the AppStream metadata and the manual page. openbox: a window manager
# under Xvfb, without which no window goes full screen; wmctrl asks it to maximise a window. pulseaudio
# and pulseaudio-utils: a sound server with a null sink whose monitor the window tests record (parec) to
# hear the game. chromium: the browser the server's pages are tried in, headless. lintian and curl: the
# server's package is checked by Debian's own checker and, installed, spoken to over HTTP. postgresql:
# the database server the server's tests start a cluster of their own from (initdb, pg_ctl). nginx: the
# reverse proxy of docs/server.md, run by a test of its own in front of the server (not as a service).
test_packages=(xvfb xauth x11-utils x11-apps xdotool clang libclang-rt-14-dev python3 xmp xfonts-base
  desktop-file-utils appstream man-db openbox wmctrl pulseaudio pulseaudio-utils chromium lintian curl
  postgresql nginx)

# The browser build: Debian's emscripten (it brings Node, which runs pellorin-verify.js).
web_packages=(emscripten)

missing=()
if [ "$want_web" = 1 ]; then
  packages+=("${web_packages[@]}")
fi
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "$want_tests" = 1 ]; then
  for p in "${test_packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  sudo=""
  [ "$(id -u)" = 0 ] || sudo="sudo"
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

jobs=$(nproc 2>/dev/null || echo 2)

# build DIR [cmake options...]: configures once (again for a tree configured before warnings became
# errors here), then builds quietly; the log is kept on failure.
build() {
  local dir=$1
  shift
  if [ ! -f "$dir/CMakeCache.txt" ] || ! grep -q '^PELLORIN_WERROR:BOOL=ON' "$dir/CMakeCache.txt"; then
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELLORIN_WERROR=ON "$@" >"$dir.log" 2>&1 ||
      { cat "$dir.log"; exit 1; }
  fi
  if ! cmake --build "$dir" -j "$jobs" >"$dir.log" 2>&1; then
    tail -n 60 "$dir.log"
    echo "setup: the build in $dir failed; the whole log is $dir.log"
    exit 1
  fi
  rm -f "$dir.log"
}

build build
if [ "$want_tests" = 1 ]; then
  build build-asan -DPELLORIN_SANITIZE=ON -DPELLORIN_BENCH=OFF
  # The archive loaders' fuzz targets need clang's libFuzzer.
  CC=clang CXX=clang++ build build-fuzz -DPELLORIN_FUZZ=ON -DPELLORIN_BENCH=OFF -DPELLORIN_DATA=OFF -DPELLORIN_TESTS=OFF
  # What a packager builds: the Release type, installed under /usr; the test command packages it.
  build build-release -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DPELLORIN_TESTS=OFF -DPELLORIN_BENCH=OFF
fi
if [ "$want_web" = 1 ]; then
  if ! PELLORIN_SETUP_DONE=1 scripts/build-web.sh >build-web.log 2>&1; then
    tail -n 60 build-web.log
    echo "setup: the browser build failed; the whole log is build-web.log"
    exit 1
  fi
  rm -f build-web.log
fi
