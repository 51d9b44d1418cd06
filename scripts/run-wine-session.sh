#!/usr/bin/env bash
# `make run`: the real Tavlo.exe under Wine with the test filter driver, in a
# virtual X display and the build tree's own prefix. Plays the built-in
# session of tests/e2e/wine_session.cpp and prints what Tavlo typed and what
# its driver saw. The Tavlo.exe is the build's TAVLO_TEST_EXE: the shipped
# 32-bit program by default (scripts/wine-env.sh, tavlo_test_exe).
#   scripts/run-wine-session.sh BUILD_DIR
set -euo pipefail
. "$(dirname "$0")/wine-env.sh"
build="$(cd "$1" && pwd)"
under_test="$(tavlo_exe_under_test "$build")" || { echo "run: $under_test"; exit 1; }
wine_env "$build"
echo "run: Tavlo.exe under test: $under_test"
wine_boot run
cleanup() {
  # The session removes the driver itself; this also does when it died.
  "$WINE64" "$build/tests/driver/kbdfiltr_test_ctl.exe" remove >/dev/null 2>&1 || true
  wine_stop
}
trap cleanup EXIT
"$WINE64" "$build/tests/e2e/tavlo_wine_session.exe" </dev/null
