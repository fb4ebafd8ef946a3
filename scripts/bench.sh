#!/usr/bin/env bash
# Builds the native benchmarks (Release, in build/bench), runs them and prints one
# table of ratios against their goals; then, with the Windows build there, the
# delivery latencies under Wine and the CPU and memory of whole captures, library
# beside a bare grabber host (scripts/measure-cpu.sh). Installs nothing: needs cmake,
# ninja, python3, libbenchmark-dev, libjack-jackd2-dev, libyuv-dev (the frame
# converter's yardstick) and libturbojpeg0-dev (the MJPG decoder's). Extra arguments
# go to the data path's benchmark program, e.g. --benchmark_filter=Stream;
# TESMO_BENCH_CONVERT=0 leaves the converter out, TESMO_BENCH_MJPG=0 the MJPG decode.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${TESMO_BENCH_BUILD:-$ROOT/build/bench}
JSON=$BUILD/bench.json

cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESMO_BUILD_TESTS=OFF >/dev/null
cmake --build "$BUILD" --target tesmo_bench
convert=${TESMO_BENCH_CONVERT:-1}
[ "$convert" != 0 ] && cmake --build "$BUILD" --target tesmo_convert_bench
mjpg=${TESMO_BENCH_MJPG:-1}
[ "$mjpg" != 0 ] && cmake --build "$BUILD" --target tesmo_mjpg_bench
# The Windows programs, brought up to date where the Windows build is there.
windows=$ROOT/build/windows
if [ -f "$windows/CMakeCache.txt" ]; then
  "$ROOT/scripts/build-windows.sh" tesmo_delivery_latency tesmo_mjpg_decode >/dev/null
fi

# Throughput runs are repeated and compared by their medians; the latency runs set
# their own single long run.
"$BUILD/bin/tesmo_bench" --benchmark_repetitions=5 --benchmark_display_aggregates_only=true \
  --benchmark_out="$JSON" --benchmark_out_format=json "$@"

python3 - "$JSON" <<'PY'
import json, sys

runs = json.load(open(sys.argv[1]))["benchmarks"]

def rate(name, statistic):
    for run in runs:
        if run["run_name"].split("/real_time")[0] == name and run.get("aggregate_name") == statistic:
            return run["bytes_per_second"]
    return None

def row(name, value, goal, met):
    print(f"  {name:44s} {value:>26s}   {goal:14s} {'meets' if met else 'BELOW'}")

print()
print("Tesmo benchmarks, each row measured side by side in this run:")
print(f"  {'':44s} {'measured':>26s}   {'goal':14s}")
# statistic "median", or "max" for the best repetition (the streams only).
for block in (320, 1024, 3072):
    for statistic, label in (("median", ""), ("max", ", best")):
        a = rate(f"BM_RingStream/{block}", statistic)
        b = rate(f"BM_JackStream/{block}", statistic)
        if a and b:
            row(f"ring / JACK, {block}-byte stream{label}", f"{a / b:.2f}x ({a / 1e9:.2f}/{b / 1e9:.2f} GB/s)",
                ">= 1.0x" if block == 320 else "(reference)", a / b >= 1.0 or block != 320)
a, b = rate("BM_RingWriteRead3072", "median"), rate("BM_Memcpy3072", "median")
if a and b:
    row("ring / one memcpy, 3072 bytes", f"{a / b:.2f}x ({a / 1e9:.1f}/{b / 1e9:.1f} GB/s)", ">= 0.5x", a / b >= 0.5)
a, b = rate("BM_RingWriteRead3072", "median"), rate("BM_MemcpyInOut3072", "median")
if a and b:
    row("ring / memcpy in+out, 3072 bytes", f"{a / b:.2f}x", "(reference)", True)

def seconds(prefix):
    for run in runs:
        if run["run_name"].startswith(prefix) and run.get("aggregate_name") == "median":
            return run["real_time"]
    return None

store, copy = seconds("BM_VideoStoreSample"), seconds("BM_FrameMemcpyAfterWait")
if store and copy:
    row("video StoreSample / memcpy, 640x480 RGB24", f"{store / copy:.2f}x time", "<= 1.1x", store / copy <= 1.1)

for run in runs:
    if run["run_name"].startswith("BM_DeliveryLatency") and run.get("run_type") == "iteration":
        gap = run["run_name"].split("/")[1]
        if run.get("error_occurred"):
            print(f"  StoreSample -> OnData, native, gap {gap} us: failed: {run.get('error_message', '')}")
            continue
        row(f"StoreSample -> OnData, native, gap {gap} us",
            f"p50 {run['p50_us']:.1f} us, p99 {run['p99_us']:.1f} us", "p99 <= 100 us", run["p99_us"] <= 100)
PY

# The frame converter beside libyuv's same conversion, pixels per second of CPU time
# (medians of 5); the goal is for the pairs a webcam mostly sends.
if [ "$convert" != 0 ]; then
  "$BUILD/bin/tesmo_convert_bench" --benchmark_repetitions=5 --benchmark_display_aggregates_only=true \
    --benchmark_min_time=0.2 --benchmark_out="$BUILD/convert.json" --benchmark_out_format=json >/dev/null
  python3 - "$BUILD/convert.json" <<'PY'
import json, sys

rates = {}
for run in json.load(open(sys.argv[1]))["benchmarks"]:
    if run.get("aggregate_name") == "median":
        rates[run["run_name"]] = run["items_per_second"]

print()
print("Frame converter / libyuv, the same conversion, median pixels per CPU second:")
print(f"  {'':30s} {'ratio':>6s}  {'tesmo':>10s} {'libyuv':>10s}   {'goal':9s}")
names = []
for name in rates:
    pair = name.rsplit("/", 1)[0]
    if pair not in names:
        names.append(pair)
for name in names:
    ours, theirs = rates.get(name + "/tesmo"), rates.get(name + "/libyuv")
    if not ours or not theirs:
        continue
    _, source, target, size = name.split("/")
    goal = source in ("YUY2", "NV12") and target in ("RGB24", "RGB32", "I420")
    ratio = ours / theirs
    verdict = ("meets" if ratio >= 0.5 else "BELOW") if goal else ""
    print(f"  {source + ' -> ' + target + ', ' + size:30s} {ratio:5.2f}x  {ours / 1e9:6.2f} Gp/s {theirs / 1e9:6.2f} Gp/s"
          f"   {'>= 0.5x' if goal else '(info)':9s} {verdict}")
PY
fi

# One 1920 x 1080 MJPG frame of the test camera, decoded by libjpeg-turbo natively; the
# program writes the frame (with and without its Huffman tables) for the decode under
# Wine below. Medians of 5 repetitions.
if [ "$mjpg" != 0 ]; then
  "$BUILD/bin/tesmo_mjpg_bench" --jpeg_dir="$BUILD" --benchmark_repetitions=5 \
    --benchmark_display_aggregates_only=true --benchmark_min_time=0.3 \
    --benchmark_out="$BUILD/mjpg.json" --benchmark_out_format=json >/dev/null 2>"$BUILD/mjpg.log" ||
    { cat "$BUILD/mjpg.log"; exit 1; }
fi

# The same latencies with the Win32 kernel services, under Wine, when the Windows
# build is there (scripts/build-windows.sh): audio blocks and video frames. Then the
# library's MJPG decoder on the frame above.
latency=$windows/bin/tesmo_delivery_latency.exe
decode=$windows/bin/tesmo_mjpg_decode.exe
rm -f "$BUILD/mjpg-wine.txt"
if [ -f "$latency" ]; then
  . "$ROOT/scripts/wine-env.sh"
  tesmo_wine_up
  tesmo_wine "$latency" 3000 600 | grep -v '^video frame' | sed 's/^/  under Wine: /'
  if [ "$mjpg" != 0 ] && [ -f "$decode" ]; then
    tesmo_wine "$decode" "$(tesmo_wine_path "$BUILD")" 5 30 >"$BUILD/mjpg-wine.txt" ||
      { echo "  under Wine: the MJPG decode failed:"; cat "$BUILD/mjpg-wine.txt"; }
  fi
  tesmo_wine_down
fi

# Both decodes side by side: wall time a frame (median of the decodes) and CPU time a
# frame (median of the repetitions), and how many times libjpeg-turbo's each takes.
if [ "$mjpg" != 0 ]; then
  python3 - "$BUILD/mjpg.json" "$BUILD/mjpg-wine.txt" "$BUILD" <<'PY'
import json, os, re, sys

rows = []
for run in json.load(open(sys.argv[1]))["benchmarks"]:
    if run.get("aggregate_name") == "median":
        tables = run["run_name"].split("/")[2]
        rows.append((f"libjpeg-turbo, native, BGR, {tables}", run["real_time"], run["cpu_time"]))
reference = {name.rsplit(", ", 1)[1]: (wall, cpu) for name, wall, cpu in rows}
if os.path.exists(sys.argv[2]):
    for line in open(sys.argv[2]):
        m = re.match(r"(.+): ([0-9.]+) ms wall .*?, ([0-9.]+) ms CPU", line)
        if m:
            rows.append((m.group(1).replace("library", "library under Wine,").replace(
                "bare WIC", "bare WIC under Wine,"), float(m.group(2)), float(m.group(3))))
size = os.path.getsize(os.path.join(sys.argv[3], "mjpg-1920x1080.jpg"))
print()
print(f"MJPG decode of one 1920x1080 test camera frame ({size / 1000:.1f} kB, libjpeg-turbo quality 85,")
print("4:2:0), milliseconds a frame, and the multiple of libjpeg-turbo's time on the same bytes:")
print(f"  {'':40s} {'wall':>7s} {'CPU':>7s}   {'x wall':>7s} {'x CPU':>7s}")
for name, wall, cpu in rows:
    ref_wall, ref_cpu = reference.get(name.rsplit(", ", 1)[1], (0, 0))
    print(f"  {name:40s} {wall:7.2f} {cpu:7.2f}   {wall / ref_wall if ref_wall else 0:6.2f}x "
          f"{cpu / ref_cpu if ref_cpu else 0:6.2f}x   (reference)")
if not os.path.exists(sys.argv[2]):
    print("  (no decode under Wine: no Windows build, scripts/build-windows.sh)")
PY
fi

# The CPU and memory of whole captures, library beside the bare grabber host, at every
# size; TESMO_CPU_SECONDS per run (default 30), TESMO_BENCH_CPU=0 leaves it out.
if [ "${TESMO_BENCH_CPU:-1}" != 0 ] && [ -f "$latency" ]; then
  echo
  "$ROOT/scripts/measure-cpu.sh" "${TESMO_CPU_SECONDS:-30}"
fi
