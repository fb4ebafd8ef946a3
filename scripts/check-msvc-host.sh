#!/usr/bin/env bash
# check-msvc-host.sh BUILD [WINE]: installs the Windows build BUILD (x64 or x86) into a
# temporary prefix and builds tests/msvchost/host.cpp against it with the Microsoft C++
# ABI of the DLL's machine (clang for x86_64- or i686-pc-windows-msvc, Wine's Windows
# headers, lld-link with the package's lib/Tesmo.lib), then with WINE runs it against
# the registered test devices.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/wine-env.sh"
build=$(realpath "$1") wine=${2:-}
wineinclude=/usr/include/wine/wine
# Wine's winnt.h defines functions that clang takes for its own builtins: renamed out
# of the way (on x86 the 64-bit interlocked family, done there with compare-exchange).
defines=(-D_InterlockedCompareExchange128=wine_ice128)
case $(tesmo_pe_machine "$build/bin/Tesmo.dll") in
  x64)
    target=x86_64-pc-windows-msvc machine=x64
    # Wine's own import libraries (libwine-dev); Wine's stdio.h calls the UCRT's
    # printf family: ucrtbase, not msvcrt.
    libdir=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
    libs=(kernel32 ole32 user32 ucrtbase)
    ;;
  x86)
    target=i686-pc-windows-msvc machine=x86
    for name in And64 CompareExchangePointer ExchangeAdd64 ExchangePointer Increment64 \
                Decrement64 Or64 Xor64; do
      defines+=("-D_Interlocked$name=wine_Interlocked$name")
    done
    # libwine-dev brings Wine's x64 import libraries only: mingw-w64's i686 ones serve.
    libdir=/usr/i686-w64-mingw32/lib
    libs=(kernel32 ole32 user32 ucrtbase)
    ;;
  *) echo "$build/bin/Tesmo.dll is neither an x64 nor an x86 DLL"; exit 1 ;;
esac
for need in clang++ lld-link llvm-dlltool "$libdir/libkernel32.a" "$wineinclude/windows/windows.h"; do
  command -v "$need" >/dev/null || [ -e "$need" ] ||
    { echo "missing $need (scripts/install-deps.sh installs clang, lld, llvm, libwine-dev)"; exit 1; }
done
work=$(mktemp -d "${TMPDIR:-/tmp}/tesmo-msvchost.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
imports=()
for lib in "${libs[@]}"; do imports+=("$libdir/lib$lib.a"); done
extra=()
if [ $machine = x86 ]; then
  # x86 MSVC code divides 64-bit integers through helpers such as _aullrem, which ntdll
  # exports and no mingw-w64 import library lists; SafeSEH tables need MSVC's objects.
  printf 'LIBRARY ntdll.dll\nEXPORTS\n_aullrem\n_aulldiv\n' >"$work/ntdll.def"
  llvm-dlltool -m i386 -d "$work/ntdll.def" -l "$work/ntdll-helpers.lib"
  imports+=("$work/ntdll-helpers.lib")
  extra=(/safeseh:no)
fi

# No C++ library, exceptions or RTTI, none needed.
clang++ --target=$target -std=c++17 -O1 -Wall -Wno-unused-parameter \
  -fms-extensions -fms-compatibility -fno-exceptions -fno-rtti -nostdinc \
  -isystem "$wineinclude/msvcrt" -isystem "$wineinclude/windows" \
  "${defines[@]}" -DWIN32_LEAN_AND_MEAN \
  -I "$prefix/include" -c "$root/tests/msvchost/host.cpp" -o "$work/host.obj"
lld-link /nologo /machine:$machine /subsystem:console /entry:mainCRTStartup /nodefaultlib \
  "${extra[@]}" /out:"$work/msvc-host.exe" "$work/host.obj" "$prefix/lib/Tesmo.lib" "${imports[@]}"
cp "$prefix/bin/Tesmo.dll" "$work/"

imports=$("$root/scripts/check-dll.sh" --machine "$([ $machine = x86 ] && echo i386 || echo i386:x86-64)" \
          "$work/msvc-host.exe") || { echo "$imports"; exit 1; }
grep -q ' tesmo\.dll' <<<"$imports" || { echo "the MSVC-ABI host does not import Tesmo.dll"; exit 1; }
[ -z "$wine" ] && { echo "ok: built the $machine MSVC-ABI host against the package"; exit 0; }
cd "$work" && "$wine" msvc-host.exe
