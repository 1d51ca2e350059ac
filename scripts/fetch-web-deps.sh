#!/usr/bin/env bash
# Fetches what the browser build takes from outside, pinned by its integrity: libopenmpt built for the
# browser, from the npm package chiptune3 (its file libopenmpt.worklet.js, an emscripten module with
# the WebAssembly inside, and the package's LICENSE). Unpacked into DEST (by default
# build-web/deps/chiptune3/), never into the source tree; does nothing when they are already there.
#   scripts/fetch-web-deps.sh [DEST]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dest=${1:-${PELLORIN_WEB_BUILD:-$root/build-web}/deps/chiptune3}
version=0.8.4
url=https://registry.npmjs.org/chiptune3/-/chiptune3-$version.tgz
integrity=sha512-R/eSvmvl6PnTztM0xEa7AEAJjwd/GL0ySsndfwdIHsx1T2ljiRZe3Rwv5piBtGsIJ4/33PpbKcYZYRGYuYP3Mg==

if [ -f "$dest/libopenmpt.worklet.js" ] && [ -f "$dest/LICENSE" ] && [ "$(cat "$dest/.integrity" 2>/dev/null)" = "$integrity" ]; then
  exit 0
fi
mkdir -p "$dest"
python3 - "$url" "$integrity" "$dest" <<'PY'
import base64, hashlib, io, os, sys, tarfile, urllib.request

url, integrity, dest = sys.argv[1:]
with urllib.request.urlopen(url, timeout=120) as reply:
    data = reply.read()
algorithm, _, expected = integrity.partition("-")
got = base64.b64encode(hashlib.new(algorithm, data).digest()).decode()
if got != expected:
    sys.exit(f"fetch-web-deps.sh: {url} does not match its pinned integrity ({algorithm}-{got})")
with tarfile.open(fileobj=io.BytesIO(data), mode="r:gz") as tar:
    for name in ("libopenmpt.worklet.js", "LICENSE"):
        member = tar.extractfile("package/" + name)
        if member is None:
            sys.exit(f"fetch-web-deps.sh: {url} has no {name}")
        with open(os.path.join(dest, name + ".new"), "wb") as out:
            out.write(member.read())
        os.replace(os.path.join(dest, name + ".new"), os.path.join(dest, name))
with open(os.path.join(dest, ".integrity"), "w") as out:
    out.write(integrity + "\n")
PY
echo "fetch-web-deps.sh: chiptune3 $version (libopenmpt for the browser) in $dest"
