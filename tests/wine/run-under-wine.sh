#!/usr/bin/env bash
# ctest's emulator for the x86_64 Windows build: runs one Windows program
# under the 64-bit Wine loader in the build tree's own prefix.
set -u
: "${WINEPREFIX:?WINEPREFIX must name the build tree prefix (scripts/wine-tier.sh sets it)}"
export WINEDEBUG="${WINEDEBUG:--all}"
exec /usr/lib/wine/wine64 "$@"
