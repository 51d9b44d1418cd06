#!/usr/bin/env bash
# Checks the 32-bit product build: Tavlo.exe was built (with its 32-bit
# layout assertions), and it and the package's custom actions
# (TavloSetup.dll, run by msiexec on the user's machine) load on Windows XP
# SP3.
set -euo pipefail
fail=0
for file in "$1/Tavlo.exe" "$1/packaging/TavloSetup.dll"; do
  if [ ! -f "$file" ]; then
    echo "check-product: $file was not built"
    fail=1
    continue
  fi
  "$(dirname "$0")/check-xp-imports.sh" "$file" || fail=1
done
exit "$fail"
