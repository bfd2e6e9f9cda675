#!/usr/bin/env bash
# BUILD CORPUS: wall time of the host over the corpus (wineserver already
# running) against exiftool (one batch process) and a mutagen loop (one process).
set -euo pipefail
build=$1 corpus=$2
winpath() { local p; p=$(realpath "$1"); echo "Z:${p//\//\\}"; }
n=$(find "$corpus" -type f | wc -l)
wall() { local t0 t1; t0=$(date +%s.%N); "$@" >/dev/null 2>&1 || true; t1=$(date +%s.%N); echo "$t1 - $t0" | bc; }
report() { printf '%-40s %7.2f s  %6.3f ms/file\n' "$1" "$2" "$(echo "$2 * 1000 / $n" | bc -l)"; }

echo "== host over $n files (wall time, best of 3)"
best() { local b=999999 t; for _ in 1 2 3; do t=$(wall "$@"); b=$(echo "if ($t < $b) $t else $b" | bc); done; echo "$b"; }
"$build/wine-run" cmd /c exit
report "quillorn-cli show --json (all cores)" "$(best "$build/wine-run" "$build/Tools/quillorn-cli.exe" show --json "$(winpath "$corpus")")"
report "quillorn-cli show --json --jobs 1" "$(best "$build/wine-run" "$build/Tools/quillorn-cli.exe" show --json --jobs 1 "$(winpath "$corpus")")"
report "wine start alone (cmd /c exit)" "$(best "$build/wine-run" cmd /c exit)"
if command -v exiftool >/dev/null; then
  report "exiftool -j -r (one batch process)" "$(best exiftool -q -j -r "$corpus")"
else
  echo "exiftool: not installed (apt-get install libimage-exiftool-perl)"
fi
report "mutagen loop (/usr/bin/python3, one process)" "$(best /usr/bin/python3 -c '
import os, sys, mutagen
d = sys.argv[1]
for name in sorted(os.listdir(d)):
    f = mutagen.File(os.path.join(d, name))
    if f is not None:
        tags = dict(f.tags or {}); info = (f.info.length, getattr(f.info, "bitrate", 0), getattr(f.info, "sample_rate", 0), getattr(f.info, "channels", 0))
' "$corpus")"
