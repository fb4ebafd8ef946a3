#!/usr/bin/env bash
# The demo host end to end under Wine, against the test devices: a WAV with the
# microphone's unbroken byte sequence and BMP frames showing the camera's picture,
# once with the preview window and RGB24, then video only in RGB32 at 600 frames
# per minute and in I420 at 640 x 480. Usage: demo-capture.sh TESMO-CAPTURE.EXE WORKDIR
set -euo pipefail
exe=$1 work=$2
root=$(cd "$(dirname "$0")/../.." && pwd)
. "$root/scripts/wine-env.sh"
rm -rf "$work" && mkdir -p "$work"
cd "$work"

run() {  # name, then tesmo-capture options
  local name=$1; shift
  echo "--- tesmo-capture $*"
  tesmo_wine "$exe" --seconds 2 --out "$name.wav" --frames "$name-frames" "$@" </dev/null >"$name.log" 2>&1 ||
    { grep -v '^video frame' "$name.log"; echo "tesmo-capture failed"; exit 1; }
  grep -v '^video frame' "$name.log"
}

run both --preview
python3 "$root/scripts/check-wav.py" both.wav --sequence
python3 "$root/scripts/check-bmp.py" both-frames --pattern --numbers

run paced --no-audio --format rgb32 --fpm 600
python3 "$root/scripts/check-bmp.py" paced-frames --pattern --numbers
frames=$(ls paced-frames | wc -l)
# About ten frames a second for two seconds.
[ "$frames" -ge 12 ] && [ "$frames" -le 24 ] || { echo "$frames frames at 600 per minute in 2 s"; exit 1; }

# I420 frames come out as viewable 24-bit pictures of the camera's bars.
run planar --no-audio --format i420 --size 640x480
python3 "$root/scripts/check-bmp.py" planar-frames --pattern

# A refused request ends with a message and a non-zero code, not a crash.
if tesmo_wine "$exe" --video-device 7 --no-audio --seconds 1 >bad.log 2>&1; then
  echo "opening a missing video device succeeded"; exit 1
fi
grep -q "video device 7 could not be opened" bad.log || { cat bad.log; exit 1; }
echo "demo capture checks passed"
