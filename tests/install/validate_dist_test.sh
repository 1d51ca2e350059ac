#!/usr/bin/env bash
# The desktop entry, the AppStream metadata and the manual page as the desktop's own tools read them:
# desktop-file-validate and appstreamcli validate (no network) must pass with nothing to say beyond
# AppStream's infos, and man must format the manual pages (the game's and the server's) without a warning.
# With the program given, every command line of the desktop entry (its Exec and those of its actions) is
# one the program accepts. Usage: validate_dist_test.sh DIST_DIR APP_ID [PELLORIN]
set -u
dist=$1
app_id=$2
program=${3:-}
failures=0
fail() { echo "dist validation: $*" >&2; failures=$((failures + 1)); }
for tool in desktop-file-validate appstreamcli man; do
  command -v "$tool" >/dev/null || { echo "dist validation: $tool is missing (scripts/setup.sh --test installs it)" >&2; exit 1; }
done

out=$(desktop-file-validate "$dist/$app_id.desktop" 2>&1) && [ -z "$out" ] || fail "desktop entry: $out"
out=$(appstreamcli validate --no-net --no-color "$dist/$app_id.metainfo.xml" 2>&1) || fail "AppStream: $out"
grep -E '^(E|W): ' <<<"$out" && fail "AppStream warns"
for page in pellorin.6 pellorin-server.8; do
  [ -f "$dist/$page" ] || { fail "no manual page $dist/$page"; continue; }
  out=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$dist/$page" 2>&1 >/dev/null)
  [ -z "$out" ] || fail "manual page $page: $out"
done

if [ -n "$program" ]; then
  commands=0
  while IFS= read -r exec_line; do
    commands=$((commands + 1))
    read -r -a words <<<"${exec_line#Exec=}"
    [ "${words[0]}" = pellorin ] || fail "desktop entry: $exec_line does not start pellorin"
    # The options before --help are parsed, then the usage ends the run: status 0 only if they are known.
    "$program" "${words[@]:1}" --help >/dev/null 2>"$dist/exec.err" ||
      fail "desktop entry: the program refuses $exec_line: $(cat "$dist/exec.err")"
  done < <(grep '^Exec=' "$dist/$app_id.desktop")
  rm -f "$dist/exec.err"
  [ "$commands" -ge 4 ] || fail "desktop entry: $commands command lines, not the entry's and its three actions'"
fi

[ "$failures" = 0 ] || exit 1
echo "dist validation: desktop entry (${commands:-unchecked} command lines), AppStream metadata and manual pages pass"
