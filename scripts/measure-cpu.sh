#!/usr/bin/env bash
# CPU use of a capture through the library (320x240 RGB24 at 30 fps plus audio)
# beside a bare host that builds the same graphs with only the sample grabbers,
# under Wine against the test devices. Never part of the tests.
#   scripts/measure-cpu.sh [SECONDS]     (default 30 each)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
seconds=${1:-30}
if [ -z "${DISPLAY:-}" ] && [ -z "${TESMO_IN_XVFB:-}" ]; then
  TESMO_IN_XVFB=1 exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi
./scripts/build-windows.sh >/dev/null
. scripts/wine-env.sh
tesmo_wine_up
./scripts/register-test-devices.sh --defaults build/windows/bin/TesmoTestDevices.dll >/dev/null
ticks=$(getconf CLK_TCK)
server_cpu() {  # wineserver's user + system time, in clock ticks
  local pid; pid=$(pgrep -n -x wineserver || true)
  [ -n "$pid" ] && awk '{print $14 + $15}' "/proc/$pid/stat" || echo 0
}
for mode in bare tesmo; do
  before=$(server_cpu)
  tesmo_wine build/windows/bin/tesmo_capture_cpu.exe "$mode" "$seconds" | grep -v '^video frame'
  after=$(server_cpu)
  echo "    wineserver meanwhile: $(( (after - before) * 1000 / ticks )) ms CPU"
done
tesmo_wine_down
