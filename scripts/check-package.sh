#!/usr/bin/env bash
# check-package.sh BUILD TOOLCHAIN [WINE]: installs the Windows build BUILD into a
# temporary prefix, checks the layout, builds docs/example against it with
# find_package(Tesmo) and the toolchain file, and with WINE runs the example, which
# needs a capture device of each kind (scripts/run-wine-tests.sh registers the test
# devices). Without WINE (the x86 build) the example is built and inspected only.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "$1") toolchain=$(realpath "$2") wine=${3:-}
work=$(mktemp -d "${TMPDIR:-/tmp}/tesmo-package.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
status=0

cmake --install "$build" --prefix "$prefix" >/dev/null
expected=(include/Tesmo.h lib/libTesmo.dll.a lib/Tesmo.lib bin/Tesmo.dll bin/tesmo-capture.exe
          lib/cmake/Tesmo/TesmoConfig.cmake lib/cmake/Tesmo/TesmoConfigVersion.cmake)
# The x86 build leaves the test devices out.
[ -f "$build/bin/TesmoTestDevices.dll" ] && expected+=(bin/TesmoTestDevices.dll)
for file in "${expected[@]}"; do
  [ -f "$prefix/$file" ] || { echo "not installed: $file"; status=1; }
done
cmp -s "$root/include/Tesmo.h" "$prefix/include/Tesmo.h" || { echo "installed header differs"; status=1; }

# Cross-compiling, find_package looks only below the toolchain's root path, so the
# package directory is named directly.
if ! cmake -S "$root/docs/example" -B "$work/host" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
       -DCMAKE_BUILD_TYPE=Release -DTesmo_DIR="$prefix/lib/cmake/Tesmo" >"$work/configure.log" 2>&1; then
  cat "$work/configure.log"; echo "the example does not configure against the package"; exit 1
fi
if ! cmake --build "$work/host" -j 2 >"$work/build.log" 2>&1; then
  cat "$work/build.log"; echo "the example does not build against the package"; exit 1
fi
cmp -s "$prefix/bin/Tesmo.dll" "$work/host/Tesmo.dll" || { echo "Tesmo.dll not copied beside the example"; status=1; }

# Linked to Tesmo.dll through the import library, and to no compiler run-time DLL.
imports=$("$root/scripts/check-dll.sh" "$work/host/example-host.exe") || { echo "$imports"; status=1; }
grep -q ' tesmo\.dll' <<<"$imports" || { echo "the example does not import Tesmo.dll"; status=1; }

if [ -n "$wine" ]; then
  (cd "$work/host" && "$wine" example-host.exe) || { echo "the example host failed under Wine"; status=1; }
fi
[ $status -eq 0 ] && echo "ok: installed, built the example against the package${wine:+ and ran it}"
exit $status
