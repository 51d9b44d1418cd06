#!/usr/bin/env bash
# Builds Tavlo's MSI package from the built program files: the step of the
# CMake target tavlo_msi (packaging/CMakeLists.txt), and so of `make package`
# and of the package tier. From one commit it writes the same bytes whatever
# the build folder, the time zone or the clock; with a certificate it signs.
#
#   make-msi.sh --out MSI --source SOURCE_DIR --stage DIR --unsigned DIR
#               --wxs FILE --uuid-namespace UUID
#               --file-version VERSION --file-language LANGUAGE
#               FILE... -- WIXL [WIXL_ARGS...]
#
# VERSION and LANGUAGE are those of Tavlo.exe's version resource, for its
# row of the File table (packaging/finish-msi.sh).
# FILE... are the files the package carries (Tavlo.exe, TavloSetup.dll, ...),
# staged beside the .wxs under their own names. WIXL [WIXL_ARGS...] is the
# wixl command without -o and the .wxs (architecture and -D variables).
#
# The steps, in order:
#   1. stage   copy the .wxs and every FILE into --stage;
#   2. date    set every staged file's modification time to the package time
#              (SOURCE_DATE_EPOCH, else the last commit's time): wixl writes
#              these times into the cabinet;
#   3. MSI     wixl, then the table fixes (packaging/finish-msi.sh), then
#              the summary information:
#              package code, created and last-saved times. This unsigned
#              package goes to --unsigned, with the unsigned staged files,
#              and its package code is taken from its own content;
#   4. sign    with a certificate only: every staged program file (PE) is
#              signed and dated again, step 3 is run on them with the same
#              package code, and the MSI is signed.
# The package is --out: the signed one with a certificate, else the unsigned.
#
# Package time: SOURCE_DATE_EPOCH when set; else, in a git checkout whose top
# folder is SOURCE_DIR, the committer time of its last commit; else (a source
# archive) the newest modification time of the source files, which for an
# archive made by `git archive` is that same commit time.
#
# Signing, from the environment (see README, "Signing a release"):
#   TAVLO_SIGN_PKCS12          a PKCS#12 file with the certificate and its key, or
#   TAVLO_SIGN_CERT, _KEY      a PEM certificate (with its chain) and a PEM key;
#   TAVLO_SIGN_PASSWORD        the password of the PKCS#12 file or of the key;
#   TAVLO_SIGN_TIMESTAMP_URL   an RFC 3161 time-stamp server (optional).
# The files are named absolutely (scripts/package.sh makes them so): this
# runs in the build folder.
set -euo pipefail
export LC_ALL=C TZ=UTC

die() { echo "make-msi: $*" >&2; exit 1; }

out="" source_dir="" stage="" unsigned="" wxs="" uuid_namespace="" file_version="" file_language=""
files=()
while [ $# -gt 0 ]; do
  case "$1" in
    --out) out="$2"; shift 2 ;;
    --source) source_dir="$2"; shift 2 ;;
    --stage) stage="$2"; shift 2 ;;
    --unsigned) unsigned="$2"; shift 2 ;;
    --wxs) wxs="$2"; shift 2 ;;
    --uuid-namespace) uuid_namespace="$2"; shift 2 ;;
    --file-version) file_version="$2"; shift 2 ;;
    --file-language) file_language="$2"; shift 2 ;;
    --) shift; break ;;
    -*) die "unknown option $1" ;;
    *) files+=("$1"); shift ;;
  esac
done
wixl=("$@")
[ -n "$out" ] && [ -n "$source_dir" ] && [ -n "$stage" ] && [ -n "$unsigned" ] && [ -n "$wxs" ] \
  && [ -n "$uuid_namespace" ] && [ -n "$file_version" ] && [ -n "$file_language" ] && [ ${#wixl[@]} -gt 0 ] \
  || die "usage: see the head of $0"
for tool in msibuild msiinfo; do
  command -v "$tool" >/dev/null || die "$tool not found (Debian package msitools)"
done
for path in out source_dir stage unsigned wxs; do
  printf -v "$path" '%s' "$(realpath -m "${!path}")"
done
wxs_name="$(basename "$wxs")"
msi_name="$(basename "$out")"

# --- The package time -------------------------------------------------------
package_time() {
  if [ -n "${SOURCE_DATE_EPOCH:-}" ]; then
    [[ "$SOURCE_DATE_EPOCH" =~ ^[0-9]+$ ]] || die "SOURCE_DATE_EPOCH must be seconds since 1970, not '$SOURCE_DATE_EPOCH'"
    epoch="$SOURCE_DATE_EPOCH" epoch_from="SOURCE_DATE_EPOCH"
    return
  fi
  local top
  if top="$(git -C "$source_dir" rev-parse --show-toplevel 2>/dev/null)" \
     && [ "$(cd "$top" && pwd -P)" = "$(cd "$source_dir" && pwd -P)" ] \
     && epoch="$(git -C "$source_dir" log -1 --format=%ct 2>/dev/null)" && [ -n "$epoch" ]; then
    epoch_from="the last commit"
    return
  fi
  # No git checkout of its own (a source archive, or git missing or refusing
  # the folder): the newest source file, build and output folders left out.
  local build_dir
  build_dir="$(dirname "$out")"
  [ "$build_dir" != "$source_dir" ] || build_dir="$source_dir/build"
  epoch="$(find "$source_dir" \( -path "$source_dir/.git" -o -path "$source_dir/build" \
             -o -path "$source_dir/dist" -o -path "$build_dir" \) -prune \
             -o -type f -printf '%T@\n' | sort -n | tail -n 1)"
  epoch="${epoch%.*}"
  [ -n "$epoch" ] || die "no source file found in $source_dir to date the package from; set SOURCE_DATE_EPOCH"
  epoch_from="the newest source file ($source_dir is not a git checkout of its own; set SOURCE_DATE_EPOCH to the release's commit time to match it)"
}
package_time
# Cabinets hold MS-DOS dates, which begin in 1980.
[ "$epoch" -ge 315532800 ] || die "the package time $(date -u -d "@$epoch") is before 1980, which a cabinet cannot hold"
stamp="$(date -u -d "@$epoch" '+%Y/%m/%d %H:%M:%S')"
echo "make-msi: package time $stamp UTC, from $epoch_from"

# --- Signing configuration --------------------------------------------------
sign_args=()
password_file=""
scratch="$(mktemp -d)"
cleanup() {
  [ -z "$password_file" ] || rm -f "$password_file"
  rm -rf "$scratch"
}
trap cleanup EXIT
signing_setup() {
  local pkcs12="${TAVLO_SIGN_PKCS12:-}" cert="${TAVLO_SIGN_CERT:-}" key="${TAVLO_SIGN_KEY:-}"
  if [ -z "$pkcs12" ] && [ -z "$cert" ] && [ -z "$key" ]; then
    return 1
  fi
  command -v osslsigncode >/dev/null || die "a certificate is given but osslsigncode is not installed (Debian package osslsigncode)"
  if [ -n "$pkcs12" ]; then
    [ -z "$cert" ] && [ -z "$key" ] || die "give TAVLO_SIGN_PKCS12, or TAVLO_SIGN_CERT and TAVLO_SIGN_KEY, not both"
    [ -r "$pkcs12" ] || die "TAVLO_SIGN_PKCS12: cannot read $pkcs12"
    sign_args=(-pkcs12 "$pkcs12")
  else
    [ -n "$cert" ] && [ -n "$key" ] || die "TAVLO_SIGN_CERT and TAVLO_SIGN_KEY go together"
    [ -r "$cert" ] || die "TAVLO_SIGN_CERT: cannot read $cert"
    [ -r "$key" ] || die "TAVLO_SIGN_KEY: cannot read $key"
    sign_args=(-certs "$cert" -key "$key")
  fi
  if [ -n "${TAVLO_SIGN_PASSWORD:-}" ]; then
    # Through a private file, not the command line, where any user sees it.
    password_file="$(umask 077 && mktemp)"
    printf '%s' "$TAVLO_SIGN_PASSWORD" >"$password_file"
    sign_args+=(-readpass "$password_file")
  fi
  sign_args+=(-h sha256 -n Tavlo)
  if [ -n "${TAVLO_SIGN_TIMESTAMP_URL:-}" ]; then
    sign_args+=(-ts "$TAVLO_SIGN_TIMESTAMP_URL")
  fi
}

# Signs FILE in place.
sign_file() {
  local file="$1"
  rm -f "$file.signed"
  osslsigncode sign "${sign_args[@]}" -in "$file" -out "$file.signed" >/dev/null \
    || { rm -f "$file.signed"; die "signing $(basename "$file") failed (osslsigncode above)"; }
  chmod --reference="$file" "$file.signed"
  mv -f "$file.signed" "$file"
}

# Whether FILE is a program file (PE: starts with MZ).
is_pe() { [ "$(head -c 2 "$1")" = "MZ" ]; }

# --- The MSI ----------------------------------------------------------------
# The package's tables from the staged files: wixl, then the table fixes.
build_database() {
  local msi="$1"
  rm -f "$msi"
  (cd "$stage" && "${wixl[@]}" -o "$msi" "$wxs_name")
  # The table fixes: they shape the unsigned and the signed package alike,
  # and the package code below is taken after them. (finish-msi.sh also
  # refuses an MSI that wixl did not write: wixl exits 0 then too.)
  "$(dirname "${BASH_SOURCE[0]}")/finish-msi.sh" "$msi" "$file_version" "$file_language"
}

# The package code: a name-based UUID (version 5) in the namespace of
# packaging/CMakeLists.txt, named by the SHA-256 of the unsigned package's
# bytes with a placeholder package code: since those bytes depend on nothing
# but the inputs and the package time, any change to what the package holds
# or does gives another code, and the same content the same code.
package_code() {
  local msi="$1" digest ns_bytes uuid
  cp "$msi" "$scratch/package.msi"
  set_summary "$scratch/package.msi" "{00000000-0000-0000-0000-000000000000}"
  digest="$(sha256sum <"$scratch/package.msi" | cut -c1-64)"
  rm -f "$scratch/package.msi"
  ns_bytes="$(printf '%s' "${uuid_namespace//-/}" | sed 's/../\\x&/g')"
  uuid="$({ printf "$ns_bytes"; printf '%s' "$digest"; } | sha1sum | cut -c1-32)"
  # Version 5 and the RFC 4122 variant.
  uuid="${uuid:0:12}5${uuid:13:3}$(printf '%x' $(( (16#${uuid:16:1} & 3) | 8 )))${uuid:17:15}"
  echo "{${uuid:0:8}-${uuid:8:4}-${uuid:12:4}-${uuid:16:4}-${uuid:20:12}}" | tr a-f A-F
}

# The summary information: package code, created and last-saved times.
# msibuild reads the times as local time: TZ is UTC (above).
set_summary() {
  local msi="$1" code="$2" idt="$scratch/_SummaryInformation.idt"
  printf 'PropertyId\tValue\ni2\tl255\n_SummaryInformation\tPropertyId\n9\t%s\n12\t%s\n13\t%s\n' \
    "$code" "$stamp" "$stamp" >"$idt"
  msibuild "$msi" -i "$idt"
  rm -f "$idt"
}

# 1. stage, 2. date
rm -rf "$stage" "$unsigned" "$out" "$out.part"
mkdir -p "$stage" "$unsigned" "$(dirname "$out")"
cp "$wxs" "$stage/"
for file in "${files[@]}"; do
  name="$(basename "$file")"
  [ ! -e "$stage/$name" ] || die "two package files named $name"
  cp "$file" "$stage/$name"
done
date_stage() { find "$stage" -type f -exec touch -d "@$epoch" {} +; }
date_stage

# 3. the unsigned package
build_database "$unsigned/$msi_name"
code="$(package_code "$unsigned/$msi_name")"
set_summary "$unsigned/$msi_name" "$code"
for file in "${files[@]}"; do
  cp -p "$stage/$(basename "$file")" "$unsigned/"
done

# 4. the signed package
if ! signing_setup; then
  cp "$unsigned/$msi_name" "$out"
  echo "make-msi: no certificate (TAVLO_SIGN_PKCS12, or TAVLO_SIGN_CERT and TAVLO_SIGN_KEY): nothing signed; $out"
  exit 0
fi
signed=()
for file in "${files[@]}"; do
  name="$(basename "$file")"
  if is_pe "$stage/$name"; then
    sign_file "$stage/$name"
    signed+=("$name")
  fi
done
date_stage
build_database "$out.part"
set_summary "$out.part" "$code"
sign_file "$out.part"
mv -f "$out.part" "$out"
echo "make-msi: signed ${signed[*]} and $msi_name; $out"
