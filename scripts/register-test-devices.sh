#!/bin/bash
# Registers the test capture devices (TesmoTestDevices.dll) in the Tesmo Wine prefix:
#   scripts/register-test-devices.sh [--defaults] [path/to/TesmoTestDevices.dll]
# The device set registered is the one stored under HKCU\Software\Tesmo\TestDevices in the
# prefix, or the default microphone and camera; --defaults forgets the stored set first
# (a test run that was cut short may have left its own). Test programs that call
# TestDevices_SetDevices register from their own process and do not need this.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
defaults=0
if [ "${1:-}" = "--defaults" ]; then defaults=1; shift; fi
dll=${1:-$TESMO_ROOT/build/windows/bin/TesmoTestDevices.dll}
[ -f "$dll" ] || { echo "no such file: $dll" >&2; exit 1; }
tesmo_wine_up
if [ $defaults -eq 1 ]; then
  tesmo_wine reg delete 'HKCU\Software\Tesmo\TestDevices' /f </dev/null >/dev/null 2>&1 || true
fi
tesmo_register_test_devices "$dll"
echo "Registered $(tesmo_wine_path "$dll") in $WINEPREFIX"
