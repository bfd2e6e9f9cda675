#!/usr/bin/env bash
# A self-contained PE32 i386 DLL: it imports system DLLs only (no libgcc,
# libstdc++, winpthread or TagLib DLL) and exports the five entry points by name.
set -euo pipefail
dll=$1
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
headers=$($objdump -p "$dll")
grep -q 'file format pei-i386' <<<"$headers" || { echo "not a PE32 i386 image"; exit 1; }
grep -q 'Characteristics.*DLL\|(DLL)' <<<"$headers" || grep -q '^Characteristics' <<<"$headers"
system='^(kernel32|user32|advapi32|ole32|oleaut32|rpcrt4|msvcrt|shell32|shlwapi|gdi32|comctl32|shfolder|api-ms-win-.*)\.dll$'
status=0
while read -r name; do
  if ! grep -qiE "$system" <<<"$name"; then
    echo "imports a non-system DLL: $name"; status=1
  fi
done < <(sed -n 's/^\s*DLL Name: //p' <<<"$headers")
for export in DllCanUnloadNow DllGetClassObject DllInstall DllRegisterServer DllUnregisterServer; do
  grep -qE "\]\s+$export$|\s$export$" <<<"$headers" || { echo "missing export $export"; status=1; }
done
echo "imports: $(sed -n 's/^\s*DLL Name: //p' <<<"$headers" | tr '\n' ' ')"
exit $status
