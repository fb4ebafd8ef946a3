#!/usr/bin/env bash
# Compatibility check against a capture filter the project did not write: Wine 10's own
# audio capture filter, in a Debian 13 root (build/trixie-root, made once and reused),
# recording from the monitor of a private PulseAudio server's null sink while a tone
# plays into it. The demo host captures through the library while a bare grabber host
# (tools/barehost) captures from the same device with the library's buffer suggestion;
# then the bare host alone with the device's default buffers and with other suggestions,
# and the library with blocks of 10 ms. Passes when the WAV holds the tone and the
# library delivered, from its first data on, at least 95 % of the bytes per second that
# the bare host received at the same time, and when the recording level set to 50 % on that
# device reads back as 50 +/- 1 and landed on the device's own mixer (the one winmm names for
# its wave-in device), leaving the other wave-in devices' mixers as they were.
#   scripts/check-real-device.sh [SECONDS]      (default 10 per capture)
# Exit 0 passed, 1 failed, 77 skipped: Debian 13's packages could not be fetched.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
seconds=${1:-10}
work=$root/build/real-device
sink=tesmo_null
tone_hz=440
# Suggestions tried beside the library's 8x960: more buffers, buffers of whole 10 ms
# (110 frames at 11025 Hz: 4 and 5 of them), and twice the size.
suggestions="32x960 8x880 8x1100 8x1920"
skipped=77

skip() {
  echo "SKIPPED: real-device check: $*"
  exit "$skipped"
}

. "$root/scripts/debian13-root.sh"

# Everything below runs as process 1 of a private PID and mount namespace: every mount
# (debootstrap's included) ends with it, and killing it ends Wine and PulseAudio too.
inside() {
  mkdir -p "$work"
  build_root
  prepare_run
  start_pulseaudio
  wine_boot
  measure
}

# Fresh work folders, seen inside the root under /tesmo: the programs, the outputs and
# the Wine prefix, and PulseAudio's runtime folder.
prepare_run() {
  rm -rf "$work/out" "$work/pulse"
  mkdir -p "$work/out" "$work/pulse/runtime" "$work/pulse/home"
  chmod 700 "$work/pulse/runtime"
  mount_system
  mkdir -p "$trixie/tesmo/bin" "$trixie/tesmo/out" "$trixie/run/tesmo-pulse"
  mount --bind "$root/build/windows/bin" "$trixie/tesmo/bin"
  mount --bind "$work/out" "$trixie/tesmo/out"
  mount --bind "$work/pulse/runtime" "$trixie/run/tesmo-pulse"
}

pulse_env=()
start_pulseaudio() {
  pulse_env=(env HOME="$work/pulse/home" XDG_RUNTIME_DIR="$work/pulse/runtime")
  trap stop_all EXIT
  "${pulse_env[@]}" pulseaudio -D --exit-idle-time=-1 -n --log-target=file:"$work/pulse/log" \
    --load="module-null-sink sink_name=$sink" --load=module-native-protocol-unix
  for _ in $(seq 50); do
    "${pulse_env[@]}" pactl info >/dev/null 2>&1 && return
    sleep 0.1
  done
  echo "FAILED: the PulseAudio server did not come up: see ${work#"$root"/}/pulse/log" >&2
  exit 1
}

stop_all() {
  in_root wineserver -k >/dev/null 2>&1 || true
  "${pulse_env[@]}" pulseaudio --kill >/dev/null 2>&1 || true
}

# Wine 10 in the root, with the outside server's socket, quiet and never prompting.
in_root() {
  chroot "$trixie" env -i PATH=/usr/lib/wine:/usr/bin:/bin HOME=/tesmo/out \
    XDG_RUNTIME_DIR=/run/tesmo-pulse WINEPREFIX=/tesmo/out/wineprefix WINEARCH=win64 \
    WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winealsa.drv=d" "$@" </dev/null
}

wine_boot() {
  in_root wine64 wineboot -i >/dev/null 2>&1 || { echo "FAILED: wineboot" >&2; exit 1; }
  # wineboot returns before Wine's processes are done; graphs built meanwhile fail.
  in_root wineserver -w
  echo "Wine in the root: $(in_root wine64 --version)"
}

# Plays the tone into the null sink for the given seconds, in the background.
play_tone() {
  sox -q -n -r 44100 -c 2 -b 16 "$work/out/tone.wav" synth "$1" sine "$tone_hz" vol 0.5
  "${pulse_env[@]}" paplay -d "$sink" "$work/out/tone.wav" &
  player=$!
}

# One capture through the library by the demo host: library BLOCK_BYTES, into
# library-BLOCK_BYTES.wav and .txt.
library() {
  in_root wine64 /tesmo/bin/tesmo-capture.exe --no-video --device "$index" --block "$1" \
    --seconds "$seconds" --out "Z:\\tesmo\\out\\library-$1.wav" \
    >"$work/out/library-$1.txt" 2>&1 || true
}

# One capture by the bare host: bare SUGGESTION (none, or COUNTxBYTES)
bare() {
  in_root wine64 /tesmo/bin/tesmo-barehost.exe --device "$device_name" --seconds "$seconds" \
    --buffers "$1"
}

measure() {
  device_name="Monitor of Null Output"
  local list
  list=$(in_root wine64 /tesmo/bin/tesmo-capture.exe --list --no-video 2>&1 || true)
  index=$(printf '%s\n' "$list" | sed -n "s/^  \[\([0-9]*\)\] $device_name\r\?$/\1/p" | head -1)
  if [ -z "$index" ]; then
    printf '%s\n' "$list"
    echo "FAILED: Wine lists no \"$device_name\" device" >&2
    exit 1
  fi
  echo "Device: [$index] $device_name"

  # One tone through every capture.
  local others=(none $suggestions)
  play_tone $(((seconds + 15) * (2 + ${#others[@]})))
  # The library and the bare host together, over the same seconds. The library starts
  # once the bare host has found its device: under Wine 10, of two processes that
  # enumerated at the same moment one once found no device.
  bare 8x960 >"$work/out/bare-matched.txt" 2>&1 &
  local bare_job=$!
  for _ in $(seq 300); do
    grep -q '^capturing' "$work/out/bare-matched.txt" || ! kill -0 "$bare_job" 2>/dev/null && break
    sleep 0.1
  done
  library 320
  wait "$bare_job" || true
  # The bare host alone: the device's default buffers, then the other suggestions.
  local other
  for other in "${others[@]}"; do bare "$other" >"$work/out/bare-$other.txt" 2>&1 || true; done
  library 220  # its buffers then hold three of the device's 10 ms packets
  # The level, with the input kind left alone (line) and after SelectInput("mic"): Wine 10's
  # device mixers have a microphone source whose volume reads 0 and ignores what is set.
  local kind input
  for kind in line mic; do
    input=()
    [ "$kind" = mic ] && input=(--input mic)
    in_root wine64 /tesmo/bin/tesmo-capture.exe --no-video --device "$index" --record-level 50 \
      "${input[@]}" --seconds 1 --out 'Z:\tesmo\out\level.wav' >"$work/out/level-$kind.txt" \
      2>&1 || true
  done
  kill "$player" 2>/dev/null || true
  wait "$player" 2>/dev/null || true
  report
}

bytes_of() { sed -n 's/^bare host.*: \([0-9]*\) bytes in .*/\1/p' "$1" | tail -1; }
pace_of() { sed -n 's/^bare host.*, then \([0-9.]*\) % of real time.*/\1/p' "$1" | tail -1; }
percent() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", (b > 0 ? 100 * a / b : 0) }'; }

library_bytes() { sed -n 's/^Wrote .*: \([0-9]*\) bytes of PCM.*/\1/p' "$1"; }
# The library's pace from its first delivered block to the end, in % of real time, from
# the demo host's once-a-second progress lines ("  T s   audio: blocks received N").
library_pace() {  # FILE BLOCK_BYTES
  awk -v block="$2" '$3 == "audio:" && $6 > 0 { if (!t0) { t0 = $1; n0 = $6 } t = $1; n = $6 }
       END { printf "%.1f", (t > t0 ? 100 * (n - n0) * block / ((t - t0) * 22050) : 0) }' "$1"
}

report() {
  local out=$work/out status=0 tone library library_paced matched matched_paced real other
  echo
  tone=$(python3 "$root/scripts/check-wav.py" "$out/library-320.wav" --tone "$tone_hz") ||
    status=1
  library=$(library_bytes "$out/library-320.txt")
  library=${library:-0}
  library_paced=$(library_pace "$out/library-320.txt" 320)
  matched=$(bytes_of "$out/bare-matched.txt")
  matched=${matched:-0}
  matched_paced=$(pace_of "$out/bare-matched.txt")
  matched_paced=${matched_paced:-0}
  real=$((seconds * 22050))
  echo "Tone played: $tone_hz Hz; in the library's WAV: ${tone##*$'\n'}"
  echo "From the same device over the same $seconds s (real time: 22050 bytes/s):"
  echo "  library (tesmo-capture, device [$index]): $library bytes" \
    "= $(percent "$library" "$real") % of real time; from its first block on $library_paced %"
  echo "  bare host, 8 x 960 suggested: $matched bytes = $(percent "$matched" "$real") %" \
    "of real time; from its first buffer on $matched_paced %"
  # Each process waits for the device's first buffer (here 0.4 to 2.2 s), so totals of a
  # few seconds differ by that much; what follows the first data is the device's pace.
  echo "  library / bare host: $(percent "$library" "$matched") % of the bytes;" \
    "$(percent "$library_paced" "$matched_paced") % of the bytes per second from the first" \
    "data on (at least 95 % needed)"
  awk -v a="$library_paced" -v b="$matched_paced" 'BEGIN { exit !(b > 0 && a >= 0.95 * b) }' ||
    status=1
  echo "The bare host beside the library, then alone:"
  for other in matched none $suggestions; do
    sed -n 's/^bare host, /  /p; s/^tesmo-barehost: /  failed: /p' "$out/bare-$other.txt"
  done
  local small small_tone
  small=$(library_bytes "$out/library-220.txt")
  small_tone=$(python3 "$root/scripts/check-wav.py" "$out/library-220.wav" --tone "$tone_hz" |
    tail -1) || true
  echo "The library alone with 220-byte blocks (buffers of 660 bytes, 29.9 ms): ${small:-0} bytes" \
    "= $(percent "${small:-0}" "$real") % of real time; from its first block on" \
    "$(library_pace "$out/library-220.txt" 220) %; $small_tone"
  report_level line || status=1
  report_level mic || status=1
  if [ "$status" -eq 0 ]; then
    echo "PASSED: Wine 10's audio capture filter, through the library"
  else
    echo "FAILED: Wine 10's audio capture filter, through the library (outputs in ${out#"$root"/})"
  fi
  return "$status"
}

# The recording level on the device: SetRecordLevel(50) gives 0, GetRecordLevel 0 with
# 50 +/- 1; the device's wave-in mixer holds half its range afterwards, and every other
# wave-in device's mixer reads as before.
report_level() {  # KIND: line (nothing selected) or mic
  local out=$work/out/level-$1.txt line set_result got level mine changed
  line=$(sed -n 's/^Record level: //p' "$out" | tr -d '\r')
  echo "Recording level on \"$device_name\", input kind $1: ${line:-not reported}"
  sed -n 's/^Mixers \(before\|after\): /  \1: /p' "$out" | tr -d '\r'
  set_result=$(printf '%s' "$line" | sed -n 's/^SetRecordLevel(50) = \([0-9]*\);.*/\1/p')
  got=$(printf '%s' "$line" | sed -n 's/.*; GetRecordLevel = \([0-9]*\),.*/\1/p')
  level=$(printf '%s' "$line" | sed -n 's/.*, level \(-\?[0-9]*\)$/\1/p')
  if [ "$set_result" != 0 ] || [ "$got" != 0 ] || [ -z "$level" ] || [ "$level" -lt 49 ] ||
    [ "$level" -gt 51 ]; then
    echo "  level: FAILED (wanted 0, 0 and 50 +/- 1)"
    return 1
  fi
  # The device's own line after the set, and the other devices' lines before and after.
  mine=$(grep "^Mixers after:   wave-in [0-9]* \"$device_name\": " "$out" | tr -d '\r')
  changed=$(grep '^Mixers \(before\|after\):   wave-in' "$out" | grep -v "\"$device_name\": " |
    tr -d '\r' | sed 's/^Mixers \(before\|after\): //' | sort | uniq -u)
  if ! printf '%s' "$mine" | grep -q 'value 32767 of 0\.\.65535' || [ -n "$changed" ]; then
    echo "  level: FAILED (not on the device's own mixer, or another mixer changed)"
    return 1
  fi
  echo "  level: as wanted, on the device's own mixer"
}

if [ "${1:-}" = "--inside" ]; then
  shift
  seconds=${1:-10}
  inside
  exit
fi

[ "$(id -u)" -eq 0 ] || skip "needs root (debootstrap, chroot and mounts)"
./scripts/install-deps.sh >/dev/null || skip "the host's packages could not be installed"
./scripts/build-windows.sh Tesmo tesmo-capture tesmo-barehost >/dev/null
# In the background, so a signal reaches the trap at once. unshare ignores SIGTERM and
# SIGINT while it waits; killed, it takes its child, process 1 of the namespace, and so
# every process and mount in it along.
unshare --mount --propagation private --pid --fork --kill-child --mount-proc \
  "$0" --inside "$seconds" &
child=$!
trap 'kill -KILL "$child" 2>/dev/null; wait "$child" 2>/dev/null || true
  echo "real-device check: stopped" >&2; exit 130' INT TERM HUP
wait "$child"
