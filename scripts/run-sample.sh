#!/usr/bin/env bash
# Sets up, builds, registers Quillorn.dll in the build tree's Wine prefix and
# shows what a COM host reads from the bundled samples; then writes a field into
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
run "$cli" show "$(winpath "$root/tests/fixtures/id3v2.mp3")" "$(winpath "$root/tests/fixtures/tagged.wma")"

copy="$build/scratch/sample-copy.flac"
mkdir -p "$build/scratch"
cp "$root/tests/fixtures/tagged.flac" "$copy"
echo
run "$cli" set --title "Written by the sample host" --year 2026 "$(winpath "$copy")"
run "$cli" show "$(winpath "$copy")"
