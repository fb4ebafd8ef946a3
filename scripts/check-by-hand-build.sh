#!/usr/bin/env bash
# The by-hand build of docs/building.md as a person types it: the toolchain file named
# by a relative path, the configure run twice (a second configure must not break the
# pixel libraries' sub-builds), then the DLL and its import library built. The pixel
# sources must be there (scripts/fetch-pixel-sources.sh, which the install step runs).
#   scripts/check-by-hand-build.sh [FOLDER]     (default build/by-hand, made afresh)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
dir=${1:-build/by-hand}
rm -rf "$dir"
for pass in first second; do
  cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake >"$dir.log" 2>&1 ||
    { cat "$dir.log"; echo "FAILED: the $pass configure"; exit 1; }
done
cmake --build "$dir" --target Tesmo -j "${CMAKE_BUILD_PARALLEL_LEVEL:-2}" >"$dir.log" 2>&1 ||
  { tail -30 "$dir.log"; echo "FAILED: building the DLL after a second configure"; exit 1; }
for file in bin/Tesmo.dll lib/libTesmo.dll.a; do
  [ -f "$dir/$file" ] || { echo "FAILED: no $dir/$file"; exit 1; }
done
echo "ok: configured twice as docs/building.md says, the build made bin/Tesmo.dll and lib/libTesmo.dll.a"
