#!/usr/bin/env bash
# Builds both Windows flavours and packs build/release/Tesmo-<version>.zip:
#   Tesmo-<version>/x64/  and  x86/   the installed trees (bin/, include/, lib/, share/):
#                                      the library, the demo host, the test devices and
#                                      the licences of the pixel libraries in the DLL
#   Tesmo-<version>/README.md, docs/*.md (the host guide among them), docs/example/
# The version is the one in project(Tesmo VERSION ...). Runs no tests (scripts/test.sh
# does); needs zip and unzip (scripts/install-deps.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
./scripts/check-guide.sh
./scripts/build-windows.sh >/dev/null
./scripts/build-windows.sh --x86 Tesmo tesmo-capture TesmoTestDevices >/dev/null

release=build/release
stage=$release/stage
rm -rf "$stage"
cmake --install build/windows --prefix "$stage/x64" --strip >/dev/null
cmake --install build/windows-x86 --prefix "$stage/x86" --strip >/dev/null
version=$(sed -n 's/^set(PACKAGE_VERSION "\(.*\)")$/\1/p' "$stage/x64/lib/cmake/Tesmo/TesmoConfigVersion.cmake")
[ -n "$version" ] || { echo "no version in the installed package" >&2; exit 1; }

name=Tesmo-$version
mkdir -p "$stage/$name/docs/example"
mv "$stage/x64" "$stage/x86" "$stage/$name/"
cp README.md "$stage/$name/"
cp docs/*.md "$stage/$name/docs/"
cp docs/example/CMakeLists.txt docs/example/host.cpp "$stage/$name/docs/example/"

zipfile=$root/$release/$name.zip
rm -f "$zipfile"
(cd "$stage" && zip -qr -X "$zipfile" "$name")
rm -rf "$stage"

# The archive holds both flavours.
listing=$(unzip -Z1 "$zipfile")
for file in {x64,x86}/{bin/Tesmo.dll,bin/tesmo-capture.exe,bin/TesmoTestDevices.dll,include/Tesmo.h} \
            {x64,x86}/lib/{libTesmo.dll.a,Tesmo.lib,cmake/Tesmo/TesmoConfig.cmake} docs/host-guide.md \
            {x64,x86}/share/licenses/Tesmo/{libjpeg-turbo-LICENSE.md,libjpeg-turbo-README.ijg,libyuv-LICENSE,libyuv-PATENTS}; do
  grep -qx "$name/$file" <<<"$listing" || { echo "missing from the archive: $file" >&2; exit 1; }
done
echo "$release/$name.zip: $(du -k "$zipfile" | cut -f1) KiB, $(wc -l <<<"$listing") entries"
