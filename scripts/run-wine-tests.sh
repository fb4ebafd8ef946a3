#!/usr/bin/env bash
# Runs a Windows build's tests under Wine: a private prefix, the build's test capture
# devices registered, then ctest.
#   scripts/run-wine-tests.sh [BUILD] [CTEST-ARGUMENT...]
# BUILD is build/windows (x64, the default) or build/windows-x86: its toolchain file
# sets the loader ctest runs the programs with, wine64 or the 32-bit one.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build=build/windows
if [ $# -gt 0 ] && [ -d "$1" ]; then build=$1; shift; fi
. scripts/wine-env.sh
tesmo_wine_up || exit 1
./scripts/register-test-devices.sh --defaults "$build/bin/TesmoTestDevices.dll"
# Each test is bounded at 120 s. A hung test is run once more, so that a rare hang in
# Wine's own graph code does not fail the run while a repeatable one still does (the
# one such hang found, a source stopped while the renderer held its sample, the test
# devices now flush away).
(cd "$build" && ctest --output-on-failure -j 1 --timeout 120 --repeat until-pass:2 "$@")
status=$?
tesmo_wine_down
exit $status
