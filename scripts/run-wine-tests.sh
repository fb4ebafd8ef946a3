#!/usr/bin/env bash
# Runs the Windows build's tests (build/windows) under Wine: a private prefix, the
# test capture devices registered, then ctest. Arguments go to ctest.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
. scripts/wine-env.sh
tesmo_wine_up || exit 1
./scripts/register-test-devices.sh --defaults build/windows/bin/TesmoTestDevices.dll
# Each test is bounded at 120 s. A hung test is run once more, so that a rare hang in
# Wine's own graph code does not fail the run while a repeatable one still does (the
# one such hang found, a source stopped while the renderer held its sample, the test
# devices now flush away).
(cd build/windows && ctest --output-on-failure -j 1 --timeout 120 --repeat until-pass:2 "$@")
status=$?
tesmo_wine_down
exit $status
