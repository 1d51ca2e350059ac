#!/usr/bin/env bash
# Installs what is missing, configures and builds Pellorin into build/ and makes the data files in
# build/run/. Safe to run again: it installs and rebuilds only what is missing or out of date.
#   scripts/setup.sh            what playing needs
#   scripts/setup.sh --test     also what the test suite needs, and the sanitizer build in build-asan/
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

want_tests=0
[ "${1:-}" = "--test" ] && want_tests=1

packages=(build-essential cmake pkg-config
  libsdl2-dev libsdl2-ttf-dev libfontconfig-dev fonts-dejavu-core
  libcurl4-openssl-dev libopenmpt-dev libpng-dev librsvg2-dev libcairo2-dev
  libgtest-dev libgmock-dev libbenchmark-dev libsdl2-gfx-dev)
# xfonts-base: the core fonts SDL's message box draws with under Xvfb.
test_packages=(xvfb xauth x11-utils x11-apps xdotool clang libclang-rt-14-dev python3 xmp xfonts-base)

missing=()
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

# build DIR [cmake options...]: configures once, then builds quietly; the log is kept on failure.
build() {
  local dir=$1
  shift
  if [ ! -f "$dir/CMakeCache.txt" ]; then
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >"$dir.log" 2>&1 || { cat "$dir.log"; exit 1; }
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
fi
