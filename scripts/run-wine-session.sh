#!/usr/bin/env bash
# `make run`: the real Tavlo.exe (x86_64 build) under Wine with the test
# filter driver, in a virtual X display and the build tree's own prefix.
# Plays the built-in session of tests/e2e/wine_session.cpp and prints what
# Tavlo typed and what its driver saw.
#   scripts/run-wine-session.sh BUILD_DIR
set -euo pipefail
build="$(cd "$1" && pwd)"
export WINEPREFIX="$build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="   # no Mono/Gecko install prompts

if [ -z "${TAVLO_IN_XVFB:-}" ]; then
  export TAVLO_IN_XVFB=1
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$build"
fi

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "run: booting Wine prefix $WINEPREFIX"
  /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1 || true
  /usr/lib/wine/wineserver -w
fi
# Wine's services start detached from this script's output.
/usr/lib/wine/wine64 cmd /c exit </dev/null >/dev/null 2>&1 || true
cleanup() {
  # The session removes the driver itself; this also does when it died.
  /usr/lib/wine/wine64 "$build/tests/driver/kbdfiltr_test_ctl.exe" remove >/dev/null 2>&1 || true
  /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
}
trap cleanup EXIT
/usr/lib/wine/wine64 "$build/tests/e2e/tavlo_wine_session.exe" </dev/null
