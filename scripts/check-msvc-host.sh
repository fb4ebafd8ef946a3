#!/usr/bin/env bash
# check-msvc-host.sh BUILD [WINE]: installs the Windows build BUILD into a temporary
# prefix and builds tests/msvchost/host.cpp against it with the Microsoft C++ ABI
# (clang for x86_64-pc-windows-msvc, Wine's Windows headers, lld-link with the
# package's lib/Tesmo.lib), then with WINE runs it against the registered test devices.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "$1") wine=${2:-}
winelib=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
wineinclude=/usr/include/wine/wine
for need in clang++ lld-link "$winelib/libkernel32.a" "$wineinclude/windows/windows.h"; do
  command -v "$need" >/dev/null || [ -e "$need" ] ||
    { echo "missing $need (scripts/install-deps.sh installs clang, lld, libwine-dev)"; exit 1; }
done
work=$(mktemp -d "${TMPDIR:-/tmp}/tesmo-msvchost.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null

# Wine's winnt.h defines _InterlockedCompareExchange128, which clang takes for its own
# builtin: renamed out of the way. No C++ library, exceptions or RTTI, none needed.
clang++ --target=x86_64-pc-windows-msvc -std=c++17 -O1 -Wall -Wno-unused-parameter \
  -fms-extensions -fms-compatibility -fno-exceptions -fno-rtti -nostdinc \
  -isystem "$wineinclude/msvcrt" -isystem "$wineinclude/windows" \
  -D_InterlockedCompareExchange128=wine_ice128 -DWIN32_LEAN_AND_MEAN \
  -I "$prefix/include" -c "$root/tests/msvchost/host.cpp" -o "$work/host.obj"
# Wine's stdio.h calls the UCRT's printf family: ucrtbase, not msvcrt.
lld-link /nologo /subsystem:console /entry:mainCRTStartup /nodefaultlib /out:"$work/msvc-host.exe" \
  "$work/host.obj" "$prefix/lib/Tesmo.lib" "$winelib/libkernel32.a" "$winelib/libole32.a" \
  "$winelib/libuser32.a" "$winelib/libucrtbase.a"
cp "$prefix/bin/Tesmo.dll" "$work/"

imports=$("$root/scripts/check-dll.sh" "$work/msvc-host.exe") || { echo "$imports"; exit 1; }
grep -q ' tesmo\.dll' <<<"$imports" || { echo "the MSVC-ABI host does not import Tesmo.dll"; exit 1; }
[ -z "$wine" ] && { echo "ok: built the MSVC-ABI host against the package"; exit 0; }
cd "$work" && "$wine" msvc-host.exe
