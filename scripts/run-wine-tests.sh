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
# Each test is bounded at 120 s and runs once: a test that needs a second try is a
# fault to mend, not to hide.
(cd "$build" && ctest --output-on-failure -j 1 --timeout 120 "$@")
status=$?
tesmo_wine_down
exit $status
