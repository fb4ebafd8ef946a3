#!/usr/bin/env bash
# The demo host end to end under Wine, against the test devices: a WAV with the
# microphone's unbroken byte sequence and BMP frames showing the camera's picture,
# once with the preview window and RGB24, then video only in RGB32 at 600 frames
# per minute and in I420 at 640 x 480; then a camera with controls: --list prints them,
# --control sets them before capturing, a refused one ends the run; then devices that
# come and go, plugged by another process: --watch prints them, --follow captures on.
# Usage: demo-capture.sh TESMO-CAPTURE.EXE WORKDIR
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
# ... with the library's reason.
grep -q "There is no camera at index 7" bad.log || { cat bad.log; echo "no reason given"; exit 1; }

# The default camera with controls: its stored description is what its next filter object
# reads (the registered names stay). Put back to the defaults however the checks end.
key='HKCU\Software\Tesmo\TestDevices'
dll=$(dirname "$exe")/TesmoTestDevices.dll
mic="kind=audio;name=Tesmo Test Microphone" cam="kind=video;name=Tesmo Test Camera"
plug() { "$root/scripts/register-test-devices.sh" --devices "$@" -- "$dll" >/dev/null; }
restore() {
  plug "$mic" "$cam" || true
  tesmo_wine reg delete "$key" /f </dev/null >/dev/null 2>&1 || true
}
trap restore EXIT
tesmo_wine reg add "$key" /v DeviceCount /t REG_DWORD /d 2 /f </dev/null >/dev/null 2>&1
tesmo_wine reg add "$key" /v Device0 /t REG_SZ /d "kind=audio;name=Tesmo Test Microphone" /f \
  </dev/null >/dev/null 2>&1
tesmo_wine reg add "$key" /v Device1 /t REG_SZ /f /d \
  "kind=video;name=Tesmo Test Camera;controls=brightness:-64:64:1:0,exposure:-13:-1:1:-6:auto+manual" \
  </dev/null >/dev/null 2>&1
tesmo_wine "$exe" --list --no-audio </dev/null >controls-list.log 2>&1 || { cat controls-list.log; exit 1; }
for line in "control: brightness -64..64 step 1, default 0, current 0 manual (manual only)" \
            "control: exposure -13..-1 step 1, default -6, current -6 auto (auto or manual)"; do
  tr -d '\r' <controls-list.log | grep -qF "$line" || { cat controls-list.log; echo "no '$line'"; exit 1; }
done
run controls --no-audio --control brightness=40 --control exposure=-9
tr -d '\r' <controls.log | grep -q "^Control: brightness set, now 40 manual" &&
  tr -d '\r' <controls.log | grep -q "^Control: exposure set, now -9 manual" ||
  { echo "the controls were not set"; exit 1; }
# The bars are brighter now (and were not before); the numbers read as ever.
python3 "$root/scripts/check-bmp.py" controls-frames --pattern --brightness=40 --numbers
if python3 "$root/scripts/check-bmp.py" both-frames --pattern --brightness=40 >/dev/null; then
  echo "the bars of a camera at its default brightness passed as brighter"; exit 1
fi
if tesmo_wine "$exe" --no-audio --seconds 1 --control brightness=65 </dev/null >refused.log 2>&1; then
  echo "a brightness out of range was taken"; exit 1
fi
grep -q "the camera refused brightness=65 (255)" refused.log || { cat refused.log; exit 1; }

# Two processes on a camera that streams to one at a time, as a webcam does: while the
# first captures, the second is told the camera is in use, and exits non-zero.
tesmo_wine reg add "$key" /v Device1 /t REG_SZ /f /d "kind=video;name=Tesmo Test Camera;exclusive=1" \
  </dev/null >/dev/null 2>&1
tesmo_wine "$exe" --no-audio --seconds 8 --frames holder-frames </dev/null >holder.log 2>&1 &
holder=$!
for _ in $(seq 1 200); do
  grep -q "frames delivered *[1-9]" holder.log 2>/dev/null && break
  sleep 0.1
done
grep -q "frames delivered *[1-9]" holder.log || { cat holder.log; echo "the first capture never ran"; exit 1; }
if tesmo_wine "$exe" --no-audio --seconds 1 --frames busy-frames </dev/null >busy.log 2>&1; then
  echo "a second capture of a camera in use succeeded"; exit 1
fi
grep -q "could not start: The camera is in use by another application (0x800705AA)" busy.log ||
  { cat busy.log; exit 1; }
wait "$holder" || { cat holder.log; echo "the first capture failed"; exit 1; }

# Waits until the log has a line with this text; false after 15 s.
wait_for() {
  for _ in $(seq 1 150); do
    tr -d '\r' <"$1" | grep -qF "$2" && return 0
    sleep 0.1
  done
  grep -v '^video frame' "$1"; echo "no '$2' in $1"; return 1
}

# --watch: a camera plugged in and out by another process, each change told once.
plug "$mic" "$cam"
tesmo_wine "$exe" --watch --seconds 10 </dev/null >watch.log 2>&1 &
watcher=$!
wait_for watch.log "Watching the devices"
sleep 1.5  # the devices there when watching began are not told
plug "$mic" "$cam" "kind=video;name=Plugged Camera"
wait_for watch.log "camera arrived: Plugged Camera"
plug "$mic" "$cam"
wait_for watch.log "camera removed: Plugged Camera"
wait "$watcher" || { cat watch.log; echo "--watch failed"; exit 1; }
[ "$(grep -c 'arrived:\|removed:' watch.log)" -eq 2 ] || { cat watch.log; echo "changes not told once"; exit 1; }
grep -F 'camera arrived: Plugged Camera (\\?\root#tesmo_test#Plugged_0020Camera#' watch.log >/dev/null ||
  { cat watch.log; echo "no identity with the arrival"; exit 1; }

# --follow: the camera, then the microphone, unplugged and plugged back while capturing;
# the capture goes on into the same files.
tesmo_wine "$exe" --follow --seconds 14 --out follow.wav --frames follow-frames \
  </dev/null >follow.log 2>&1 &
follower=$!
wait_for follow.log "frames delivered"
plug "$mic"
wait_for follow.log "camera removed: The camera was removed"
before=$(ls follow-frames | wc -l)
plug "$mic" "$cam"
wait_for follow.log "camera back after"
plug "$cam"
wait_for follow.log "microphone removed: The audio device was removed"
plug "$cam" "$mic"
wait_for follow.log "microphone back after"
wait "$follower" || { grep -v '^video frame' follow.log; echo "--follow failed"; exit 1; }
grep -v '^video frame' follow.log | grep -E "removed|back"
after=$(ls follow-frames | wc -l)
[ "$after" -gt "$before" ] || { echo "no frames after the camera came back ($before, then $after)"; exit 1; }
echo "--follow: $before frames before the camera left, $after in all"
python3 "$root/scripts/check-bmp.py" follow-frames --pattern
python3 "$root/scripts/check-wav.py" follow.wav
echo "demo capture checks passed"
