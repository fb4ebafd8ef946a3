# Sourced by the scripts: a private, headless Wine prefix for the Windows programs.
#   . scripts/wine-env.sh && tesmo_wine_up   # make the prefix (once), start wineserver
#   tesmo_wine_down                          # stop wineserver
# Wine's background processes must not inherit the caller's output pipes, or a
# caller that waits for end-of-file (ctest) hangs; hence the redirections.
TESMO_ROOT=${TESMO_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
export WINEPREFIX=${WINEPREFIX:-$TESMO_ROOT/build/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono/Gecko installers (nothing may prompt) and no ALSA driver (no sound hardware).
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml=;winealsa.drv=d"}
export WINEARCH=win64
TESMO_WINE64=${TESMO_WINE64:-$(command -v wine64 || echo /usr/lib/wine/wine64)}
TESMO_WINESERVER=${TESMO_WINESERVER:-$(command -v wineserver || echo /usr/lib/wine/wineserver)}
export TESMO_WINE64 TESMO_WINESERVER

tesmo_wine() { "$TESMO_WINE64" "$@"; }

tesmo_wine_up() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "Creating the Wine prefix $WINEPREFIX ..."
    mkdir -p "$WINEPREFIX"
    "$TESMO_WINE64" wineboot -i </dev/null >/dev/null 2>&1 || { echo "wineboot failed" >&2; return 1; }
  fi
  # A persistent server, so that every test program does not boot Wine again: the
  # server the first boot started is not, so replace it.
  "$TESMO_WINESERVER" -k </dev/null >/dev/null 2>&1 || true
  "$TESMO_WINESERVER" -w </dev/null >/dev/null 2>&1 || true
  "$TESMO_WINESERVER" -p </dev/null >/dev/null 2>&1 || true
  "$TESMO_WINE64" wineboot </dev/null >/dev/null 2>&1 || true
}

tesmo_wine_down() {
  "$TESMO_WINESERVER" -k </dev/null >/dev/null 2>&1 || true
}

# The Windows form of a Unix path, through Wine's Z: drive (no Wine process needed).
tesmo_wine_path() { printf 'Z:%s' "$(realpath "$1" | sed 's|/|\\|g')"; }

# regsvr32 the test capture devices; /s keeps regsvr32 from opening a message box.
tesmo_register_test_devices() {
  "$TESMO_WINE64" regsvr32 /s "$(tesmo_wine_path "$1")" </dev/null >/dev/null 2>&1
}
