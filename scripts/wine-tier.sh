#!/usr/bin/env bash
# Runs the Windows tier: every test of a Windows build under Wine, inside a
# virtual X display, with one booted prefix kept in the build tree and one
# wineserver for the whole run.
#   scripts/wine-tier.sh BUILD_DIR [ctest args...]
set -euo pipefail
. "$(dirname "$0")/wine-env.sh"
build="$(cd "$1" && pwd)"; shift
wine_env "$build"
wine_boot wine-tier
trap wine_stop EXIT
cd "$build"
ctest --output-on-failure "$@"
