#!/usr/bin/env bash
# Compares a signed Tavlo file (Tavlo.exe, TavloSetup.dll or the MSI) with the
# same file of an unsigned build of the same commit: passes when they differ
# in their Authenticode signatures only. It does not check the signatures
# themselves (osslsigncode verify, or Windows, does that).
#   scripts/compare-signed.sh SIGNED UNSIGNED
# Exit status: 0 the same apart from the signatures, 1 they differ (each
# difference is named), 2 a file or a tool is missing.
#
# A program file (PE): its signature removed (osslsigncode remove-signature),
# it must be byte for byte the unsigned file.
#
# An MSI: removing its signature does not give the unsigned bytes back (the
# compound file is laid out anew, and the program files inside it carry
# their own signatures), so it is compared table by table (msiinfo export)
# and stream by stream, leaving out the MSI's own signature streams
# (\005DigitalSignature, \005MsiDigitalSignatureEx):
# - a cabinet stream: the same files under the same names, dates and
#   attributes, each (its signature removed) byte for byte the unsigned one;
# - a program-file stream (the Binary table's DLL): its signature removed,
#   byte for byte the unsigned one; any other stream byte for byte;
# - every table as exported, except that the File table's FileSize and the
#   MsiFileHash table's hashes (MD5, as four little-endian 32-bit integers)
#   of the signed package are first worked out again from its files with
#   their signatures removed.
# Needs osslsigncode, msitools (msiinfo) and gcab (Debian packages).
set -euo pipefail
export LC_ALL=C TZ=UTC

usage() { echo "usage: $0 SIGNED UNSIGNED" >&2; exit 2; }
[ $# -eq 2 ] || usage
signed="$1" unsigned="$2"
for f in "$signed" "$unsigned"; do
  [ -f "$f" ] || { echo "compare-signed: no file $f" >&2; exit 2; }
done
need() {
  command -v "$1" >/dev/null || { echo "compare-signed: $1 not found (Debian package $2)" >&2; exit 2; }
}
need osslsigncode osslsigncode

signed="$(realpath "$signed")" unsigned="$(realpath "$unsigned")"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# msiinfo export writes the streams of a table such as Binary into a folder of
# that name in the working folder: a scratch one.
mkdir "$work/scratch"
cd "$work/scratch"
differences=0
differs() { echo "compare-signed: differs: $*"; differences=$((differences + 1)); }

magic() { head -c "$2" "$1" | od -An -tx1 | tr -d ' \n'; }
is_pe() { [ "$(magic "$1" 2)" = 4d5a ]; }
is_msi() { [ "$(magic "$1" 8)" = d0cf11e0a1b11ae1 ]; }
is_cab() { [ "$(magic "$1" 4)" = 4d534346 ]; }

# Writes FILE without its signature to OUT; a file without one (or not a
# program file) as it is. A signature that cannot be removed leaves the
# signed bytes, which then differ from the unsigned ones.
strip() {
  if is_pe "$1" && osslsigncode remove-signature -in "$1" -out "$2" >/dev/null 2>&1; then
    return
  fi
  rm -f "$2"
  cp "$1" "$2"
}

# The MsiFileHash of FILE: MD5 as four little-endian signed 32-bit integers,
# tab-separated.
msi_file_hash() {
  local h i v out=()
  h="$(md5sum <"$1")"
  for i in 0 8 16 24; do
    v=$((16#${h:i+6:2}${h:i+4:2}${h:i+2:2}${h:i:2}))
    ((v < 2147483648)) || v=$((v - 4294967296))
    out+=("$v")
  done
  local IFS=$'\t'
  echo "${out[*]}"
}

compare_pe() {
  strip "$signed" "$work/stripped"
  cmp -s "$work/stripped" "$unsigned" || differs "$(basename "$signed") without its signature is not $(basename "$unsigned")"
}

# Compares the cabinets SIGNED_CAB and UNSIGNED_CAB of stream NAME; leaves the
# signed cabinet's files, signatures removed, in $work/files/ for the tables.
compare_cab() {
  local name="$1" scab="$2" ucab="$3" s="$work/cab-s" u="$work/cab-u" f
  rm -rf "$s" "$u" && mkdir -p "$s" "$u" "$work/files"
  gcab -x -C "$s" "$scab" >/dev/null && gcab -x -C "$u" "$ucab" >/dev/null \
    || { differs "stream $name: a cabinet that gcab cannot read"; return; }
  # Names, dates and attributes (the sizes follow from the bytes below).
  gcab -l -v "$scab" | awk '{$2 = ""; print}' | sort >"$work/list-s"
  gcab -l -v "$ucab" | awk '{$2 = ""; print}' | sort >"$work/list-u"
  cmp -s "$work/list-s" "$work/list-u" || differs "stream $name: the cabinet's files, names or dates"
  for f in "$s"/*; do
    [ -e "$f" ] || continue
    strip "$f" "$work/files/$(basename "$f")"
    if [ ! -f "$u/$(basename "$f")" ] || ! cmp -s "$work/files/$(basename "$f")" "$u/$(basename "$f")"; then
      differs "stream $name: file $(basename "$f")"
    fi
  done
}

# The signed package's table TABLE as exported, with the File sizes and file
# hashes worked out from its files with their signatures removed (the rows
# of the files that its cabinets hold).
export_signed_table() {
  local table="$1" f
  case "$table" in
    File|MsiFileHash)
      : >"$work/recomputed"
      for f in "$work"/files/*; do
        [ -e "$f" ] || continue
        printf '%s\t%s\t%s\n' "$(basename "$f")" "$(stat -c %s "$f")" "$(msi_file_hash "$f")" >>"$work/recomputed"
      done
      # msiinfo ends its lines with CR LF. Rows from the fourth line on; File: key, ..., FileSize (4th column);
      # MsiFileHash: key, Options, the four hash parts.
      msiinfo export "$signed" "$table" | awk -F'\t' -v OFS='\t' -v table="$table" -v recomputed="$work/recomputed" '
        BEGIN {
          while ((getline line < recomputed) > 0) {
            split(line, f, "\t"); size[f[1]] = f[2]; hash[f[1]] = f[3] OFS f[4] OFS f[5] OFS f[6]
          }
        }
        { cr = sub(/\r$/, "") }
        FNR > 3 && ($1 in size) {
          if (table == "File") $4 = size[$1]
          else if (NF == 6) { $3 = hash[$1]; NF = 3 }
        }
        { print $0 (cr ? "\r" : "") }' ;;
    *) msiinfo export "$signed" "$table" ;;
  esac
}

compare_msi() {
  need msiinfo msitools
  need gcab gcab
  local signature=$'^\005(DigitalSignature|MsiDigitalSignatureEx)$' stream table
  if msiinfo streams "$unsigned" | grep -qE "$signature"; then
    echo "compare-signed: $unsigned is signed: give the unsigned build's package" >&2
    exit 2
  fi
  # Streams first: the cabinets' files are needed for the File tables.
  msiinfo streams "$signed" | grep -vE "$signature" | sort >"$work/streams-s" || true
  msiinfo streams "$unsigned" | sort >"$work/streams-u"
  cmp -s "$work/streams-s" "$work/streams-u" || differs "the list of streams: $(comm -3 "$work/streams-s" "$work/streams-u" | tr -d '\t\005' | tr '\n' ' ')"
  while IFS= read -r stream; do
    grep -qxF -- "$stream" "$work/streams-u" || continue
    msiinfo extract "$signed" "$stream" >"$work/stream-s"
    msiinfo extract "$unsigned" "$stream" >"$work/stream-u"
    if is_cab "$work/stream-s" && is_cab "$work/stream-u"; then
      compare_cab "$stream" "$work/stream-s" "$work/stream-u"
    elif ! cmp -s "$work/stream-s" "$work/stream-u"; then
      strip "$work/stream-s" "$work/stream-stripped"
      cmp -s "$work/stream-stripped" "$work/stream-u" || differs "stream $(printf '%s' "$stream" | tr -d '\005')"
    fi
  done <"$work/streams-s"
  msiinfo tables "$signed" | sort >"$work/tables-s"
  msiinfo tables "$unsigned" | sort >"$work/tables-u"
  cmp -s "$work/tables-s" "$work/tables-u" || differs "the list of tables: $(comm -3 "$work/tables-s" "$work/tables-u" | tr '\n' ' ')"
  while IFS= read -r table; do
    grep -qxF -- "$table" "$work/tables-u" || continue
    export_signed_table "$table" >"$work/table-s"
    msiinfo export "$unsigned" "$table" >"$work/table-u"
    cmp -s "$work/table-s" "$work/table-u" || differs "table $table"
  done <"$work/tables-s"
}

if is_pe "$signed" && is_pe "$unsigned"; then
  compare_pe
elif is_msi "$signed" && is_msi "$unsigned"; then
  compare_msi
else
  differs "$(basename "$signed") and $(basename "$unsigned") are not both program files or both MSI packages"
fi
if [ "$differences" -ne 0 ]; then
  echo "compare-signed: $signed is not $unsigned signed ($differences difference(s))"
  exit 1
fi
echo "compare-signed: $(basename "$signed") is $unsigned with signatures"
