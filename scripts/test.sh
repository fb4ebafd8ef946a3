#!/usr/bin/env bash
# Installs what is missing (scripts/install-deps.sh), builds every build and runs every test:
#   native core under AddressSanitizer + UBSan, native core under ThreadSanitizer,
#   the Windows build (DLL, test devices, demo host, installed package) under Wine,
#   the by-hand build of docs/building.md configured twice (scripts/check-by-hand-build.sh),
#   a 60-second soak of both objects under random host operations (scripts/soak.sh),
#   the Windows x86 build inspected and its tests under 32-bit Wine (where this machine
#   runs 32-bit programs), the library against Wine 10's own audio capture filter in a
#   Debian 13 root (skipped where Debian 13's packages cannot be fetched), and the library
#   against Wine's own camera fed by a user-space V4L2 device, under Wine 8 and Wine 10
#   (scripts/check-real-camera.sh).
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
# Whatever this machine lacks (packages, the pixel libraries' sources) comes first.
./scripts/install-deps.sh || { echo "FAILED: installing the dependencies"; exit 1; }
jobs=$(nproc 2>/dev/null || echo 2)
failed=()
skipped=()
# What the x64 run has and the x86 one does not, for the summary. The x86 run chooses
# to stay within about ten minutes on 2 cores: it leaves out code that is the same on
# both machines and crosses no ABI, which the x64 run covers.
x86_not_run=("the native core, fuzzing, the soak and the real-device and real-camera checks (x64 only: natively built parts and tools without a 32-bit build)"
             "the endurance runs (HostThreads' thousand cycles per apartment, AudioCapture's many-cycle leak checks), the camera pin-layout matrix (Layouts/CameraModes) and the test devices' self-test (TestDevicesTest, not built): chosen out for time")
x86_targets=(Tesmo tesmo-capture TesmoTestDevices tesmo_core_tests tesmo_host_tests tesmo_dll_tests
             tesmo_grabber_tests tesmo_capture_tests tesmo_unload_tests tesmo_mixer_tests
             tesmo_version_check)
x86_left_out=(-E 'AThousandCycles|ManyCycles|^Layouts/|^TestDevicesTest_NOT_BUILT$' -LE '^TestDevicesTest$')
# The video renderer and preview windows need an X display; Wine's server and
# desktop start inside the same display as the tests, once.
runner=()
if [ -z "${DISPLAY:-}" ] && command -v xvfb-run >/dev/null; then runner=(xvfb-run -a -s "-screen 0 1024x768x24"); fi

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
  "${runner[@]}" ./scripts/run-wine-tests.sh || failed+=(windows)
else
  failed+=(windows-build)
fi

echo "=== The by-hand build of docs/building.md, configured twice (build/by-hand) ==="
./scripts/check-by-hand-build.sh || failed+=(by-hand-build)

echo "=== Soak: audio and video under random host operations, 60 s (scripts/soak.sh) ==="
./scripts/soak.sh 1 || failed+=(soak)

echo "=== Windows x86 build under 32-bit Wine (build/windows-x86) ==="
# Inspected everywhere: the machine, the undecorated exports and the system imports.
# Its tests run where this machine runs 32-bit programs under Wine; where it does not,
# the example and the MSVC-ABI host are built against its package, not run.
x86_start=$SECONDS
if ./scripts/build-windows.sh --x86 "${x86_targets[@]}" >/dev/null; then
  { ./scripts/check-dll.sh --machine i386 build/windows-x86/bin/Tesmo.dll CreateASC CreateVSC ListCameraModes GetAudioDeviceIdentity GetVideoDeviceIdentity GetVideoCaptureStatistics GetAudioCaptureStatistics ListCameraControls GetCameraControl SetCameraControl GetVideoCaptureError GetAudioCaptureError WatchDevices StopWatchingDevices &&
    ./scripts/check-dll.sh --machine i386 build/windows-x86/bin/tesmo-capture.exe &&
    ./scripts/check-dll.sh --machine i386 build/windows-x86/bin/TesmoTestDevices.dll DllRegisterServer; } ||
    failed+=(windows-x86)
  if why=$(bash -c '. scripts/wine-env.sh && tesmo_wine32_runs'); then
    "${runner[@]}" ./scripts/run-wine-tests.sh build/windows-x86 "${x86_left_out[@]}" || failed+=(windows-x86)
  else
    echo "The x86 tests cannot run on this machine: $why"
    x86_not_run+=("every x86 test under Wine: $why")
    { ./scripts/check-package.sh build/windows-x86 cmake/mingw-w64-i686.cmake &&
      ./scripts/check-msvc-host.sh build/windows-x86; } || failed+=(windows-x86)
  fi
else
  failed+=(windows-x86-build)
fi
echo "The x86 build and its tests took $((SECONDS - x86_start)) s."

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
for part in "${x86_not_run[@]}"; do echo "Not run for x86: $part"; done
if [ ${#failed[@]} -gt 0 ]; then
  echo "FAILED: ${failed[*]}"
  exit 1
fi
echo "All test suites passed."
