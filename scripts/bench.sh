#!/usr/bin/env bash
# Builds the native benchmarks (Release, in build/bench), runs them and prints one
# table of ratios against their goals; then, with the Windows build there, the
# delivery latencies under Wine and the CPU and memory of whole captures, library
# beside a bare grabber host (scripts/measure-cpu.sh). Installs nothing: needs cmake,
# ninja, python3, libbenchmark-dev, libjack-jackd2-dev and libyuv-dev (the frame
# converter's yardstick). Extra arguments go to the data path's benchmark program,
# e.g. --benchmark_filter=Stream; TESMO_BENCH_CONVERT=0 leaves the converter out.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${TESMO_BENCH_BUILD:-$ROOT/build/bench}
JSON=$BUILD/bench.json

cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESMO_BUILD_TESTS=OFF >/dev/null
cmake --build "$BUILD" --target tesmo_bench
convert=${TESMO_BENCH_CONVERT:-1}
[ "$convert" != 0 ] && cmake --build "$BUILD" --target tesmo_convert_bench

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

# The same latencies with the Win32 kernel services, under Wine, when the Windows
# build is there (scripts/build-windows.sh): audio blocks and video frames.
latency=$ROOT/build/windows/bin/tesmo_delivery_latency.exe
if [ -f "$latency" ]; then
  . "$ROOT/scripts/wine-env.sh"
  tesmo_wine_up
  tesmo_wine "$latency" 3000 600 | grep -v '^video frame' | sed 's/^/  under Wine: /'
  tesmo_wine_down
fi

# The CPU and memory of whole captures, library beside the bare grabber host, at every
# size; TESMO_CPU_SECONDS per run (default 30), TESMO_BENCH_CPU=0 leaves it out.
if [ "${TESMO_BENCH_CPU:-1}" != 0 ] && [ -f "$latency" ]; then
  echo
  "$ROOT/scripts/measure-cpu.sh" "${TESMO_CPU_SECONDS:-30}"
fi
