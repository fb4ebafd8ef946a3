#!/usr/bin/env bash
# Configures and builds a Windows build with mingw-w64:
#   scripts/build-windows.sh [--x86] [TARGET...]
# x64 (the default) in build/windows, x86 in build/windows-x86, each with its tests (the
# x86 ones run under 32-bit Wine). TARGETs limit the build; the default is all.
# The same directories and settings as the presets windows-x64 and windows-x86.
# Parallel jobs: CMAKE_BUILD_PARALLEL_LEVEL, default 2.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$root/build/windows
toolchain=$root/cmake/mingw-w64-x86_64.cmake
if [ "${1:-}" = "--x86" ]; then
  shift
  dir=$root/build/windows-x86
  toolchain=$root/cmake/mingw-w64-i686.cmake
fi
targets=()
for target in "$@"; do targets+=(--target "$target"); done
cmake -S "$root" -B "$dir" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$dir" -j "${CMAKE_BUILD_PARALLEL_LEVEL:-2}" "${targets[@]}"
