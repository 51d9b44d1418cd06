#!/usr/bin/env bash
# Runs the Windows tier: every test of a Windows build under Wine, inside a
# virtual X display, with one booted prefix kept in the build tree and one
# wineserver for the whole run. An i686 build is skipped, with one line
# saying why, where 32-bit programs cannot run.
#   scripts/wine-tier.sh BUILD_DIR [ctest args...]
set -euo pipefail
. "$(dirname "$0")/wine-env.sh"
build="$(cd "$1" && pwd)"; shift
wine_env "$build"

# The tests' own bitness, and that of the Tavlo.exe they launch.
some_test="$(find "$build/tests" -name '*_test.exe' -print -quit)"
if [ -z "$some_test" ]; then
  echo "wine-tier: no test programs in $build"
  exit 1
fi
if [ "$(pe_arch "$some_test")" = x86 ] && ! wine32_usable; then
  echo "32-bit tier skipped: $(wine32_why_not)"
  exit 0
fi
under_test=""
if [ -f "$build/tests/wine/process_test.exe" ]; then
  under_test="$(tavlo_exe_under_test "$build")" || { echo "wine-tier: $under_test"; exit 1; }
fi

[ -n "$under_test" ] && echo "wine-tier: the process and end-to-end tests run $under_test"
wine_boot wine-tier
trap wine_stop EXIT
cd "$build"
ctest --output-on-failure "$@"
