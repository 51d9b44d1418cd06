#!/usr/bin/env bash
# Checks the 32-bit product build: Tavlo.exe was built (with its 32-bit
# layout assertions) and loads on Windows XP SP3.
set -euo pipefail
exe="$1/Tavlo.exe"
if [ ! -f "$exe" ]; then
  echo "check-product: $exe was not built"
  exit 1
fi
exec "$(dirname "$0")/check-xp-imports.sh" "$exe"
