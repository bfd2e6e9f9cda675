#!/usr/bin/env bash
# The opt-in long mutation sweep: N damaged files (100,000 by default) through
# every method of the component; prints the counts at the end. Needs a build.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${QUILLORN_BUILD_DIR:-$root/build}"
bash "$root/scripts/wine-prefix.sh" start "$build/wineprefix"
QUILLORN_MUTANTS="${1:-100000}" "$build/wine-run" "$build/tests/Components/Quillorn/QuillornTest.exe" \
  --gtest_filter='ReliabilityTest.MutantsNeitherCrashNorHangNorLeak'
