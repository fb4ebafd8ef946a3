#!/usr/bin/env bash
# Installs what is missing (scripts/install-deps.sh), builds every build and runs every test:
#   native core under AddressSanitizer + UBSan, native core under ThreadSanitizer,
#   the Windows build (DLL, test devices, demo host, installed package) under Wine,
#   a 60-second soak of both objects under random host operations (scripts/soak.sh),
#   the Windows x86 build's DLL and demo host, inspected, and the library against Wine
#   10's own audio capture filter in a Debian 13 root (skipped where Debian 13's packages
#   cannot be fetched), and the library against Wine's own camera fed by a user-space V4L2
#   device, under Wine 8 and Wine 10 (scripts/check-real-camera.sh).
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
# Whatever this machine lacks (packages, the pixel libraries' sources) comes first.
./scripts/install-deps.sh || { echo "FAILED: installing the dependencies"; exit 1; }
jobs=$(nproc 2>/dev/null || echo 2)
failed=()
skipped=()

native() {  # name sanitizer
  local dir=build/$1
  echo "=== native core, -fsanitize=$2 ($dir) ==="
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTESMO_SANITIZE="$2" >/dev/null &&
    cmake --build "$dir" -j "$jobs" &&
    (cd "$dir" && ASAN_OPTIONS=detect_leaks=1 TSAN_OPTIONS=halt_on_error=1 \
       ctest --output-on-failure -j "$jobs") || failed+=("$1")
}

native asan address,undefined
native tsan thread

echo "=== MJPG frame fuzzer, libFuzzer + ASan + UBSan, 60 s (build/fuzz) ==="
./scripts/fuzz.sh 60 || failed+=(fuzz)

echo "=== Windows x64 build under Wine (build/windows) ==="
if ./scripts/build-windows.sh; then
  # The video renderer and preview windows need an X display; Wine's server and
  # desktop start inside the same display as the tests, once.
  runner=()
  if [ -z "${DISPLAY:-}" ] && command -v xvfb-run >/dev/null; then runner=(xvfb-run -a -s "-screen 0 1024x768x24"); fi
  "${runner[@]}" ./scripts/run-wine-tests.sh || failed+=(windows)
else
  failed+=(windows-build)
fi

echo "=== Soak: audio and video under random host operations, 60 s (scripts/soak.sh) ==="
./scripts/soak.sh 1 || failed+=(soak)

echo "=== Windows x86 build, inspected (build/windows-x86) ==="
# 32-bit programs cannot run here: the library, the demo host and the test devices are built,
# checked for the machine, the undecorated exports and the imports, and installed with
# the guide's example built against the package.
if ./scripts/build-windows.sh --x86 Tesmo tesmo-capture TesmoTestDevices >/dev/null; then
  { ./scripts/check-dll.sh --machine i386 build/windows-x86/bin/Tesmo.dll CreateASC CreateVSC ListCameraModes GetAudioDeviceIdentity GetVideoDeviceIdentity GetVideoCaptureStatistics GetAudioCaptureStatistics ListCameraControls GetCameraControl SetCameraControl GetVideoCaptureError GetAudioCaptureError &&
    ./scripts/check-dll.sh --machine i386 build/windows-x86/bin/tesmo-capture.exe &&
    ./scripts/check-dll.sh --machine i386 build/windows-x86/bin/TesmoTestDevices.dll DllRegisterServer &&
    ./scripts/check-package.sh build/windows-x86 cmake/mingw-w64-i686.cmake; } || failed+=(windows-x86)
else
  failed+=(windows-x86-build)
fi

echo "=== Wine 10's own audio capture filter, in a Debian 13 root (build/trixie-root) ==="
./scripts/check-real-device.sh
case $? in
  0) ;;
  77) skipped+=(real-device) ;;
  *) failed+=(real-device) ;;
esac

echo "=== Wine's own camera, fed by a user-space V4L2 device, under Wine 8 and Wine 10 ==="
./scripts/check-real-camera.sh
case $? in
  0) ;;
  77) skipped+=(real-camera) ;;
  *) failed+=(real-camera) ;;
esac

[ ${#skipped[@]} -gt 0 ] && echo "Skipped: ${skipped[*]}"
if [ ${#failed[@]} -gt 0 ]; then
  echo "FAILED: ${failed[*]}"
  exit 1
fi
echo "All test suites passed."
