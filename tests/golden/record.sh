#!/usr/bin/env bash
# Records the golden games again, for a change that alters play on purpose (bump kReplayRulesVersion in
# protocol/replay_format.h first, and say in the commit why play changed). Usage: tests/golden/record.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build}
cmake --build "$build" --target record_golden_games pellorin -j2
PELLORIN_GOLDEN_OUT=$root/tests/golden "$build/tests/record_golden_games"
rm -f "$root/tests/golden/discarded.replay"
for f in "$root"/tests/golden/*.replay; do
  (cd "$build/run" && "$build/run/pellorin" --verify-replay "$f" --every-frame)
done
