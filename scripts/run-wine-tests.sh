#!/usr/bin/env bash
# Runs the Windows build's tests (build/windows) under Wine: a private prefix, the
# test capture devices registered, then ctest. Arguments go to ctest.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
. scripts/wine-env.sh
tesmo_wine_up || exit 1
./scripts/register-test-devices.sh build/windows/bin/TesmoTestDevices.dll
# A graph under Wine now and then never returns from a call (seen on both the audio
# and the video side, not yet explained): such a test is ended after 120 s and run
# once more, so one hang does not fail the run but a repeatable one still does.
(cd build/windows && ctest --output-on-failure -j 1 --timeout 120 --repeat until-pass:2 "$@")
status=$?
tesmo_wine_down
exit $status
