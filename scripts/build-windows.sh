#!/usr/bin/env bash
# Configures and builds a Windows build with mingw-w64:
#   scripts/build-windows.sh [--x86] [TARGET...]
# x64 (the default) in build/windows, with the tests; x86 in build/windows-x86, without
# them (32-bit programs cannot run here). TARGETs limit the build; the default is all.
# The same directories and settings as the presets windows-x64 and windows-x86.
# Parallel jobs: CMAKE_BUILD_PARALLEL_LEVEL, default 2.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$root/build/windows
toolchain=$root/cmake/mingw-w64-x86_64.cmake
options=()
if [ "${1:-}" = "--x86" ]; then
  shift
  dir=$root/build/windows-x86
  toolchain=$root/cmake/mingw-w64-i686.cmake
  options=(-DTESMO_BUILD_TESTS=OFF)
fi
targets=()
for target in "$@"; do targets+=(--target "$target"); done
cmake -S "$root" -B "$dir" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${options[@]}" >/dev/null
cmake --build "$dir" -j "${CMAKE_BUILD_PARALLEL_LEVEL:-2}" "${targets[@]}"
