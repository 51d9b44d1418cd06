#!/usr/bin/env bash
# Checks that a 32-bit Tavlo.exe, or the package's custom-action DLL, loads
# on Windows XP SP3:
#  - an i386 GUI program (or a DLL) whose subsystem and OS versions are at
#    most 5.1;
#  - every function it imports is one XP SP3 exports, by the list kept in
#    scripts/xp-sp3-imports.txt ("dll function", dll in lower case). Anything
#    newer must be looked up at run time with GetProcAddress instead.
#   scripts/check-xp-imports.sh EXE_OR_DLL
set -euo pipefail
exe="$1"
here="$(cd "$(dirname "$0")" && pwd)"
allowed="$here/xp-sp3-imports.txt"
objdump=i686-w64-mingw32-objdump
command -v "$objdump" >/dev/null || objdump=objdump

fail=0
headers="$("$objdump" -p "$exe")"

if ! "$objdump" -f "$exe" | grep -q 'file format pei-i386'; then
  echo "check-xp-imports: $exe is not a 32-bit (i386) program"
  fail=1
fi

field() { awk -v k="$1" '$1 == k { print $2; exit }' <<<"$headers"; }
# IMAGE_FILE_DLL: a DLL's subsystem field means nothing to its loader.
image="GUI"
if (( 0x$(field Characteristics | sed 's/^0x//') & 0x2000 )); then image="DLL"; fi
subsystem="$(field Subsystem)"
if [ "$image" = GUI ] && [ "$subsystem" != "00000002" ]; then
  echo "check-xp-imports: subsystem is $subsystem, not Windows GUI (2)"
  fail=1
fi
for kind in Subsystem OSystem; do
  major="$(field "Major${kind}Version")"
  minor="$(field "Minor${kind}Version")"
  if [ -z "$major" ] || [ "$major" -gt 5 ] || { [ "$major" -eq 5 ] && [ "$minor" -gt 1 ]; }; then
    echo "check-xp-imports: ${kind} version ${major}.${minor} is newer than Windows XP (5.1)"
    fail=1
  fi
done

# "dll function" for every import; ordinal-only imports show as "dll #ordinal".
imports="$(awk '
  /^\tDLL Name: / { dll = tolower($3); next }
  dll != "" && /^\t[0-9a-f]+\t/ {
    name = $NF
    if (name == "<none>" || name ~ /^[0-9]+$/) name = "#" $(NF-1)
    print dll, name
    next
  }
  /^$/ { }
' <<<"$headers" | sort -u)"

if [ -z "$imports" ]; then
  echo "check-xp-imports: no imports found in $exe"
  exit 1
fi

unknown="$(comm -23 <(printf '%s\n' "$imports") <(grep -v '^#' "$allowed" | grep -v '^$' | sort -u))"
if [ -n "$unknown" ]; then
  echo "check-xp-imports: imports not known to exist on Windows XP SP3:"
  printf '  %s\n' $unknown | paste - - | sed 's/\t/ /'
  fail=1
fi

if [ "$fail" -ne 0 ]; then exit 1; fi
echo "check-xp-imports: $exe: i386 $image, subsystem/OS at most 5.1, $(wc -l <<<"$imports") imports, all present on Windows XP SP3"
