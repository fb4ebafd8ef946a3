#!/usr/bin/env bash
# Builds the native benchmarks (Release, in build/bench), runs them and prints the
# ratios against their goals. Installs nothing: needs cmake, ninja, python3,
# libbenchmark-dev and libjack-jackd2-dev. Extra arguments go to the benchmark
# program, e.g. --benchmark_filter=Stream.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${TESMO_BENCH_BUILD:-$ROOT/build/bench}
JSON=$BUILD/bench.json

cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESMO_BUILD_TESTS=OFF >/dev/null
cmake --build "$BUILD" --target tesmo_bench

# Throughput runs are repeated and compared by their medians; the latency runs set
# their own single long run.
"$BUILD/bin/tesmo_bench" --benchmark_repetitions=5 --benchmark_display_aggregates_only=true \
  --benchmark_out="$JSON" --benchmark_out_format=json "$@"

python3 - "$JSON" <<'PY'
import json, sys

runs = json.load(open(sys.argv[1]))["benchmarks"]

def rate(prefix, statistic):
    for run in runs:
        if run["run_name"].startswith(prefix) and run.get("aggregate_name") == statistic:
            return run["bytes_per_second"]
    return None

# statistic "median", or "max" for the best repetition (the stream runs only).
def ratio(name, num, den, goal, statistic="median"):
    a, b = rate(num, statistic), rate(den, statistic)
    if a is None or b is None:
        print(f"{name:40s} not measured")
        return
    verdict = "meets" if a / b >= goal else "BELOW"
    print(f"{name:40s} {a / b:6.2f}x  (goal >= {goal}x: {verdict})  "
          f"[{a / 1e9:.2f} / {b / 1e9:.2f} GB/s]")

print()
print("Ratios (medians of the repetitions unless marked best):")
ratio("ring/JACK, 320-byte stream", "BM_RingStream320", "BM_JackStream320", 1.0)
ratio("ring/JACK, 320-byte stream, best", "BM_RingStream320", "BM_JackStream320", 1.0, "max")
ratio("ring/memcpy in+out, 3072 bytes", "BM_RingWriteRead3072", "BM_MemcpyInOut3072", 0.5)
ratio("ring/memcpy once, 3072 bytes", "BM_RingWriteRead3072", "BM_Memcpy3072", 0.5)

def seconds(prefix):
    for run in runs:
        if run["run_name"].startswith(prefix) and run.get("aggregate_name") == "median":
            return run["real_time"]
    return None

# A time ratio: the frame store against a copy of the same bytes, each timed once per
# delivery cycle (the hot loop of copies is shown for reference).
store, copy = seconds("BM_VideoStoreSample"), seconds("BM_FrameMemcpyAfterWait")
if store and copy:
    verdict = "meets" if store / copy <= 1.1 else "ABOVE"
    print(f"{'video StoreSample/memcpy, 640x480 RGB24':40s} {store / copy:6.2f}x  (goal <= 1.1x time: {verdict})  "
          f"[{store / 1000:.1f} / {copy / 1000:.1f} us]")

print()
print("Delivery latency, StoreSample to OnData:")
for run in runs:
    if run["run_name"].startswith("BM_DeliveryLatency") and run.get("run_type") == "iteration":
        if run.get("error_occurred"):
            print(f"  {run['run_name']} failed: {run.get('error_message', '')}")
            continue
        gap = run["run_name"].split("/")[1]
        p99 = run["p99_us"]
        verdict = "meets" if p99 <= 100 else "BELOW"
        print(f"  gap {gap:>5s} us: p50 {run['p50_us']:7.1f} us  p99 {p99:7.1f} us  "
              f"max {run['max_us']:8.1f} us  (goal p99 <= 100 us: {verdict})")
PY

# The same latency with the Win32 kernel services, under Wine, when the Windows
# build is there (scripts/build-windows.sh).
latency=$ROOT/build/windows/bin/tesmo_delivery_latency.exe
if [ -f "$latency" ]; then
  echo
  echo "Delivery latency under Wine (Win32 events and threads):"
  . "$ROOT/scripts/wine-env.sh"
  tesmo_wine_up
  tesmo_wine "$latency" 3000
  tesmo_wine_down
fi
