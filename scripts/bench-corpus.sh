#!/usr/bin/env bash
# FIXTURES OUT COUNT: fills OUT with COUNT copies of the fixtures TagLib reads,
# cycling through them (a fixed set, so runs compare).
set -euo pipefail
fixtures=$1 out=$2 count=$3
files=(id3v2.mp3 id3v1.mp3 notags.mp3 tagged.flac tagged.ogg oggflac.oga tagged.spx tagged.opus
       tagged.m4a tagged.wma tagged.wav tagged.aiff tagged.wv tagged.tta tagged.mpc)
if [ "$(find "$out" -type f 2>/dev/null | wc -l)" -eq "$count" ]; then exit 0; fi
rm -rf "$out"
mkdir -p "$out"
for ((i = 0; i < count; i++)); do
  f=${files[i % ${#files[@]}]}
  cp "$fixtures/$f" "$out/$(printf '%04d' "$i")-$f"
done
