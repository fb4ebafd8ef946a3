#!/usr/bin/env bash
# fuzz.sh [SECONDS]: builds the MJPG frame fuzzer (tests/fuzz/) with clang's libFuzzer,
# AddressSanitizer and UBSan in build/fuzz, writes its seeds (the test camera's picture
# as TurboJPEG frames), runs it for SECONDS (default 60) from those seeds and prints the
# executions. Fails on a crash, an over-read or over-write, undefined behaviour, a leak,
# a frame that breaks its layout, a frame that takes over 20 s, or memory beyond
# (libFuzzer's MB, 2^20 bytes):
#   -malloc_limit_mb=64   in one allocation. The largest a legitimate 1920x1080 mode
#                         makes is 7.9 MB (the ARGB picture between its decoded planes
#                         and a 1920x1080 RGB555 host), its 4:4:4 planes 5.9 MB; a frame
#                         taken at its word at 60000x60000 would need 10300 MB of planes,
#                         and 161 MB even decoded at 1/8 scale.
#   -rss_limit_mb=1024    in the whole process, the sanitizer's shadow and quarantine
#                         included; a 60 s run over every setting peaks near 380 MB.
# A reproducer lands in build/fuzz/artifacts/; run it again with
#   build/fuzz/MjpegFrameFuzzer build/fuzz/artifacts/crash-...
# libyuv and libjpeg-turbo are Debian's static libraries, without the sanitizer's
# checks: the fuzzer puts the frame, the source and the host's buffer each against an
# inaccessible page instead (the converter's own scratch pictures are not guarded).
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
seconds=${1:-60}
out=build/fuzz
libs=/usr/lib/x86_64-linux-gnu
for need in "$libs/libyuv.a" "$libs/libturbojpeg.a"; do
  [ -f "$need" ] || { echo "fuzz.sh: $need is missing (scripts/install-deps.sh)" >&2; exit 1; }
done
command -v clang++ >/dev/null || { echo "fuzz.sh: clang++ is missing" >&2; exit 1; }

echo "Building the fuzzer in $out"
mkdir -p "$out/obj" "$out/artifacts"
common=(-std=c++17 -g -O1 -fno-omit-frame-pointer -Wall -Wextra -Wno-unused-parameter -Isrc -Iinclude)
sanitize=(-fsanitize=address,undefined -fno-sanitize-recover=all)
# Two compilers at a time: the library's sources with the fuzzer's coverage, then the
# target and the seed writer (no sanitizer: it only encodes).
lib=(clang++ "${common[@]}" "${sanitize[@]}" -fsanitize=fuzzer-no-link -c)
ok=1
"${lib[@]}" src/video/FrameConverter.cpp -o "$out/obj/FrameConverter.o" & first=$!
"${lib[@]}" src/video/MjpegDecoder.cpp -o "$out/obj/MjpegDecoder.o" & second=$!
wait $first || ok=0
wait $second || ok=0
clang++ "${common[@]}" "${sanitize[@]}" -fsanitize=fuzzer -c tests/fuzz/MjpegFrameFuzzer.cpp \
  -o "$out/obj/MjpegFrameFuzzer.o" & first=$!
clang++ "${common[@]}" tests/fuzz/MjpegSeeds.cpp tools/testdevices/JpegFrames.cpp \
  "$libs/libturbojpeg.a" -o "$out/MjpegSeeds" & second=$!
wait $first || ok=0
wait $second || ok=0
[ $ok = 1 ] || exit 1
clang++ -fsanitize=fuzzer,address,undefined "$out"/obj/{MjpegFrameFuzzer,FrameConverter,MjpegDecoder}.o \
  "$libs/libyuv.a" "$libs/libturbojpeg.a" -o "$out/MjpegFrameFuzzer" || exit 1

# Each run starts from the seeds alone, so that it lasts SECONDS whatever came before.
rm -rf "$out/seeds" "$out/corpus"
mkdir -p "$out/seeds" "$out/corpus"
"$out/MjpegSeeds" "$out/seeds" || exit 1

echo "Fuzzing for $seconds s (log: $out/fuzz.log)"
touch "$out/run-started"
ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  "$out/MjpegFrameFuzzer" -max_total_time="$seconds" -print_final_stats=1 -timeout=20 \
    -malloc_limit_mb=64 -rss_limit_mb=1024 -artifact_prefix="$out/artifacts/" \
    "$out/corpus" "$out/seeds" >"$out/fuzz.log" 2>&1
status=$?
grep -E '^stat::(number_of_executed_units|average_exec_per_sec|new_units_added|peak_rss_mb)' "$out/fuzz.log"
grep -E '^Done [0-9]+ runs' "$out/fuzz.log"
found=$(find "$out/artifacts" -type f -newer "$out/run-started")
if [ $status -ne 0 ] || [ -n "$found" ]; then
  tail -n 60 "$out/fuzz.log"
  echo "FUZZ FAILED (libFuzzer status $status); reproducer: ${found:-none written}"
  exit 1
fi
echo "Fuzzing found nothing."
