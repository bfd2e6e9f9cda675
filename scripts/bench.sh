#!/usr/bin/env bash
# Builds and runs the benchmarks under the build tree's Wine prefix; prints the
# figures BENCHMARKS.md records. CYCLES (default 100000) sets the growth loops.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${QUILLORN_BUILD_DIR:-$root/build}"
cycles="${CYCLES:-100000}"
winpath() { local p; p=$(realpath "$1"); echo "Z:${p//\//\\}"; }

ninja -C "$build" -j2 Quillorn quillorn-cli quillorn-bench >/dev/null
bash "$root/scripts/wine-prefix.sh" start "$build/wineprefix"
run() { "$build/wine-run" "$@"; }
run regsvr32 /s "$(winpath "$build/Components/Quillorn/Quillorn.dll")"

corpus="$build/bench-corpus"
bash "$root/scripts/bench-corpus.sh" "$root/tests/fixtures" "$corpus" 1000
scratch="$build/scratch"
mkdir -p "$scratch"

echo "== machine"
echo "$(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'); $(wine --version); 32-bit side under qemu user emulation: $( [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ] && echo yes || echo no)"

run "$build/benchmarks/quillorn-bench.exe" "$(winpath "$root/tests/fixtures")" "$(winpath "$corpus")" "$(winpath "$scratch")" "$cycles"

bash "$root/scripts/bench-host.sh" "$build" "$corpus"
