#!/usr/bin/env bash
# Sets the machine up (idempotent), then configures and builds everything.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/deps-env.sh"
bash "$root/scripts/setup.sh"
build="${QUILLORN_BUILD_DIR:-$root/build}"
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-i686-mingw.cmake" \
    -DQUILLORN_DEPS="$QUILLORN_DEPS" >/dev/null
fi
cmake --build "$build" -- -j"$(nproc)"
