#!/usr/bin/env bash
# How much of game/ the golden games play: line and branch coverage of game/ in a coverage build in
# build-cov/, from recording the golden games again (into a scratch folder: tests/golden/ is left as it
# is) and checking each kept one with --verify-replay. Installs gcovr if it is missing and makes build/
# (for the data files) with scripts/setup.sh first. Usage: scripts/golden-coverage.sh [--html DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
html=""
if [ "${1:-}" = "--html" ]; then html=${2:?--html needs a folder}; fi

if ! command -v gcovr >/dev/null; then
  sudo=""
  [ "$(id -u)" = 0 ] || sudo="sudo"
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends gcovr >/dev/null
fi
scripts/setup.sh

# The data files are those build/ made; the coverage build makes none of its own.
if [ ! -f build-cov/CMakeCache.txt ]; then
  cmake -S . -B build-cov -DCMAKE_BUILD_TYPE=Debug -DPELLORIN_WERROR=ON -DPELLORIN_DATA=OFF -DPELLORIN_BENCH=OFF \
    -DCMAKE_CXX_FLAGS=--coverage -DCMAKE_C_FLAGS=--coverage -DCMAKE_EXE_LINKER_FLAGS=--coverage >build-cov.log 2>&1 ||
    { cat build-cov.log; exit 1; }
fi
cmake --build build-cov --target pellorin record_golden_games -j "$(nproc 2>/dev/null || echo 2)" >build-cov.log 2>&1 ||
  { tail -n 60 build-cov.log; exit 1; }
rm -f build-cov.log
for folder in data sound; do ln -sfn "$root/build/run/$folder" "build-cov/run/$folder"; done

find build-cov -name '*.gcda' -delete
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
PELLORIN_GOLDEN_OUT=$scratch build-cov/tests/record_golden_games --gtest_also_run_disabled_tests >"$scratch/record.log" 2>&1 ||
  { cat "$scratch/record.log"; exit 1; }
for replay in tests/golden/*.replay; do
  (cd build-cov/run && ./pellorin --verify-replay "$root/$replay") >/dev/null ||
    { echo "golden-coverage: $replay does not play back equal"; exit 1; }
done

report=(gcovr --root "$root" --filter "$root/game/" --exclude-throw-branches build-cov)
"${report[@]}" --print-summary
"${report[@]}" --branches | sed -n '/^File/,$p'
if [ -n "$html" ]; then
  mkdir -p "$html"
  "${report[@]}" --html-details "$html/index.html" >/dev/null
  echo "golden-coverage: the annotated sources are in $html/index.html"
fi
