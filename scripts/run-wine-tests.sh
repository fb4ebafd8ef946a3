#!/usr/bin/env bash
# Runs the Windows build's tests (build/windows) under Wine: a private prefix, the
# test capture devices registered, then ctest. Arguments go to ctest.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
. scripts/wine-env.sh
tesmo_wine_up || exit 1
./scripts/register-test-devices.sh build/windows/bin/TesmoTestDevices.dll
(cd build/windows && ctest --output-on-failure -j 1 --timeout 600 "$@")
status=$?
tesmo_wine_down
exit $status
