#!/usr/bin/env bash
# soak.sh [MINUTES]: the soak host (tests/soak/) under Wine for MINUTES (default 1, may
# be a fraction): the audio and the video object capture together from the test devices
# while random host operations run at random moments; prints the figures and fails on
# a sequence break, an unexpected result, a stall or growth of handles, threads or
# memory. SOAK_SEED repeats a run.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
minutes=${1:-1}
seconds=$(awk -v m="$minutes" 'BEGIN { printf "%d", m * 60 }')
./scripts/build-windows.sh Tesmo TesmoTestDevices tesmo-soak >/dev/null || exit 1
# The video renderer needs an X display of 24 bits.
if [ -z "${DISPLAY:-}" ] && [ -z "${TESMO_SOAK_IN_XVFB:-}" ]; then
  TESMO_SOAK_IN_XVFB=1 exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi
. scripts/wine-env.sh
tesmo_wine_up || exit 1
# The video object's line per delivered frame is left out of the figures.
(cd build/windows/bin && tesmo_wine tesmo-soak.exe "$seconds" ${SOAK_SEED:-}) | grep -v '^video frame '
status=${PIPESTATUS[0]}
tesmo_wine_down
exit $status
