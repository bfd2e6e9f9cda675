#!/usr/bin/env bash
# BUILD_DIR: the host-developer folder holds what docs/interface.md promises, and
# the sample host builds from that folder alone with the documented command.
set -euo pipefail
build=$1
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
cmake --install "$build" --prefix "$out/sdk" >/dev/null
for f in Quillorn.dll Quillorn.tlb Quillorn_h.h Quillorn_i.c sample-host.cpp interface.md; do
  [ -s "$out/sdk/$f" ] || { echo "missing from the install folder: $f"; exit 1; }
done
command=$(sed -n 's|^//   \(i686-w64-mingw32-g++-posix .*\) \\$|\1|p' "$out/sdk/sample-host.cpp")
rest=$(sed -n 's|^//       \(-lole32.*\)$|\1|p' "$out/sdk/sample-host.cpp")
[ -n "$command" ] && [ -n "$rest" ] || { echo "no build command at the top of sample-host.cpp"; exit 1; }
(cd "$out/sdk" && eval "$command $rest")
[ -s "$out/sdk/sample-host.exe" ] || { echo "sample-host.exe not built"; exit 1; }
echo "install folder complete; sample host built"
