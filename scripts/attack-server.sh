#!/bin/sh
# Runs the attacks the world server is held against on loopback, against the real pellorin-server with
# the real game as its verifier, and prints one line per case: the case, what was expected, what
# happened, PASS, FAIL or SKIP. Exit status 0 only when no case failed.
#
#   scripts/attack-server.sh [BUILD_DIR]      (default: build)
#
# The replays are crafted from the golden games by scripts/attack_replays.py; the cases are in
# scripts/attack_server.py. The hung database (SIGSTOP) runs when Debian's PostgreSQL server programs
# are installed (/usr/lib/postgresql/*/bin), and is SKIP otherwise.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${1:-$root/build}
server=$build/server/pellorin-server
game=$build/run/pellorin
for program in "$server" "$game"; do
  if [ ! -x "$program" ]; then
    echo "attack-server: $program is missing; build pellorin-server, pellorin and the game's data first" >&2
    exit 2
  fi
done
exec python3 "$here/attack_server.py" --server "$(cd "$(dirname "$server")" && pwd)/pellorin-server" \
  --game "$(cd "$(dirname "$game")" && pwd)/pellorin" --golden "$root/tests/golden"
