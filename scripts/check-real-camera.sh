#!/usr/bin/env bash
# Compatibility check against a camera the project did not write: Wine's own video
# capture filter ("VFW Capture", qcap's V4L2 backend), fed by the user-space V4L2 camera
# (tools/v4l2camera, preloaded into Wine as /dev/video0), under Wine 8 on this machine
# and under Wine 10 in the Debian 13 root (build/trixie-root, shared with
# check-real-device.sh). Under each:
#   - the demo host captures 5 s in each of the four host formats at 640x480 and 320x240;
#     a run passes when it delivers at least 90 % of the frames the camera produced, their
#     numbers in order, and the colour bars in every frame; under Wine 10 also RGB24 at both
#     sizes through libv4l2 (installed in the root) from a camera that has YUYV only;
#   - a slow camera (it says 30 frames a second and gives 10): all its frames arrive;
#   - the preview: a screenshot of the demo host's --preview window shows the picture;
#   - the pace: 600 frames per minute gives 10 +/- 1 frames a second;
#   - Stop and Start again, 100 Open/Close cycles, two objects on the one camera, the
#     camera vanishing mid-run (what Wine does is printed) and a busy camera
#     (tests/realcamera/CameraProbe.cpp);
#   - the camera unplugged and plugged back mid-run: the demo host's --follow captures on;
#   - the camera's controls: Wine's IAMVideoProcAmp lists brightness, contrast, hue and
#     saturation with the V4L2 camera's own ranges and nothing else; brightness set through
#     the library (by index before Open, and on the running object) reaches the V4L2 camera
#     (its log) and shows in the delivered frames.
# Every format must pass; TESMO_CAMERA_REQUIRED_FORMATS="rgb24" (say) reports the failures
# of the others without failing the check.
#   scripts/check-real-camera.sh [SECONDS]      (default 5 per capture)
# Exit 0 passed, 1 failed, 77 skipped: Wine 8 is missing, or Debian 13's packages could
# not be fetched (then Wine 8's figures are printed first).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
seconds=${1:-5}
work=$root/build/real-camera
camera_name="Tesmo V4L2 camera"
formats="rgb24 i420 rgb555 rgb32"
sizes="640x480 320x240"
required=${TESMO_CAMERA_REQUIRED_FORMATS:-$formats}
preload_dir=$root/build/v4l2camera/lib
skipped=77
status=0

skip() {
  echo "SKIPPED: real-camera check: $*"
  [ "$status" -eq 0 ] || { echo "FAILED: Wine's camera under Wine 8 (see above)"; exit 1; }
  exit "$skipped"
}

. "$root/scripts/debian13-root.sh"

# Everything below runs as process 1 of a private PID and mount namespace: every mount
# ends with it, and killing it ends Wine and Xvfb too.
inside() {
  rm -rf "$work/out"
  mkdir -p "$work/out"
  start_display
  suite "Wine 8" wine8 "$work/out/wine8" || status=1
  build_root
  prepare_root
  suite "Wine 10" wine10 "$work/out/wine10" || status=1
  if [ "$status" -eq 0 ]; then
    echo "PASSED: Wine's own camera under Wine 8 and Wine 10, through the library"
  else
    echo "FAILED: Wine's own camera, through the library (outputs in ${work#"$root"/}/out)"
  fi
  return "$status"
}

# One X server for both Wines, on a display number it picks itself; no access control,
# since the clients of the root cannot share an authority file with it.
start_display() {
  exec 3< <(Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp -ac 2>"$work/out/xvfb.log")
  local number
  read -r -t 30 number <&3 || { echo "FAILED: Xvfb did not start" >&2; exit 1; }
  display=:$number
  trap stop_wines EXIT
}

stop_wines() {
  wine8 wineserver -k >/dev/null 2>&1 || true
  [ -f "$trixie_stamp" ] && wine10 wineserver -k >/dev/null 2>&1 || true
}

# Wine 8 of this machine: wine8 [VAR=VALUE...] PROGRAM ARGS. Paths are this machine's.
wine8() {
  env PATH="/usr/lib/wine:$PATH" WINEPREFIX="$work/out/wine8/prefix" WINEARCH=win64 \
    WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="mscoree,mshtml=;winealsa.drv=d" \
    DISPLAY="$display" LD_PRELOAD="$preload_dir/libtesmo-v4l2camera.so" "$@" </dev/null
}

# The root sees the programs under /tesmo/bin, the camera under /tesmo/lib and its
# outputs (this machine's $work/out/wine10) under /tesmo/out.
prepare_root() {
  mount_system
  mkdir -p "$work/out/wine10" "$trixie/tesmo/bin" "$trixie/tesmo/lib" "$trixie/tesmo/out" \
    "$trixie/tmp/.X11-unix"
  mount --bind "$root/build/windows/bin" "$trixie/tesmo/bin"
  mount --bind "$preload_dir" "$trixie/tesmo/lib"
  mount --bind "$work/out/wine10" "$trixie/tesmo/out"
  mount --bind /tmp/.X11-unix "$trixie/tmp/.X11-unix"
}

# Wine 10 in the root: wine10 [VAR=VALUE...] PROGRAM ARGS, with the root's paths. The root
# has libv4l2, which Wine would use: kept out unless TESMO_V4L2_NO_LIBV4L2=0 is given.
wine10() {
  chroot "$trixie" env -i PATH=/usr/lib/wine:/usr/bin:/bin HOME=/tesmo/out \
    WINEPREFIX=/tesmo/out/prefix WINEARCH=win64 WINEDEBUG="${WINEDEBUG:--all}" \
    WINEDLLOVERRIDES="mscoree,mshtml=;winealsa.drv=d" DISPLAY="$display" \
    LD_PRELOAD=/tesmo/lib/libtesmo-v4l2camera.so TESMO_V4L2_NO_LIBV4L2=1 "$@" </dev/null
}

# Where a wine command finds the programs and its outputs, and their Windows names.
bin_of() { [ "$wine" = wine8 ] && echo "$root/build/windows/bin" || echo /tesmo/bin; }
seen_as() {  # this machine's path under $out -> the path the Wine process uses
  [ "$wine" = wine8 ] && echo "$1" || echo "/tesmo/out${1#"$out"}"
}
windows_path() { printf 'Z:%s' "$(seen_as "$1" | sed 's|/|\\|g')"; }

# suite LABEL WINE OUT: every run under one Wine; prints its figures, fails on a failure.
suite() {
  local label=$1 failed=0
  wine=$2 out=$3
  mkdir -p "$out"
  echo
  echo "=== Wine's camera under $label ==="
  $wine wine64 wineboot -i >/dev/null 2>&1 || { echo "FAILED: wineboot under $label"; return 1; }
  # wineboot returns before Wine's processes are done; graphs built meanwhile fail.
  $wine wineserver -w
  echo "$($wine wine64 --version)"
  local list index
  list=$($wine wine64 "$(bin_of)/tesmo-capture.exe" --list --no-audio 2>&1 || true)
  index=$(printf '%s\n' "$list" | tr -d '\r' | sed -n "s/^  \[\([0-9]*\)\] $camera_name$/\1/p" | head -1)
  if [ -z "$index" ]; then
    printf '%s\n' "$list"
    echo "FAILED: $label lists no \"$camera_name\""
    return 1
  fi
  echo "Camera: [$index] $camera_name, Wine's \"VFW Capture\" filter"
  # What the library reads of it before opening: its identity and its modes.
  printf '%s\n' "$list" | tr -d '\r' | sed -n "/^  \[$index\] /,/^  \[/p" | grep -E '^ +(identity|mode|control)' || true
  camera_env=()
  captures "Captures" "" "$formats" || failed=1
  camera_env=(TESMO_V4L2_SLOW_MS=67)
  captures "A slow camera (says 30 frames a second, gives 10)" slow- rgb24 320x240 || failed=1
  camera_env=()
  if [ "$wine" = wine10 ]; then
    # Where libv4l2 is installed Wine goes through it, by raw system calls, and it converts
    # what the camera has (here YUYV only) into the BGR24 that Wine asks for.
    if root_with_libv4l2; then
      camera_env=(TESMO_V4L2_NO_LIBV4L2=0 TESMO_V4L2_FORMATS=yuyv)
      captures "Through libv4l2, from a camera that has YUYV only" libv4l2- rgb24 || failed=1
      camera_env=()
    else
      echo "Through libv4l2: not tried, libv4l-0 could not be installed in the root" \
        "(see ${work#"$root"/}/apt-libv4l2.log)"
    fi
  fi
  preview || failed=1
  pace || failed=1
  local mode
  for mode in restart cycles two lost busy controls; do probe "$mode" || failed=1; done
  follow || failed=1
  what_wine_does vanishes lost TESMO_V4L2_VANISH_AFTER=60
  what_wine_does "is busy" busy TESMO_V4L2_BUSY=1
  $wine wineserver -k >/dev/null 2>&1 || true
  return "$failed"
}

# The demo host: capture NAME [tesmo-capture options]; its output in NAME.txt, the
# camera's figures in NAME.v4l2.log, the frames in NAME/.
capture() {
  local name=$1
  shift
  rm -rf "${out:?}/$name"
  $wine "${camera_env[@]}" TESMO_V4L2_LOG="$(seen_as "$out/$name.v4l2.log")" wine64 "$(bin_of)/tesmo-capture.exe" \
    --no-audio --video-device "$index" --seconds "$seconds" --frames "$(windows_path "$out/$name")" \
    "$@" >"$out/$name.txt" 2>&1 || true
}

produced_of() { sed -n 's/.* of \([0-9]*\) produced.*/\1/p' "$1" 2>/dev/null | tail -1; }
percent() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", (b > 0 ? 100 * a / b : 0) }'; }

# captures TITLE NAME_PREFIX FORMATS [SIZES]: the demo host in each format at each size.
# A run that falls short is tried once more, both figures shown: on a loaded machine Wine's
# own reader can miss the camera's frames for a while (it read fewer than 90 % of them),
# which no host could make up for.
captures() {
  local failed=0 size format name verdict first
  echo "$1, ${seconds} s each (delivered / produced by the camera, read by Wine; numbers; bars):"
  for size in ${4:-$sizes}; do
    for format in $3; do
      name=$2$format-$size
      first=""
      capture "$name" --size "$size" --format "$format"
      if ! judge "$name"; then
        first=" (a second try; the first: $figures)"
        capture "$name" --size "$size" --format "$format"
      fi
      verdict=passed
      if ! judge "$name"; then
        if [[ " $required " == *" $format "* ]]; then
          verdict=FAILED
          failed=1
        else
          verdict="fails, not yet required ($(tail -1 "$out/$name.txt" | tr -d '\r' |
            sed 's/^tesmo-capture: //'))"
        fi
      fi
      printf '  %-7s %-8s %s: %s%s\n' "$format" "$size" "$figures" "$verdict" "$first"
    done
  done
  return "$failed"
}

# judge NAME: sets figures to what capture NAME gave; true when it passes.
figures=""
judge() {
  local delivered produced read bars numbers
  delivered=$(find "$out/$1" -name '*.bmp' 2>/dev/null | wc -l)
  produced=$(produced_of "$out/$1.v4l2.log")
  produced=${produced:-0}
  read=$(sed -n 's/.*frames read \([0-9]*\) of .*/\1/p' "$out/$1.v4l2.log" 2>/dev/null | tail -1)
  bars="bars in every frame"
  python3 "$root/scripts/check-bmp.py" "$out/$1" --pattern >/dev/null 2>&1 || bars="bars MISSING"
  [ "$delivered" -eq 0 ] && bars="no bars"
  numbers=$(frame_numbers "$out/$1")
  figures=$(printf '%4s / %4s frames (%5s %%), %4s read by Wine; numbers %s; %s' "$delivered" \
    "$produced" "$(percent "$delivered" "$produced")" "${read:-0}" "$numbers" "$bars")
  [ "$delivered" -gt 0 ] && [ "$produced" -gt 0 ] &&
    [ $((delivered * 10)) -ge $((produced * 9)) ] && [ "$bars" = "bars in every frame" ] &&
    [ "${numbers%% (*}" = "in order" ]
}

# "in order (first..last)" or what is wrong, from the numbers the camera drew.
frame_numbers() {
  local result
  result=$(python3 "$root/scripts/check-bmp.py" "$1" --numbers 2>&1 | tail -1) || true
  case $result in
    *increasing*) echo "in order (${result#camera frame numbers })" | sed 's/, increasing//' ;;
    "no BMP files"*) echo "none" ;;
    *) echo "NOT in order: ${result##*/}" ;;
  esac
}

# The preview: a screenshot while the demo host's --preview window shows the camera.
preview() {
  capture preview --preview --seconds 8 &
  local job=$!
  sleep 5
  xwd -root -display "$display" -out "$out/preview.xwd" 2>/dev/null || true
  wait "$job" || true
  local shown
  if shown=$(python3 "$root/scripts/check-screenshot.py" "$out/preview.xwd" "$out/preview.bmp" 2>&1); then
    echo "Preview: $shown (${out#"$root"/}/preview.bmp)"
  else
    echo "Preview: FAILED: $shown (${out#"$root"/}/preview.bmp)"
    return 1
  fi
}

# The pace: frames a second from the demo host's once-a-second lines, from its first
# delivered frame on ("  T s   video: frames delivered N dropped M").
pace() {
  capture pace --fpm 600 --seconds 8
  local rate
  rate=$(tr -d '\r' <"$out/pace.txt" | awk '$3 == "video:" && $6 > 0 {
      if (!t0) { t0 = $1; n0 = $6 } t = $1; n = $6 }
      END { printf "%.1f", (t > t0 ? (n - n0) / (t - t0) : 0) }')
  if awk -v r="$rate" 'BEGIN { exit !(r >= 9 && r <= 11) }'; then
    echo "Pace: 600 frames per minute gives $rate frames a second"
  else
    echo "Pace: FAILED: 600 frames per minute gives $rate frames a second (10 +/- 1 wanted)"
    return 1
  fi
}

# The camera unplugged 2 s into a run and plugged back 1.5 s later: the demo host's
# --follow finds it again by its identity and captures on into the same folder.
follow() {
  camera_env=(TESMO_V4L2_VANISH_AFTER=60 TESMO_V4L2_BACK_AFTER_MS=1500)
  capture follow --follow --seconds 10
  camera_env=()
  local removed back frames
  removed=$(tr -d '\r' <"$out/follow.txt" | grep -m1 '^camera removed' || true)
  back=$(tr -d '\r' <"$out/follow.txt" | grep -m1 '^camera back' || true)
  frames=$(find "$out/follow" -name '*.bmp' 2>/dev/null | wc -l)
  echo "Follow: ${removed:-the camera was never reported removed}; ${back:-it never came back};" \
    "$frames frames in all (60 before it went)"
  [ -n "$removed" ] && [ -n "$back" ] && [ "$frames" -gt 90 ] ||
    { echo "Follow: FAILED"; return 1; }
}

probe() {
  local mode=$1 vars=()
  case $mode in
    lost) vars=(TESMO_V4L2_VANISH_AFTER=60) ;;  # 2 s into the run
    busy) vars=(TESMO_V4L2_BUSY=1) ;;
  esac
  $wine "${vars[@]}" TESMO_V4L2_LOG="$(seen_as "$out/probe-$mode.v4l2.log")" wine64 \
    "$(bin_of)/tesmo-camera-probe.exe" "$camera_name" "$mode" >"$out/probe-$mode.txt" 2>&1 || true
  local line
  line=$(tr -d '\r' <"$out/probe-$mode.txt" | grep "^probe $mode: " | grep -v 'camera at index' |
    sed 's/^probe //')
  printf '%s\n' "$line" | sed 's/^/Probe /'
  [ "$mode" = cycles ] && grep -h 'descriptors open' "$out/probe-$mode.v4l2.log" 2>/dev/null &&
    { echo "Probe cycles: FAILED: the process left the camera open"; return 1; }
  if [ "$mode" = controls ]; then
    # What reached the device: the probe sets 40 before Open, -40 while running, then 0.
    local sets
    sets=$(sed -n 's/^v4l2 camera: control Brightness set to //p' "$out/probe-$mode.v4l2.log" \
      2>/dev/null | tr '\n' ' ')
    echo "Probe controls: the V4L2 camera saw brightness set to: ${sets:-nothing}"
    [ "$sets" = "40 -40 0 " ] || { echo "Probe controls: FAILED: not what the library set"; return 1; }
  fi
  printf '%s\n' "$line" | tail -1 | grep -q ': ok$'
}

# What Wine's filter does, from its own trace, when the camera vanishes after 60 frames
# and when it is busy: its error, and the events it sends the graph after it (EC_ codes).
what_wine_does() {  # NAME PROBE_MODE VAR=VALUE
  WINEDEBUG=err+all,+quartz $wine "$3" wine64 "$(bin_of)/tesmo-camera-probe.exe" "$camera_name" \
    "$2" >"$out/$1-trace.txt" 2>&1 || true
  local error events
  local mark='err:.*\(v4l\|set_caps\)'
  error=$(grep -m1 "$mark" "$out/$1-trace.txt" | tr -d '\r' | sed 's/^[0-9a-f]*://')
  events=$(sed -n "/$mark/,\$p" "$out/$1-trace.txt" |
    sed -n 's/.*MediaEventSink_Notify.* code \(0x[0-9a-f]*\).*/\1/p' | sort -u | tr '\n' ' ')
  echo "When the camera $1: Wine says \"${error:-nothing}\"; events to the graph after it:" \
    "${events:-none}"
}

if [ "${1:-}" = "--inside" ]; then
  shift
  seconds=${1:-5}
  inside
  exit
fi

[ "$(id -u)" -eq 0 ] || skip "needs root (debootstrap, chroot and mounts)"
./scripts/install-deps.sh >/dev/null || skip "the host's packages could not be installed"
command -v wine64 >/dev/null || [ -x /usr/lib/wine/wine64 ] || skip "Wine 8 (wine64) is missing"
./scripts/build-windows.sh Tesmo tesmo-capture tesmo-camera-probe >/dev/null
cmake -S tools/v4l2camera -B build/v4l2camera -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/v4l2camera -j "${CMAKE_BUILD_PARALLEL_LEVEL:-2}" >/dev/null
# In the background, so a signal reaches the trap at once. unshare ignores SIGTERM and
# SIGINT while it waits; killed, it takes its child, process 1 of the namespace, and so
# every process and mount in it along.
unshare --mount --propagation private --pid --fork --kill-child --mount-proc \
  "$0" --inside "$seconds" &
child=$!
trap 'kill -KILL "$child" 2>/dev/null; wait "$child" 2>/dev/null || true
  echo "real-camera check: stopped" >&2; exit 130' INT TERM HUP
wait "$child"
