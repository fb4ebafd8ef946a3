#!/usr/bin/env bash
# Builds the native benchmarks (Release, in build/bench), runs them and prints the
# tables of ratios against their goals: the data path, then the pixel path (the frame
# converter beside libyuv's bare calls, crop and scale, the MJPG decoder beside
# libjpeg-turbo's bare decode, natively and under Wine); then, with the Windows build
# there, the delivery latencies under Wine and the CPU and memory of whole captures,
# library beside a bare grabber host (scripts/measure-cpu.sh). Installs nothing: needs
# cmake, ninja, python3, libbenchmark-dev, libjack-jackd2-dev, libyuv-dev and
# libturbojpeg0-dev. Extra arguments go to the data path's benchmark program, e.g.
# --benchmark_filter=Stream; TESMO_BENCH_CONVERT=0 leaves the converter out,
# TESMO_BENCH_MJPG=0 the MJPG decode, TESMO_BENCH_CPU=0 the whole captures.
# TESMO_WINDOWS_BUILD names the Windows build folder (default build/windows); another
# folder than the default gets its own Wine prefix in it unless WINEPREFIX is set.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${TESMO_BENCH_BUILD:-$ROOT/build/bench}
JSON=$BUILD/bench.json
windows=$(realpath -m "${TESMO_WINDOWS_BUILD:-$ROOT/build/windows}")
if [ "$windows" != "$(realpath -m "$ROOT/build/windows")" ] && [ -z "${WINEPREFIX:-}" ]; then
  export WINEPREFIX=$windows/wineprefix
fi
export TESMO_WINDOWS_BUILD=$windows

cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESMO_BUILD_TESTS=OFF >/dev/null
cmake --build "$BUILD" -j 2 --target tesmo_bench
convert=${TESMO_BENCH_CONVERT:-1}
[ "$convert" != 0 ] && cmake --build "$BUILD" -j 2 --target tesmo_convert_bench
mjpg=${TESMO_BENCH_MJPG:-1}
[ "$mjpg" != 0 ] && cmake --build "$BUILD" -j 2 --target tesmo_mjpg_bench
# The Windows programs, brought up to date where the Windows build is there.
if [ -f "$windows/CMakeCache.txt" ]; then
  cmake --build "$windows" -j 2 --target tesmo_delivery_latency tesmo_mjpg_decode >/dev/null
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

# The pixel path. Every pair's repetitions are interleaved at random with the others',
# so that a burst of load elsewhere on the machine falls on both sides alike; medians
# of 5, CPU time.
interleaved=(--benchmark_repetitions=5 --benchmark_display_aggregates_only=true
             --benchmark_enable_random_interleaving=true --benchmark_out_format=json)
if [ "$convert" != 0 ]; then
  "$BUILD/bin/tesmo_convert_bench" "${interleaved[@]}" --benchmark_min_time=0.2 \
    --benchmark_out="$BUILD/convert.json" >/dev/null 2>"$BUILD/convert.log" ||
    { cat "$BUILD/convert.log"; exit 1; }
fi
# One 1920 x 1080 MJPG frame of the test camera's picture, decoded natively by
# libjpeg-turbo and by the library's decoder; the program writes the frame for the
# decode under Wine below.
rm -f "$BUILD/mjpg.json"
if [ "$mjpg" != 0 ]; then
  "$BUILD/bin/tesmo_mjpg_bench" --jpeg_dir="$BUILD" "${interleaved[@]}" --benchmark_min_time=0.3 \
    --benchmark_out="$BUILD/mjpg.json" >/dev/null 2>"$BUILD/mjpg.log" ||
    { cat "$BUILD/mjpg.log"; exit 1; }
fi

# The same latencies with the Win32 kernel services, under Wine, when the Windows
# build is there: audio blocks and video frames. Then the library's MJPG decoder on
# the frame above, into each host format.
latency=$windows/bin/tesmo_delivery_latency.exe
decode=$windows/bin/tesmo_mjpg_decode.exe
rm -f "$BUILD/mjpg-wine.txt"
if [ -f "$latency" ]; then
  . "$ROOT/scripts/wine-env.sh"
  tesmo_wine_up
  tesmo_wine "$latency" 3000 600 </dev/null | grep -v '^video frame' | sed 's/^/  under Wine: /'
  if [ "$mjpg" != 0 ] && [ -f "$decode" ]; then
    tesmo_wine "$decode" "$(tesmo_wine_path "$BUILD")" 5 100 </dev/null >"$BUILD/mjpg-wine.txt" ||
      { echo "  under Wine: the MJPG decode failed:"; cat "$BUILD/mjpg-wine.txt"; }
  fi
  tesmo_wine_down
fi

python3 - "$BUILD/convert.json" "$BUILD/mjpg.json" "$BUILD/mjpg-wine.txt" <<'PY'
import json, os, re, sys

def medians(path):
    if not os.path.exists(path):
        return {}
    # In the order the programs register their cases (the runs come interleaved).
    runs = sorted(json.load(open(path))["benchmarks"], key=lambda run: run.get("family_index", 0))
    return {run["run_name"]: run for run in runs
            if run.get("aggregate_name") == "median" and not run.get("error_occurred")}

convert, mjpg = medians(sys.argv[1]), medians(sys.argv[2])
# A case that skipped (the two sides disagree, the frame does not decode) says why.
failed = {}
for path in sys.argv[1:3]:
    if os.path.exists(path):
        for run in json.load(open(path))["benchmarks"]:
            if run.get("error_occurred"):
                failed[run["run_name"]] = run.get("error_message", "")

def row(name, value, goal, met):
    verdict = "" if met is None else ("meets" if met else "BELOW")
    print(f"  {name:46s} {value:>34s}   {goal:10s} {verdict}")

print()
print("Pixel path, each row measured side by side in this run (medians, CPU time):")
print(f"  {'':46s} {'measured':>34s}   {'goal':10s}")
# The converter seam beside libyuv's bare calls: the ratio of their pixel rates.
pairs = []
for name in convert:
    if name.startswith("Convert/") and name.endswith("/seam"):
        pairs.append(name[:-len("/seam")])
for pair in pairs:
    seam, bare = convert.get(pair + "/seam"), convert.get(pair + "/libyuv")
    if not bare:
        continue
    _, source, target, size = pair.split("/")
    a, b = seam["items_per_second"], bare["items_per_second"]
    row(f"seam / libyuv, {source} -> {target}, {size}", f"{a / b:.2f}x ({a / 1e9:.2f}/{b / 1e9:.2f} Gp/s)",
        ">= 0.95x", a / b >= 0.95)
# Crop and scale: milliseconds a frame, beside libyuv's bare chain of the same calls.
for name in convert:
    if name.startswith("CropScale/") and name.endswith("/seam"):
        bare = convert.get(name[:-len("/seam")] + "/libyuv")
        _, source, size, target, host, _ = name.split("/")
        ms = convert[name]["cpu_time"] / 1e3
        chain = (f", chain {bare['cpu_time'] / 1e3:.2f} ms, {bare['cpu_time'] / 1e3 / ms:.2f}x"
                 if bare else "")
        row(f"crop+scale {source} {size} -> {target} {host}", f"{ms:.2f} ms a frame{chain}", "(report)", None)
# The reduced-scale decode beside a whole one, both through the library's decoder.
small, whole = mjpg.get("MjpgDecode/MjpegDecoder/RGB24/320x240"), mjpg.get("MjpgDecode/MjpegDecoder/RGB24/1920x1080")
reference = mjpg.get("MjpgDecode/tjDecompress2/BGR")
if reference:
    print(f"  (MJPEG: one 1920x1080 4:2:2 frame of the test camera's picture, quality 85, "
          f"{reference['jpeg_bytes'] / 1000:.1f} kB)")
if small and whole:
    a, b = small["cpu_time"], whole["cpu_time"]
    row(f"MJPEG 1080p -> RGB24 320x240 (1/{int(small['scale_denominator'])}) / 1080p",
        f"{a / b:.2f}x ({a:.2f}/{b:.2f} ms)", "<= 0.5x", a / b <= 0.5)
# The library's whole decode into each host format beside libjpeg-turbo's bare decode,
# natively (for reference) and under Wine (the goal).
if reference:
    ref = reference["cpu_time"]
    # libjpeg-turbo alone into YUV planes, whole and at 1/4: how much of a decode the DCT
    # scale can save at all.
    planes = {d: mjpg.get(f"MjpgDecode/tjDecompressToYUVPlanes/1-{d}") for d in (1, 4)}
    if planes[1] and planes[4]:
        a, b = planes[4]["cpu_time"], planes[1]["cpu_time"]
        row("bare tjDecompressToYUVPlanes 1/4 / whole", f"{a / b:.2f}x ({a:.2f}/{b:.2f} ms)", "(info)", None)
    row("tjDecompress2 native, BGR bottom-up", f"{ref:.2f} ms", "(yardstick)", None)
    for target in ("RGB24", "RGB32", "RGB555", "I420"):
        run = mjpg.get(f"MjpgDecode/MjpegDecoder/{target}/1920x1080")
        if run:
            row(f"MJPEG 1080p -> {target}, native / tjDecompress2", f"{run['cpu_time'] / ref:.2f}x ({run['cpu_time']:.2f} ms)",
                "(info)", None)
    wine = {}
    if os.path.exists(sys.argv[3]):
        for line in open(sys.argv[3]):
            m = re.match(r"library (\S+): ([0-9.]+) ms wall .*?, ([0-9.]+) ms CPU", line)
            if m:
                wine[m.group(1)] = (float(m.group(2)), float(m.group(3)))
    for target in ("RGB24", "RGB32", "RGB555", "I420"):
        if target in wine:
            wall, cpu = wine[target]
            row(f"MJPEG 1080p -> {target}, Wine / tjDecompress2", f"{cpu / ref:.2f}x ({cpu:.2f} ms; wall {wall:.2f})",
                "<= 1.3x", cpu / ref <= 1.3)
    if not wine:
        print("  (no decode under Wine: no Windows build with tesmo_mjpg_decode, or it failed)")
for name, message in failed.items():
    print(f"  {name}: failed: {message}")
PY

# The CPU and memory of whole captures, library beside the bare grabber host, at every
# size; TESMO_CPU_SECONDS per run (default 30), TESMO_BENCH_CPU=0 leaves it out.
if [ "${TESMO_BENCH_CPU:-1}" != 0 ] && [ -f "$latency" ]; then
  echo
  "$ROOT/scripts/measure-cpu.sh" "${TESMO_CPU_SECONDS:-30}"
fi
