#!/usr/bin/env bash
# check-dll.sh [--machine ARCH] DLL NAME...: the DLL (or program) exports each NAME
# undecorated and imports only system DLLs (the compiler run-time is linked in
# statically); with --machine, it is built for ARCH (objdump's name: i386, i386:x86-64).
set -euo pipefail
machine=""
if [ "${1:-}" = "--machine" ]; then machine=$2; shift 2; fi
dll=$1; shift
objdump=$(command -v x86_64-w64-mingw32-objdump || echo objdump)
dump=$("$objdump" -p "$dll")
status=0
if [ -n "$machine" ]; then
  found=$("$objdump" -f "$dll" | sed -n 's/^architecture: \([^,]*\),.*/\1/p')
  [ "$found" = "$machine" ] || { echo "built for ${found:-an unknown machine}, not $machine"; status=1; }
fi
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
[ $status -eq 0 ] && echo "ok: $(basename "$dll")${machine:+ ($machine)} exports ${*:-nothing checked} and imports only: $(echo $imports)"
exit $status
