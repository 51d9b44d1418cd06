#!/usr/bin/env bash
# Runs the Windows tier: every test of the x86_64 build under Wine, inside a
# virtual X display, with one booted prefix kept in the build tree and one
# wineserver for the whole run.
#   scripts/wine-tier.sh BUILD_DIR [ctest args...]
set -euo pipefail
build="$(cd "$1" && pwd)"; shift
export WINEPREFIX="$build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="   # no Mono/Gecko install prompts

if [ -z "${TAVLO_IN_XVFB:-}" ]; then
  export TAVLO_IN_XVFB=1
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$build" "$@"
fi

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "wine-tier: booting prefix $WINEPREFIX"
  /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1 || true
  /usr/lib/wine/wineserver -w
fi
/usr/lib/wine/wineserver -p || true   # already running for this prefix: use it
# Start Wine's own services now, detached from any test's output: a service
# started by the first test would inherit its pipes and hold ctest waiting.
/usr/lib/wine/wine64 cmd /c exit </dev/null >/dev/null 2>&1 || true
trap '/usr/lib/wine/wineserver -k >/dev/null 2>&1 || true' EXIT
cd "$build"
ctest --output-on-failure "$@"
