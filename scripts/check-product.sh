#!/usr/bin/env bash
# Checks the 32-bit product build: it compiled (with its 32-bit layout
# assertions) and, once Tavlo.exe exists, that it loads on Windows XP SP3.
set -euo pipefail
build="$1"
exe="$build/Tavlo.exe"
if [ ! -f "$exe" ]; then
  echo "check-product: 32-bit libraries built with their layout checks; no Tavlo.exe in this build yet"
  exit 0
fi
exec "$(dirname "$0")/check-xp-imports.sh" "$exe"
