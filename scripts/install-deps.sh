#!/usr/bin/env bash
# Installs every package the project needs (Debian 12). Runs as root or via sudo.
set -euo pipefail
packages=(
  cmake ninja-build g++ pkg-config          # native build
  mingw-w64                                  # Windows x64 (and x86) cross compilers
  wine64 xvfb xauth                          # running the Windows programs headless
  googletest libgtest-dev                    # tests: sources for the cross build, package natively
  libbenchmark-dev libjack-jackd2-dev        # benchmarks
  libyuv-dev                                 # the frame converter's reference (tests, benchmark)
  libturbojpeg0-dev                          # the JPEG reference (tests, benchmark)
  sox                                        # checking captured WAV files
  debootstrap pulseaudio pulseaudio-utils    # the check against Wine 10's capture filter
  x11-apps                                   # xwd: the screenshot of the real camera check's preview
  zip unzip                                  # the release archive (scripts/release.sh)
  clang lld llvm libwine-dev                 # the host built with the Microsoft C++ ABI
  libclang-rt-14-dev                         # libFuzzer, for the frame decoder's fuzz target
  nasm dpkg-dev                              # building libjpeg-turbo's SIMD; unpacking source packages
)
# The pixel libraries' Debian source packages, built into the DLL (after the packages,
# which bring dpkg-source).
fetch_sources() { "$(dirname "$0")/fetch-pixel-sources.sh"; }
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
missing=()
for p in "${packages[@]}"; do installed "$p" || missing+=("$p"); done
# 32-bit Wine, for running the x86 build's tests: an i386 package, so the architecture
# comes first. The x86 tests say so where 32-bit programs cannot run even with it.
wine32=0
installed wine32:i386 || wine32=1
[ ${#missing[@]} -eq 0 ] && [ $wine32 -eq 0 ] && { echo "All packages present."; fetch_sources; exit 0; }
sudo=""; [ "$(id -u)" -eq 0 ] || sudo=sudo
export DEBIAN_FRONTEND=noninteractive
if [ $wine32 -eq 1 ]; then
  dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386
  missing+=(wine32:i386)
fi
echo "Installing: ${missing[*]}"
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fetch_sources
