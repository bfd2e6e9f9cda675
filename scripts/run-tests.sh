#!/usr/bin/env bash
# Sets up, builds and runs every test under Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/build.sh"
build="${QUILLORN_BUILD_DIR:-$root/build}"
ctest --test-dir "$build" --output-on-failure "$@"
