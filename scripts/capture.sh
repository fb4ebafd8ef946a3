#!/usr/bin/env bash
# The main job: install everything, build, and capture from the default audio and
# video devices into a WAV file and BMP frames. Extra arguments go to tesmo-capture,
# e.g.
#   scripts/capture.sh --seconds 10 --rate 44100 --channels 2 --size 640x480 --preview
# Here the default devices are the project's synthetic microphone and camera,
# registered into a private Wine prefix and shown on a virtual X display; on Windows
# run build/windows/bin/tesmo-capture.exe directly.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
./scripts/install-deps.sh
./scripts/build-windows.sh >/dev/null
# The video renderer needs a 24-bit X display; without one, use a virtual one.
if [ -z "${DISPLAY:-}" ] && [ -z "${TESMO_IN_XVFB:-}" ]; then
  TESMO_IN_XVFB=1 exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi
. scripts/wine-env.sh
tesmo_wine_up
./scripts/register-test-devices.sh --defaults build/windows/bin/TesmoTestDevices.dll
out=build/capture
rm -rf "$out" && mkdir -p "$out"
status=0
# The library writes one line per delivered video frame; the progress lines are the rest.
tesmo_wine build/windows/bin/tesmo-capture.exe --out "$out/tesmo-capture.wav" --frames "$out/frames" "$@" |
  grep --line-buffered -v '^video frame' || status=${PIPESTATUS[0]}
tesmo_wine_down
[ "$status" -eq 0 ] || { echo "tesmo-capture failed (exit $status)" >&2; exit "$status"; }
echo
echo "The capture is in $root/$out: tesmo-capture.wav and frames/frame-NNNNNN.bmp"
[ -f "$out/tesmo-capture.wav" ] && command -v soxi >/dev/null && soxi "$out/tesmo-capture.wav"
# The synthetic devices send a running byte sequence and a numbered picture: a gap
# would be a dropout, a wrong picture a corrupted frame.
if [ $# -eq 0 ]; then
  python3 scripts/check-wav.py "$out/tesmo-capture.wav" --sequence
  python3 scripts/check-bmp.py "$out/frames" --pattern --numbers
fi
