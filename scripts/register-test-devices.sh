#!/bin/bash
# Registers the test capture devices (TesmoTestDevices.dll) in the Tesmo Wine prefix:
#   scripts/register-test-devices.sh [path/to/TesmoTestDevices.dll]   (default build/bin/...)
# The device set registered is the one stored under HKCU\Software\Tesmo\TestDevices in the
# prefix, or the default microphone and camera. Test programs that call
# TestDevices_SetDevices register from their own process and do not need this.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
dll=${1:-$TESMO_ROOT/build/bin/TesmoTestDevices.dll}
[ -f "$dll" ] || { echo "no such file: $dll" >&2; exit 1; }
tesmo_wine_up
tesmo_register_test_devices "$dll"
echo "Registered $(tesmo_wine_path "$dll") in $WINEPREFIX"
