#!/usr/bin/env bash
# Sets up, builds and runs every test under Wine. Under CI (or with
# QUILLORN_HEAP_CHECK=1) the suite then runs a second time with Wine's heap
# checking on, and any heap error it reports fails the run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/build.sh"
build="${QUILLORN_BUILD_DIR:-$root/build}"
ctest --test-dir "$build" --output-on-failure "$@"

if [ "${CI:-}" = true ] || [ "${QUILLORN_HEAP_CHECK:-}" = 1 ]; then
  log="$build/heap-check.log"
  echo "Running the suite again with Wine's heap checking (log: $log)"
  status=0
  WINEDEBUG=warn+heap ctest --test-dir "$build" -V "$@" > "$log" 2>&1 || status=$?
  if grep -E '(err|warn):heap' "$log" | head -n 20; then
    echo "Wine's heap checking reported errors"
    status=1
  fi
  [ $status -eq 0 ] || grep -E '^\s*[0-9]+ - |\*\*\*Failed|Not Run' "$log" || true
  grep -E 'tests passed, [0-9]+ tests? failed' "$log" | tail -n 1
  exit $status
fi
