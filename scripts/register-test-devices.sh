#!/bin/bash
# Registers the test capture devices (TesmoTestDevices.dll) in the Tesmo Wine prefix:
#   scripts/register-test-devices.sh [--defaults] [path/to/TesmoTestDevices.dll]
#   scripts/register-test-devices.sh --devices DESCRIPTION... [-- path/to/TesmoTestDevices.dll]
# The device set registered is the one stored under HKCU\Software\Tesmo\TestDevices in the
# prefix, or the default microphone and camera; --defaults forgets the stored set first
# (a test run that was cut short may have left its own); --devices stores this set (one
# description a device, tools/testdevices/README.md) and registers it. Run while a host
# runs, it plugs and unplugs devices as the system's do: the devices that stay keep their
# place, those beyond the new set leave. Test programs that call TestDevices_SetDevices
# register from their own process and do not need this.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
defaults=0 devices=()
if [ "${1:-}" = "--defaults" ]; then defaults=1; shift; fi
if [ "${1:-}" = "--devices" ]; then
  shift
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do devices+=("$1"); shift; done
  [ "${1:-}" = "--" ] && shift
fi
dll=${1:-$TESMO_ROOT/build/windows/bin/TesmoTestDevices.dll}
[ -f "$dll" ] || { echo "no such file: $dll" >&2; exit 1; }
# Restarting Wine's server would end the hosts that run: a device set plugged in while
# they run goes through the server there is.
if [ ${#devices[@]} -eq 0 ] || [ ! -f "$WINEPREFIX/system.reg" ]; then tesmo_wine_up; fi
if [ $defaults -eq 1 ]; then
  tesmo_wine reg delete 'HKCU\Software\Tesmo\TestDevices' /f </dev/null >/dev/null 2>&1 || true
fi
if [ ${#devices[@]} -gt 0 ]; then
  key='HKCU\Software\Tesmo\TestDevices'
  for i in "${!devices[@]}"; do
    tesmo_wine reg add "$key" /v "Device$i" /t REG_SZ /d "${devices[$i]}" /f </dev/null >/dev/null 2>&1
  done
  tesmo_wine reg add "$key" /v DeviceCount /t REG_DWORD /d ${#devices[@]} /f </dev/null >/dev/null 2>&1
fi
tesmo_register_test_devices "$dll"
echo "Registered $(tesmo_wine_path "$dll") in $WINEPREFIX"
