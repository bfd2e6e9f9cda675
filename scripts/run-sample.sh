#!/usr/bin/env bash
# Sets up, builds, and shows what the component reads from the bundled samples.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/build.sh"
build="${QUILLORN_BUILD_DIR:-$root/build}"
bash "$root/scripts/wine-prefix.sh" start "$build/wineprefix"
trap 'bash "$root/scripts/wine-prefix.sh" stop "$build/wineprefix"' EXIT
"$build/wine-run" "$build/Tools/quillorn-cli.exe" show \
  "Z:${root//\//\\}\\tests\\fixtures\\id3v2.mp3" "Z:${root//\//\\}\\tests\\fixtures\\tagged.wma"
