#!/usr/bin/env bash
# Builds Pellorin for the browser into build-web/site/ (a static folder any web server can serve) and
# the Node replay check into build-web/verify/. The game's data come from the native build (build/).
# Run by hand, it first has scripts/setup.sh --web install what is missing (emscripten) and make the
# native build, which then runs this again.
#   scripts/build-web.sh            build
#   scripts/build-web.sh --serve    build, then serve build-web/site/ on http://127.0.0.1:8000/
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
native=${PELLORIN_NATIVE_BUILD:-$root/build}
out=${PELLORIN_WEB_BUILD:-$root/build-web}
jobs=${JOBS:-$(nproc)}
werror=${PELLORIN_WERROR:-ON}
# emscripten's optimizer needs acorn, which Debian keeps in Node's shared folder.
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}

if [ -z "${PELLORIN_SETUP_DONE:-}" ]; then
  "$root/scripts/setup.sh" --web
else
  build_here=1
fi

serve() {
  echo "build-web.sh: serving $out/site on http://127.0.0.1:8000/ (Ctrl+C ends)"
  exec python3 -m http.server --bind 127.0.0.1 --directory "$out/site" 8000
}
if [ -z "${build_here:-}" ]; then
  [ "${1:-}" = "--serve" ] && serve
  exit 0
fi

if ! command -v emcmake >/dev/null; then
  echo "build-web.sh: emscripten is not installed (scripts/setup.sh installs it)" >&2
  exit 1
fi
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

# The data, made by the native build's tools.
if [ ! -f "$native/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$native" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELLORIN_WERROR="$werror" "${launcher[@]}"
fi
cmake --build "$native" --target pellorin_pictures pellorin_sounds pellorin_fonts -j"$jobs"

# libopenmpt for the page's songs, fetched once and checked against its pinned integrity.
deps=$out/deps/chiptune3
"$root/scripts/fetch-web-deps.sh" "$deps"

emcmake cmake -S "$root" -B "$out/cmake" -DCMAKE_BUILD_TYPE=Release -DPELLORIN_WERROR="$werror" \
  "${launcher[@]}" >/dev/null
cmake --build "$out/cmake" -j"$jobs"

site=$out/site
rm -rf "$site.new"
mkdir -p "$site.new"
cp "$root"/web/site/* "$site.new/"
cp "$out/cmake/web/pellorin.js" "$out/cmake/web/pellorin.wasm" "$site.new/"
cp "$deps/libopenmpt.worklet.js" "$site.new/libopenmpt.js"
cp "$deps/LICENSE" "$site.new/LICENSE-libopenmpt.txt"
python3 "$root/web/pack_data.py" "$site.new/game-data.gz" "$native/run" data sound
rm -rf "$site"
mv "$site.new" "$site"

verify=$out/verify
mkdir -p "$verify"
rm -rf "$verify/data" "$verify/sound"
cp -r "$native/run/data" "$native/run/sound" "$verify/"
cp "$out/cmake/web/pellorin-verify.js" "$out/cmake/web/pellorin-verify.wasm" "$verify/"
echo "build-web.sh: the page is in $site; the replay check is $verify/pellorin-verify.js"
