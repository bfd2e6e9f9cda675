#!/usr/bin/env bash
# fresh-prefix.sh SHARED_PREFIX WORK_DIR WINE_RUN -- PROGRAM [ARGS...]
#
# Runs PROGRAM under Wine in a throwaway copy of the shared prefix, so tests
# can register, unregister and inspect the registry without touching the
# prefix other tests use. Whatever the shared prefix knows of Quillorn is
# cut out of the copy's registry first. The copy is removed afterwards.
set -eu
shared=$1 work=$2 wine_run=$3
shift 3
[ "${1:-}" = "--" ] && shift

rm -rf "$work"
mkdir -p "$work"
prefix="$work/prefix"
# A full copy (under a second): hard links would let Wine's in-place file
# writes reach the shared prefix.
cp -a "$shared" "$prefix"
rm -f "$prefix/wineserver"

# Registry files are blocks separated by blank lines, each starting with its
# key; drop the blocks of Quillorn's class, AppID, type library, interfaces.
pattern='7bc039e5-96e2-48c3-82ae-23889b9c969b|27cd670f-bdd6-43c9-90e2-6842af2e9e65|b5179b3b-8a06-4b20-9790-db48fe706171|f01017d6-62c2-4833-a7f6-8c518dd79b2d|da653033-9c06-4420-a584-3615c3da8bf2|5152dda7-dcd6-40b7-9f0e-86e134a1bba2|appid\\\\\\\\quillorn[.]dll'
for reg in "$prefix"/*.reg; do
  awk -v RS= -v ORS='\n\n' -v pat="$pattern" '
    { split($0, lines, "\n"); if (tolower(lines[1]) ~ pat) next; print }' "$reg" > "$reg.tmp"
  mv "$reg.tmp" "$reg"
done

export WINEPREFIX="$prefix" WINEARCH=win32 WINEDEBUG="${WINEDEBUG:--all}"
export QEMU_RESERVED_VA="${QEMU_RESERVED_VA:-0xffff0000}"
# Without winedbg a crashing test ends at once instead of waiting on the debugger.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe,winedbg.exe=d}"

cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 143' TERM INT

# One server for the whole run keeps each Wine process start short; it ends
# by itself half a minute after its last client should this script be killed.
wineserver -p30 >/dev/null 2>&1 || true
"$wine_run" cmd /c exit >/dev/null 2>&1 || true

set +e
"$wine_run" "$@"
status=$?
set -e
exit $status
