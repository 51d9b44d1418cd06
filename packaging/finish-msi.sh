#!/usr/bin/env bash
# The one step after wixl in the build of Tavlo's MSI package
# (packaging/CMakeLists.txt, target tavlo_msi): it puts right, with msibuild
# (msitools), what wixl 0.101 writes wrongly into the tables, or cannot write,
# without a word. The package tier (tests/package/) checks the result.
#   packaging/finish-msi.sh MSI FILE_VERSION FILE_LANGUAGE
# FILE_VERSION and FILE_LANGUAGE are those of Tavlo.exe's version resource
# (1.0.0.0 and 2052).
set -euo pipefail
msi="$1"
file_version="$2"
file_language="$3"

# wixl exits 0 also when it could not write its output, and msibuild would
# make an empty database of a missing file.
if [ ! -s "$msi" ]; then
  echo "finish-msi: $msi was not written" >&2
  exit 1
fi

# The value of one row of the Property table ("" if there is none).
property() {
  msiinfo export "$msi" Property | tr -d '\r' | awk -F'\t' -v name="$1" 'NR > 3 && $1 == name { print $2 }'
}

fixes=()

# Secure properties pass from the command line to an installation that
# Windows elevates (UAC) or that runs managed: without this TAVLO_START=0 and
# INSTALLFOLDER would be dropped there. wixl ignores Property Secure="yes".
secure="$(printf '%s\n' INSTALLFOLDER TAVLO_START $(property SecureCustomProperties | tr ';' ' ') | sort -u | paste -sd';')"
fixes+=(-q "UPDATE Property SET Value = '$secure' WHERE Property = 'SecureCustomProperties'")

# StartTavloAgain is StopTavlo's rollback action: a DLL action (1) in the
# script (0x400) that runs only on rollback (0x100), impersonated. wixl writes
# Execute="rollback" as type 1, an immediate action that runs on every install.
fixes+=(-q "UPDATE CustomAction SET Type = 1281 WHERE Action = 'StartTavloAgain'")

# Tavlo.exe is a versioned file: Windows Installer compares versions when it
# decides whether to replace it, and a versioned file has no hash row. wixl
# ignores File DefaultVersion and writes a hash instead.
fixes+=(-q "UPDATE File SET Version = '$file_version', Language = '$file_language' WHERE File = 'TavloExe'")
fixes+=(-q "DELETE FROM MsiFileHash WHERE File_ = 'TavloExe'")

msibuild "$msi" "${fixes[@]}"
