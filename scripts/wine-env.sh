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
# The 32-bit loader itself (package wine32): with it installed, the `wine` launcher is
# the 32-bit one, so 64-bit programs go to wine64 by name.
TESMO_WINE32=${TESMO_WINE32:-/usr/lib/wine/wine}
TESMO_WINESERVER=${TESMO_WINESERVER:-$(command -v wineserver || echo /usr/lib/wine/wineserver)}
export TESMO_WINE64 TESMO_WINE32 TESMO_WINESERVER

# The machine of a Windows program or DLL from its PE header: x86 (0x14c), x64
# (0x8664), or nothing for another file.
tesmo_pe_machine() {
  local pe
  pe=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ')
  [ -n "$pe" ] || return 0
  case $(od -An -tx2 -j$((pe + 4)) -N2 "$1" 2>/dev/null | tr -d ' ') in
    014c) echo x86 ;;
    8664) echo x64 ;;
  esac
}

# The loader for a Windows program or DLL: the 32-bit one for an x86 file.
tesmo_wine_for() {
  if [ "$(tesmo_pe_machine "$1")" = x86 ]; then echo "$TESMO_WINE32"; else echo "$TESMO_WINE64"; fi
}

# Runs a Wine program: a Windows file named first goes to the loader of its machine,
# anything else (a builtin such as reg) to wine64.
tesmo_wine() {
  if [ -f "$1" ]; then "$(tesmo_wine_for "$1")" "$@"; else "$TESMO_WINE64" "$@"; fi
}

# Whether a 32-bit program runs under Wine here: a program that returns its pointer
# width in bits is built with mingw-w64 and run in the prefix (tesmo_wine_up first).
# Some machines refuse every 32-bit program ("Exec format error"); then the reason is
# printed and the answer is no.
tesmo_wine32_runs() {
  local work status
  [ -x "$TESMO_WINE32" ] || { echo "no 32-bit Wine loader at $TESMO_WINE32 (package wine32)"; return 1; }
  work=$(mktemp -d "${TMPDIR:-/tmp}/tesmo-wine32.XXXXXX")
  printf 'int main(void) { return (int)sizeof(void *) * 8; }\n' >"$work/probe.c"
  if ! i686-w64-mingw32-gcc -o "$work/probe.exe" "$work/probe.c" >"$work/log" 2>&1; then
    echo "the 32-bit probe does not build: $(head -c 300 "$work/log")"; rm -rf "$work"; return 1
  fi
  "$TESMO_WINE32" "$work/probe.exe" </dev/null >"$work/log" 2>&1
  status=$?
  if [ $status -ne 32 ]; then
    echo "a 32-bit program under $TESMO_WINE32 ended with $status, not 32: $(tr '\n' ' ' <"$work/log" | head -c 300)"
    rm -rf "$work"; return 1
  fi
  rm -rf "$work"
}

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

# regsvr32 the test capture devices, with the regsvr32 of the DLL's machine; /s keeps
# regsvr32 from opening a message box.
tesmo_register_test_devices() {
  "$(tesmo_wine_for "$1")" regsvr32 /s "$(tesmo_wine_path "$1")" </dev/null >/dev/null 2>&1
}
