#!/usr/bin/env bash
# check-dll.sh DLL NAME...: the DLL exports each NAME undecorated and imports only
# system DLLs (the compiler run-time is linked in statically).
set -euo pipefail
dll=$1; shift
objdump=$(command -v x86_64-w64-mingw32-objdump || echo objdump)
dump=$("$objdump" -p "$dll")
status=0
for name in "$@"; do
  if ! grep -qE "^\s*\[\s*[0-9]+\]\s+(\+base\[\s*[0-9]+\]\s+)?[0-9a-fA-F]+\s+$name\$" <<<"$dump" &&
     ! grep -qE "\s$name\$" <<<"$(sed -n '/Ordinal\/Name Pointer/,/^$/p' <<<"$dump")"; then
    echo "missing undecorated export: $name"; status=1
  fi
done
imports=$(grep 'DLL Name:' <<<"$dump" | awk '{print tolower($3)}')
for lib in $imports; do
  case "$lib" in
    libgcc*|libstdc++*|libwinpthread*|msvcp*|vcruntime*) echo "imports a run-time DLL: $lib"; status=1 ;;
  esac
done
[ $status -eq 0 ] && echo "ok: $(basename "$dll") exports $* and imports only: $(echo $imports)"
exit $status
