#!/usr/bin/env bash
# ctest's emulator for the Windows test builds: runs one Windows program in
# the build tree's own prefix, under the 64-bit Wine loader or, for an i686
# program, the 32-bit one (the prefix is a WoW64 prefix).
set -u
: "${WINEPREFIX:?WINEPREFIX must name the build tree prefix (scripts/wine-tier.sh sets it)}"
. "$(dirname "$0")/../../scripts/wine-env.sh"
export WINEDEBUG="${WINEDEBUG:--all}"
if [ "$(pe_arch "$1")" = x86 ]; then exec "$WINE32" "$@"; fi
exec "$WINE64" "$@"
