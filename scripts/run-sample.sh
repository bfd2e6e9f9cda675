#!/usr/bin/env bash
# Sets up, builds, registers Quillorn.dll in the build tree's Wine prefix and
# shows what a COM host reads from every bundled sample; then writes a field into
# a copy of one and reads it back with a fresh process.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/build.sh"
build="${QUILLORN_BUILD_DIR:-$root/build}"
winpath() { local p; p=$(realpath "$1"); echo "Z:${p//\//\\}"; }

bash "$root/scripts/wine-prefix.sh" start "$build/wineprefix"
trap 'bash "$root/scripts/wine-prefix.sh" stop "$build/wineprefix"' EXIT
run() { "$build/wine-run" "$@"; }
cli="$build/Tools/quillorn-cli.exe"

run regsvr32 /s "$(winpath "$build/Components/Quillorn/Quillorn.dll")"
# Every bundled audio sample, read by parallel workers, printed in this order.
samples=()
for f in id3v2.mp3 id3v1.mp3 tagged.flac tagged.ogg oggflac.oga tagged.spx tagged.opus tagged.m4a \
         tagged.wma tagged.wav tagged.aiff tagged.wv tagged.tta tagged.mpc; do
  samples+=("$(winpath "$root/tests/fixtures/$f")")
done
run "$cli" show "${samples[@]}"
echo
run "$cli" show --json "${samples[0]}"

copy="$build/scratch/sample-copy.flac"
mkdir -p "$build/scratch"
cp "$root/tests/fixtures/tagged.flac" "$copy"
echo
run "$cli" set --title "Written by the sample host" --year 2026 "$(winpath "$copy")"
run "$cli" show "$(winpath "$copy")"
