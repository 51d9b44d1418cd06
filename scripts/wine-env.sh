# Sourced by every script that runs Windows programs under Wine (the Windows
# tier, `make run`, the Wine benchmarks, the package tests). It gives them one
# way to set up Wine: the build tree's own prefix, a virtual X display, one
# booted WoW64 prefix and one wineserver for the whole run.
#
#   . scripts/wine-env.sh     # before the script shifts its arguments
#   wine_env BUILD_DIR        # sets WINEPREFIX etc.; re-runs the calling
#                             # script, with its arguments, under xvfb-run
#                             # when it is not already running there
#   wine_boot LABEL           # boots the prefix if needed, starts wineserver
#                             # and Wine's own services
#   wine_boot_fresh LABEL     # the same in a prefix made anew (any old one
#                             # is removed first)
#
# After wine_boot: WINE64 starts a 64-bit program, WINE32 a 32-bit one (the
# plain `wine` launcher; the pid it gives is the program's own), WINESERVER is
# the server. wine_stop ends the server (call it from the script's EXIT trap).

WINE64=/usr/lib/wine/wine64
WINE32=/usr/lib/wine/wine
WINESERVER=/usr/lib/wine/wineserver
TAVLO_SCRIPT_ARGS=("$@")

wine_env() {
  local build="$1"
  export WINEPREFIX="$build/wineprefix"
  export WINEDEBUG="${WINEDEBUG:--all}"
  export WINEDLLOVERRIDES="mscoree,mshtml="   # no Mono/Gecko install prompts
  if [ -z "${TAVLO_IN_XVFB:-}" ]; then
    export TAVLO_IN_XVFB=1
    exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "${TAVLO_SCRIPT_ARGS[@]}"
  fi
}

# The kind of prefix this machine's Wine makes: "wow64" when the 32-bit Wine
# is installed beside the 64-bit one (32-bit programs run, as on 64-bit
# Windows), "win64" otherwise.
wine_kind() {
  if [ -x "$WINE32" ] && [ -d /usr/lib/i386-linux-gnu/wine/i386-windows ]; then echo wow64; else echo win64; fi
}

wine_boot() {
  local label="${1:-wine}" kind
  kind="$(wine_kind)"
  # A prefix made before the 32-bit Wine was installed cannot run 32-bit
  # programs: make it again. The marker says which kind a prefix is.
  if [ -f "$WINEPREFIX/system.reg" ] && [ "$(cat "$WINEPREFIX/tavlo-prefix-kind" 2>/dev/null)" != "$kind" ]; then
    echo "$label: remaking prefix $WINEPREFIX as $kind"
    "$WINESERVER" -k >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
  fi
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "$label: booting $kind prefix $WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    "$WINE64" wineboot -i >/dev/null 2>&1 || true
    # Without this wait a device or service installed in the same run fails.
    "$WINESERVER" -w
    echo "$kind" > "$WINEPREFIX/tavlo-prefix-kind"
  fi
  "$WINESERVER" -p || true   # already running for this prefix: use it
  # Wine's own services start now, detached from any program's output: a
  # service started by the first test would inherit its pipes and hold the
  # caller waiting for them.
  "$WINE64" cmd /c exit </dev/null >/dev/null 2>&1 || true
}

wine_boot_fresh() {
  "$WINESERVER" -k >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX"
  wine_boot "$@"
}

wine_stop() {
  "$WINESERVER" -k >/dev/null 2>&1 || true
}
