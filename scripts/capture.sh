#!/usr/bin/env bash
# The main job: install everything, build, and capture from the default audio
# device into a WAV file. Extra arguments go to tesmo-capture, e.g.
#   scripts/capture.sh --seconds 10 --rate 44100 --channels 2
# Here the default device is the project's synthetic microphone, registered into a
# private Wine prefix; on Windows run build/windows/bin/tesmo-capture.exe directly.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
./scripts/install-deps.sh
./scripts/build-windows.sh >/dev/null
. scripts/wine-env.sh
tesmo_wine_up
[ -x scripts/register-test-devices.sh ] && ./scripts/register-test-devices.sh build/windows/bin/TesmoTestDevices.dll
mkdir -p build/capture
out=build/capture/tesmo-capture.wav
status=0
tesmo_wine build/windows/bin/tesmo-capture.exe --out "$out" "$@" || status=$?
tesmo_wine_down
[ $status -eq 0 ] || { echo "tesmo-capture failed (exit $status)" >&2; exit $status; }
echo
echo "The capture is in $root/$out"
if command -v soxi >/dev/null; then soxi "$out"; fi
# The synthetic microphone sends a running byte sequence: a gap would be a dropout.
if command -v python3 >/dev/null && [ $# -eq 0 ]; then python3 scripts/check-wav.py "$out" --sequence; fi
