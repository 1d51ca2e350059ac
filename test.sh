#!/usr/bin/env bash
# Sets up what is missing, then runs the whole test suite: unit and scenario tests (the server's pages
# and the browser build's game in headless Chromium among them, and the browser build's replay check), the same tests in the address and undefined-behaviour sanitizer build,
# the window tests under Xvfb, the game's Debian package of the release build, unpacked and started
# under Xvfb, and the server's, installed into this system (as root), started as its unit starts it and
# purged.
set -euo pipefail
root=$(cd "$(dirname "$0")" && pwd)
cd "$root"
"$root/scripts/setup.sh" --test
jobs=$(nproc 2>/dev/null || echo 2)
status=0
echo "test: unit and scenario tests"
ctest --test-dir build -LE window -j "$jobs" --output-on-failure --timeout 900 >build/ctest.log 2>&1 \
  || { cat build/ctest.log; status=1; }
grep -E 'tests passed|tests failed' build/ctest.log || true
echo "test: sanitizer build"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan -LE 'window|fuzz|web' -j "$jobs" --output-on-failure --timeout 1800 >build-asan/ctest.log 2>&1 \
  || { cat build-asan/ctest.log; status=1; }
grep -E 'tests passed|tests failed' build-asan/ctest.log || true
echo "test: two minutes of games with a random pilot, sanitizer build"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  timeout 600 build-asan/tools/pellorin-soak --minutes 2 --seed 2 >build-asan/soak.log 2>&1 \
  || { cat build-asan/soak.log; status=1; }
grep '^soak:' build-asan/soak.log || true
echo "test: a short fuzzing run of each archive loader and of the score record decoder"
ctest --test-dir build-fuzz -L fuzz --output-on-failure --timeout 300 >build-fuzz/ctest.log 2>&1 \
  || { cat build-fuzz/ctest.log; status=1; }
grep -E 'tests passed|tests failed' build-fuzz/ctest.log || true
echo "test: window tests under Xvfb"
xvfb-run -a -s "-screen 0 1024x768x24" ctest --test-dir build -L window --output-on-failure --timeout 300 \
  >build/ctest-window.log 2>&1 || { cat build/ctest-window.log; status=1; }
grep -E 'tests passed|tests failed' build/ctest-window.log || true
echo "test: a game in the window, sanitizer build"
LSAN_OPTIONS=suppressions=$root/tests/window/lsan.supp ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
  UBSAN_OPTIONS=print_stacktrace=1 xvfb-run -a -s "-screen 0 1024x768x24" \
  ctest --test-dir build-asan -R game_window_tests --output-on-failure --timeout 300 \
  >build-asan/ctest-window.log 2>&1 || { cat build-asan/ctest-window.log; status=1; }
grep -E 'tests passed|tests failed' build-asan/ctest-window.log || true
echo "test: the release build's Debian package, unpacked and started"
app_id=$(sed -n 's/^PELLORIN_APP_ID:STRING=//p' build-release/CMakeCache.txt)
xvfb-run -a -s "-screen 0 1024x768x24" tests/install/package_test.sh build-release "$app_id" \
  >build-release/package-test.log 2>&1 || { cat build-release/package-test.log; status=1; }
grep -E '^package test: .*holds' build-release/package-test.log || true
echo "test: the release build's server package, installed, started as its unit starts it, and purged"
sudo=""
[ "$(id -u)" = 0 ] || sudo="sudo"
$sudo tests/install/server_package_test.sh build-release >build-release/server-package-test.log 2>&1 \
  || { cat build-release/server-package-test.log; status=1; }
grep -E '^server package test: (systemd-analyze|installed)' build-release/server-package-test.log || true
exit $status
