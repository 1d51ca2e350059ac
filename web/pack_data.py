#!/usr/bin/env python3
"""Packs the game's data folders into one gzip file for the page (page.js unpacks it):
a 32-bit little-endian length, a JSON index of {"path", "size"}, then the files' bytes in that order.

Usage: pack_data.py OUT.gz RUN_DIR FOLDER...   (FOLDERs relative to RUN_DIR, e.g. data sound)
"""
import gzip
import json
import os
import struct
import sys

# What the page has no use for: the desktop window's icon.
SKIPPED = {"data/icon.png"}


def main():
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    out, run_dir, folders = sys.argv[1], sys.argv[2], sys.argv[3:]
    index, blobs = [], []
    for folder in folders:
        top = os.path.join(run_dir, folder)
        if not os.path.isdir(top):
            sys.exit(f"pack_data.py: {top} is not a folder")
        for root, dirs, files in os.walk(top):
            dirs.sort()
            for name in sorted(files):
                path = os.path.relpath(os.path.join(root, name), run_dir).replace(os.sep, "/")
                if path in SKIPPED:
                    continue
                with open(os.path.join(root, name), "rb") as f:
                    data = f.read()
                index.append({"path": path, "size": len(data)})
                blobs.append(data)
    head = json.dumps(index, separators=(",", ":")).encode()
    raw = struct.pack("<I", len(head)) + head + b"".join(blobs)
    tmp = out + ".tmp"
    with open(tmp, "wb") as f:
        # mtime 0: the same data give the same bytes.
        with gzip.GzipFile(filename="", mode="wb", fileobj=f, compresslevel=9, mtime=0) as z:
            z.write(raw)
    os.replace(tmp, out)
    print(f"pack_data.py: {len(index)} files, {len(raw)} bytes, {os.path.getsize(out)} compressed")


if __name__ == "__main__":
    main()
