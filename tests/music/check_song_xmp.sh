#!/bin/sh
# Loads a song in xmp (a second module player): it must load, and say nothing of errors or warnings.
#   check_song_xmp.sh XMP SONG
out=$("$1" --load-only "$2" 2>&1) || { echo "$out"; exit 1; }
echo "$out"
echo "$out" | grep -q 'Module type' || exit 1
if echo "$out" | grep -qiE 'error|warn'; then exit 1; fi
