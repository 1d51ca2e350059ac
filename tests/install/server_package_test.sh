#!/usr/bin/env bash
# The server's Debian package as an operator gets it. cpack makes it beside the game's; it holds the
# program, the systemd unit, the settings file (a conffile), the manual page and the docs, nothing of
# the game, and depends on the libraries the program links; lintian finds no error or warning in it.
# Installed into this system with dpkg, its unit passes systemd-analyze verify and its security review.
# systemd does not run here, so the test starts the server the way the unit makes systemd start it:
# the unit's ExecStart with the unit's environment and the settings file (set to a free loopback port,
# as an operator edits it), as a user made up for it, in the state folder systemd makes for such a user,
# with the file system read-only around it, its own /tmp, no home folders and the unit's memory cap.
# A handshake and a result over HTTP are answered "OK", the entry shows in the table, and SIGTERM stops
# it clean. Removing the package keeps the table; purging it leaves nothing of the package behind.
#   server_package_test.sh BUILD_DIR
# Needs root (it installs the package; CI runs as root), dpkg, cpack, curl, python3, setpriv, unshare
# and lintian; systemd-analyze when the system has it.
set -u
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
name=pellorin-server
fail() { echo "server package test: $*" >&2; exit 1; }
note() { echo "server package test: $*"; }
[ "$(id -u)" = 0 ] || fail "needs root: it installs the package into this system"
for tool in cpack dpkg dpkg-deb curl python3 setpriv unshare lintian; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/setup.sh --test installs it)"
done
dpkg-query -W -f='${Status}' "$name" 2>/dev/null | grep -q "installed" &&
  fail "$name is already installed here; this test installs and purges its own copy"
key=$(sed -n 's/^PELLORIN_SCORE_KEY:STRING=//p' "$build/CMakeCache.txt")
[ -n "$key" ] || fail "no PELLORIN_SCORE_KEY in $build/CMakeCache.txt"

work=$(mktemp -d)
installed=""
pid=""
cgroup=""
made_private=""
cleanup() {
  [ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  [ -n "$installed" ] && dpkg -P "$name" >/dev/null 2>&1
  rm -rf "/var/lib/private/$name" "/var/lib/$name"
  [ -n "$made_private" ] && rmdir /var/lib/private 2>/dev/null
  [ -n "$cgroup" ] && rmdir "$cgroup" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# The package: what it holds and needs.
(cd "$build" && cpack -G DEB -B "$work/package") >"$work/cpack.log" 2>&1 || fail "cpack failed: $(cat "$work/cpack.log")"
deb=$(ls "$work"/package/${name}_*.deb 2>/dev/null | head -1)
[ -n "$deb" ] || fail "cpack made no ${name}_*.deb: $(cat "$work/cpack.log")"
contents=$(dpkg-deb -c "$deb" | awk '{print $NF}' | sed 's|^\./||')
unit_path=$(grep -E "systemd/system/$name\.service$" <<<"$contents")
[ -n "$unit_path" ] || fail "the package has no $name.service"
for file in usr/bin/$name etc/default/$name usr/share/man/man8/$name.8.gz usr/share/doc/$name/copyright \
  usr/share/doc/$name/changelog.gz usr/share/doc/$name/server.md; do
  grep -qx "$file" <<<"$contents" || fail "the package lacks $file"
done
grep -E '(^|/)(bin/pellorin|share/pellorin/.*|man6/.*)$' <<<"$contents" && fail "the server's package carries the game"
# Manual page and change log compressed as Debian's policy asks: gzip -9n (no file name, no time stamp,
# the best compression).
for file in usr/share/man/man8/$name.8.gz usr/share/doc/$name/changelog.gz; do
  header=$(dpkg-deb --fsys-tarfile "$deb" | tar -xOf - "./$file" | od -An -tx1 -N9 | tr -d ' \n')
  [ "$header" = 1f8b08000000000002 ] || fail "$file is not compressed with gzip -9n (header $header)"
done
[ "$(dpkg-deb --ctrl-tarfile "$deb" | tar -xOf - ./conffiles)" = "/etc/default/$name" ] ||
  fail "/etc/default/$name is not the package's conffile"
depends=$(dpkg-deb -f "$deb" Depends)
for library in libc6 libsqlite3 libpq5 libstdc++6; do
  grep -q "$library" <<<"$depends" || fail "Depends does not name $library: $depends"
done
lintian --allow-root --no-tag-display-limit "$deb" >"$work/lintian.log" 2>&1
grep -E '^[EW]: ' "$work/lintian.log" && fail "lintian finds errors or warnings in $(basename "$deb")"
note "$(basename "$deb"): $(wc -l <<<"$contents") paths, Depends: $depends; lintian: no error or warning"

# Installed into this system.
installed=1
dpkg -i "$deb" >"$work/dpkg.log" 2>&1 || fail "dpkg -i failed: $(cat "$work/dpkg.log")"
# Where systemd does not run, the installation says that the service is not running and how to start
# it; where it runs and the service started, it says nothing of it.
if [ -d /run/systemd/system ]; then
  grep -q "$name: " "$work/dpkg.log" && fail "dpkg -i spoke of the running service: $(cat "$work/dpkg.log")"
else
  { grep -q "^$name: systemd is not running here, so the service is not running" "$work/dpkg.log" &&
    grep -q 'systemctl start pellorin-server' "$work/dpkg.log" && grep -q "^  $name --listen" "$work/dpkg.log"; } ||
    fail "dpkg -i did not say that the service is not running and how to start it: $(cat "$work/dpkg.log")"
fi
unit="/$unit_path"
[ -x /usr/bin/$name ] && [ -f "$unit" ] && [ -f /etc/default/$name ] || fail "dpkg -i left the files out"
if command -v deb-systemd-helper >/dev/null; then
  [ -L /etc/systemd/system/multi-user.target.wants/$name.service ] || fail "the service was not enabled"
fi
if command -v systemd-analyze >/dev/null; then
  out=$(systemd-analyze verify "$unit" 2>&1) && [ -z "$out" ] || fail "systemd-analyze verify: $out"
  # The threshold counts in tenths: 20 is an exposure of 2.0 ("OK" reaches to 4.9).
  review=$(systemd-analyze security --offline=yes --threshold=20 "$unit" 2>&1) ||
    fail "systemd-analyze security finds the unit exposed: $(tail -1 <<<"$review")"
  note "systemd-analyze verify passes; $(grep -o 'Overall exposure level.*' <<<"$review")"
else
  note "no systemd-analyze here: the unit was not verified"
fi

# The operator's edit: a free loopback port.
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
grep -q '^PELLORIN_LISTEN=127.0.0.1:8080$' /etc/default/$name || fail "the settings file does not listen on 127.0.0.1:8080"
sed -i "s/^PELLORIN_LISTEN=.*/PELLORIN_LISTEN=127.0.0.1:$port/" /etc/default/$name
# And the table: the unit takes it from the settings file too.
grep -q '^PELLORIN_DB=/var/lib/pellorin-server/scores.db$' /etc/default/$name || fail "the settings file does not name the table"
sed -i "s|^PELLORIN_DB=.*|PELLORIN_DB=/var/lib/pellorin-server/world.db|" /etc/default/$name

# The unit as systemd reads it.
settings=$(python3 "$here/unit_command.py" "$unit" "$work") || fail "the unit cannot be read: $settings"
eval "$settings"
mapfile -d '' -t argv <"$work/argv"
mapfile -d '' -t environ <"$work/environ"
[ "${argv[0]}" = /usr/bin/$name ] || fail "ExecStart runs ${argv[0]}, not /usr/bin/$name"
[ "$unit_DynamicUser" = yes ] && [ -z "$unit_User" ] || fail "the unit runs as '$unit_User', not a dynamic user"
[ -n "$unit_StateDirectory" ] || fail "the unit has no StateDirectory"
[ "$unit_ProtectSystem" = strict ] || fail "ProtectSystem is '$unit_ProtectSystem', not strict"

# The user systemd would make up: a free id of its range, its state folder in /var/lib/private, linked
# from /var/lib.
uid=61184
while getent passwd "$uid" >/dev/null || getent group "$uid" >/dev/null; do uid=$((uid + 1)); done
state=/var/lib/private/$unit_StateDirectory
[ -d /var/lib/private ] || { mkdir -m 0700 /var/lib/private; made_private=1; }
mkdir -m 0755 "$state" && chown "$uid:$uid" "$state" && ln -s "private/$unit_StateDirectory" "/var/lib/$unit_StateDirectory" ||
  fail "cannot make the state folder"

# The unit's memory cap, where cgroup v1's memory controller is at hand (v2 gets memory.max).
limit=$(numfmt --from=iec "${unit_MemoryMax:-0}")
if [ "$limit" -gt 0 ] && [ -w /sys/fs/cgroup/memory ]; then
  cgroup=/sys/fs/cgroup/memory/$name-test-$$
  mkdir "$cgroup" && echo "$limit" >"$cgroup/memory.limit_in_bytes" || fail "cannot make a memory cgroup"
elif [ "$limit" -gt 0 ] && grep -qw memory /sys/fs/cgroup/cgroup.controllers 2>/dev/null; then
  cgroup=/sys/fs/cgroup/$name-test-$$
  mkdir "$cgroup" && echo "$limit" >"$cgroup/memory.max" || fail "cannot make a memory cgroup"
else
  note "no memory cgroup to join: MemoryMax=$unit_MemoryMax not applied"
fi

# Started as systemd starts it: in a mount namespace of its own the file system is read-only (but
# /proc, /sys, /dev and the state folder), /var/lib/private holds only its folder, /tmp and /var/tmp
# are its own and the home folders are out of reach; then as the user, without privileges, in the
# working folder, with the unit's umask, descriptor limit and environment only.
stage=$work/state
mkdir "$stage"
export uid stage state unit_UMask unit_LimitNOFILE unit_WorkingDirectory unit_ProtectHome unit_PrivateTmp
(
  [ -n "$cgroup" ] && echo "$BASHPID" >"$cgroup/cgroup.procs"
  exec unshare --mount --propagation private -- bash -c '
    set -e
    mount --bind "$state" "$stage"
    awk "{print \$5}" /proc/self/mountinfo | sort -u | while read -r point; do
      case "$point" in /proc|/proc/*|/sys|/sys/*|/dev|/dev/*|"$stage") continue ;; esac
      mount -o remount,bind,ro "$point" 2>/dev/null || true
    done
    mount -t tmpfs -o mode=0755 tmpfs /var/lib/private
    mkdir "$state"
    mount --bind "$stage" "$state"
    if [ "$unit_ProtectHome" = yes ]; then
      for home in /home /root /run/user; do [ -d "$home" ] && mount -t tmpfs -o mode=0000 tmpfs "$home"; done
    fi
    if [ "$unit_PrivateTmp" = yes ]; then
      mount -t tmpfs -o mode=1777 tmpfs /tmp
      mount -t tmpfs -o mode=1777 tmpfs /var/tmp
    fi
    cd "${unit_WorkingDirectory:-/}"
    [ -n "$unit_UMask" ] && umask "$unit_UMask"
    [ -n "$unit_LimitNOFILE" ] && ulimit -n "$unit_LimitNOFILE"
    exec setpriv --reuid="$uid" --regid="$uid" --clear-groups --no-new-privs --inh-caps=-all \
      --bounding-set=-all -- "$@"' bash env -i PATH=/usr/local/bin:/usr/bin:/bin LANG=C.UTF-8 HOME=/ \
    USER=$name LOGNAME=$name SHELL=/usr/sbin/nologin "STATE_DIRECTORY=/var/lib/$unit_StateDirectory" \
    "${environ[@]}" "${argv[@]}"
) >"$work/server.log" 2>&1 &
pid=$!
address=""
for _ in $(seq 1 100); do
  address=$(sed -n 's|.*listening on \(http://[^,]*\),.*|\1|p' "$work/server.log" | head -1)
  [ -n "$address" ] && break
  kill -0 "$pid" 2>/dev/null || fail "the server ended: $(cat "$work/server.log")"
  sleep 0.1
done
[ "$address" = "http://127.0.0.1:$port" ] || fail "the server does not listen on 127.0.0.1:$port: $(cat "$work/server.log")"
[ "$(stat -c %u "/proc/$pid")" = "$uid" ] || fail "the server does not run as the made-up user $uid"

# A player's submission, as the game makes it, and the table.
script="$address/cgi/version.pl"
handshake=$(curl -sS --noproxy '*' -c "$work/cookies" "$script?version&prg=Pellorin") || fail "no handshake: $(cat "$work/server.log")"
[ "${handshake:0:2}" = OK ] || fail "the handshake was answered '$handshake'"
token=$(cut -d'|' -f5 <<<"$handshake")
inf=$(python3 "$here/score_client.py" encode "Packaged" "Debian" 4321 "$key" "$token")
result=$(curl -sS --noproxy '*' -b "$work/cookies" "$script?hs&prg=Pellorin&inf=$inf") || fail "no reply to the result"
[ "$result" = OK ] || fail "the result was answered '$result': $(cat "$work/server.log")"
table=$(curl -sS --noproxy '*' "$script?prg=Pellorin&show&type=0&format=json")
grep -q '"name":"Packaged","country":"Debian","score":4321' <<<"$table" || fail "the entry is not in the table: $table"
page=$(curl -sS --noproxy '*' "$script?prg=Pellorin&show&type=0")
grep -q '<td>Packaged</td><td>Debian</td>' <<<"$page" || fail "the entry is not on the world page"
[ "$(stat -c '%u %a' "$state/world.db")" = "$uid 600" ] ||
  fail "the table named in the settings file is not the user's own: $(stat -c '%u %a %n' "$state"/*.db)"

# SIGTERM, as systemctl stop sends it, within the unit's stop time-out.
kill -TERM "$pid"
for _ in $(seq 1 $((${unit_TimeoutStopSec:-20} * 10))); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$pid" 2>/dev/null && fail "SIGTERM did not stop the server within ${unit_TimeoutStopSec:-20} s"
wait "$pid"
status=$?
pid=""
[ "$status" = 0 ] || fail "the server ended with status $status after SIGTERM: $(cat "$work/server.log")"
grep -q "stopped.* has 1 entry$" "$work/server.log" ||
  fail "the last line of the log is not the clean stop: $(tail -1 "$work/server.log")"
[ -n "$cgroup" ] && note "the server's memory peaked at $(($(cat "$cgroup/memory.max_usage_in_bytes" 2>/dev/null ||
  cat "$cgroup/memory.peak" 2>/dev/null || echo 0) / 1024)) KiB of $((limit / 1024)) KiB"
note "started as the unit starts it: $(head -1 "$work/server.log")"

# Removed: the table stays; purged: nothing of the package stays.
dpkg -r "$name" >"$work/dpkg.log" 2>&1 || fail "dpkg -r failed: $(cat "$work/dpkg.log")"
[ -f "$state/world.db" ] || fail "removing the package deleted the table"
[ -e /usr/bin/$name ] && fail "dpkg -r left the program"
dpkg -P "$name" >"$work/dpkg.log" 2>&1 || fail "dpkg -P failed: $(cat "$work/dpkg.log")"
installed=""
left=$(while read -r file; do [ -n "$file" ] && [ "${file%/}" = "$file" ] && [ -e "/$file" ] && echo "/$file"; done <<<"$contents"
  find /etc /var/lib -maxdepth 4 -name "*$name*" 2>/dev/null)
[ -z "$left" ] || fail "purging left $left"
note "installed, served and purged clean"
