#!/usr/bin/env bash
# Checks the 32-bit product build: Tavlo.exe was built (with its 32-bit
# layout assertions), and it and the package's custom actions
# (TavloSetup.dll, run by msiexec on the user's machine) load on Windows XP
# SP3. Tavlo.exe imports only DLLs that Windows never takes from the
# program's own folder.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
fail=0
for file in "$1/Tavlo.exe" "$1/packaging/TavloSetup.dll"; do
  if [ ! -f "$file" ]; then
    echo "check-product: $file was not built"
    fail=1
    continue
  fi
  "$here/check-xp-imports.sh" "$file" || fail=1
done

# The DLLs Tavlo.exe may import. Windows looks for an imported DLL in the
# program's folder before the system directory unless it is one of its
# KnownDLLs, and users run the bare Tavlo.exe from Downloads, where anyone's
# download can put a DLL beside it. kernel32, user32 and msvcrt are KnownDLLs
# on every Windows from XP on; comctl32 (version 6) is named by the manifest,
# and Windows takes it from its side-by-side store. hid.dll, setupapi.dll and
# psapi.dll are not KnownDLLs everywhere: Tavlo.exe loads them by full path
# at run time (platform/win32/system_libraries.h) and must not import them.
# TavloSetup.dll is not checked here: it runs inside msiexec, whose own
# folder is the system directory (README, "Against DLL planting").
exe="$1/Tavlo.exe"
if [ -f "$exe" ]; then
  objdump=i686-w64-mingw32-objdump
  command -v "$objdump" >/dev/null || objdump=objdump
  dlls="$("$objdump" -p "$exe" | awk '/^\tDLL Name: / { print tolower($3) }' | sort -u)"
  for dll in $dlls; do
    case "$dll" in
      kernel32.dll | user32.dll | msvcrt.dll | comctl32.dll) ;;
      hid.dll | setupapi.dll | psapi.dll)
        echo "check-product: $exe imports $dll, which Windows would also take from the program's folder;" \
             "load it by full path (platform/win32/system_libraries.h)"
        fail=1
        ;;
      *)
        echo "check-product: $exe imports $dll, which is not known to come only from the system;" \
             "load it by full path, or add it here if it is a KnownDLL on every Windows Tavlo supports"
        fail=1
        ;;
    esac
  done
  if [ "$fail" -eq 0 ]; then
    echo "check-product: $exe imports only $(echo $dlls | sed 's/ /, /g')"
  fi
fi
exit "$fail"
