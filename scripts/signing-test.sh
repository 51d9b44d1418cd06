#!/usr/bin/env bash
# make test-signing: the package built with a certificate, as a distributor
# builds it, in the product tree (build/windows-x86), with a throwaway
# certificate authority and code-signing certificate made by openssl here:
#   - every signature verifies (osslsigncode verify -CAfile): Tavlo.exe,
#     TavloSetup.dll, the MSI, and the Tavlo.exe and TavloSetup.dll inside
#     the MSI; against another authority they do not;
#   - both ways of giving the certificate: a PKCS#12 file with a password,
#     and a PEM certificate and key;
#   - signing leaves the package code of the unsigned build;
#   - scripts/compare-signed.sh finds each signed file to be the unsigned
#     build with signatures, and finds a difference in every altered copy of
#     the signed MSI (a table value, one byte of the Tavlo.exe in its
#     cabinet, one byte of its TavloSetup.dll, an extra stream), while the
#     same copies made without a change still match;
#   - scripts/check-release.sh accepts the signed release beside the
#     unsigned build, and refuses it when the signed MSI is an altered one.
# The tree is built unsigned again at the end.
#   scripts/signing-test.sh
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
jobs="${JOBS:-$(nproc)}"
werror="${WERROR:-ON}"
unset SOURCE_DATE_EPOCH TAVLO_SIGN_PKCS12 TAVLO_SIGN_CERT TAVLO_SIGN_KEY TAVLO_SIGN_PASSWORD TAVLO_SIGN_TIMESTAMP_URL
export LC_ALL=C TZ=UTC
for tool in openssl osslsigncode msiinfo msibuild gcab; do
  command -v "$tool" >/dev/null || { echo "signing-test: $tool not found"; exit 1; }
done

tree="$root/build/windows-x86"
work="$root/build/signing"
compare="$root/scripts/compare-signed.sh"
fail=0
failed() { echo "signing-test: FAILED: $*"; fail=1; }

cd "$root"
cmake --preset windows-x86 -DTAVLO_WERROR="$werror" >/dev/null
build_msi() { cmake --build "$tree" -j "$jobs" --target Tavlo tavlo_msi | grep -E '^make-msi: (no certificate|signed)'; }
trap 'build_msi >/dev/null || true' EXIT
version="$(cat "$tree/tavlo-version.txt")"
msi="Tavlo-$version.msi"

# The build's package and program files, and the program files inside the
# package, copied to DIR.
keep_build() {
  local dir="$1" cab
  mkdir -p "$dir/embedded"
  cp "$tree/$msi" "$tree/packaging/stage/Tavlo.exe" "$tree/packaging/stage/TavloSetup.dll" "$dir/"
  cab="$(msiinfo export "$dir/$msi" Media | tr -d '\r' | awk -F'\t' 'NR > 3 { sub(/^#/, "", $4); print $4 }')"
  msiinfo extract "$dir/$msi" "$cab" >"$dir/embedded/$cab"
  gcab -x -C "$dir/embedded" "$dir/embedded/$cab" >/dev/null
  mv "$dir/embedded/TavloExe" "$dir/embedded/Tavlo.exe"
  msiinfo extract "$dir/$msi" Binary.TavloSetup >"$dir/embedded/TavloSetup.dll"
}
package_code() { msiinfo export "$1" _SummaryInformation | tr -d '\r' | awk -F'\t' '$1 == 9 { print $2 }'; }

rm -rf "$work"
mkdir -p "$work/keys"
build_msi
keep_build "$work/unsigned"

# A throwaway authority, a code-signing certificate it issued (as a PKCS#12
# file with a password, and as PEM files without one), and another authority.
keys="$work/keys"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Tavlo throwaway test authority" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
  -keyout "$keys/ca.key" -out "$keys/ca.pem" 2>/dev/null
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Another authority" \
  -addext "basicConstraints=critical,CA:TRUE" -keyout "$keys/other-ca.key" -out "$keys/other-ca.pem" 2>/dev/null
openssl req -newkey rsa:2048 -nodes -subj "/CN=Tavlo throwaway test signer" \
  -keyout "$keys/signer.key" -out "$keys/signer.csr" 2>/dev/null
printf 'basicConstraints=critical,CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' >"$keys/signer.ext"
openssl x509 -req -in "$keys/signer.csr" -CA "$keys/ca.pem" -CAkey "$keys/ca.key" -CAcreateserial -days 2 \
  -extfile "$keys/signer.ext" -out "$keys/signer.pem" 2>/dev/null
openssl pkcs12 -export -in "$keys/signer.pem" -inkey "$keys/signer.key" -certfile "$keys/ca.pem" \
  -passout pass:throwaway-password -out "$keys/signer.p12"

# Each way of giving the certificate: name, then the environment.
ways=(
  "pkcs12|TAVLO_SIGN_PKCS12=$keys/signer.p12 TAVLO_SIGN_PASSWORD=throwaway-password"
  "pem|TAVLO_SIGN_CERT=$keys/signer.pem TAVLO_SIGN_KEY=$keys/signer.key"
)
for way in "${ways[@]}"; do
  name="${way%%|*}"
  # shellcheck disable=SC2086 # the environment is words
  (export ${way#*|} && build_msi)
  keep_build "$work/$name"
  for file in "$msi" Tavlo.exe TavloSetup.dll embedded/Tavlo.exe embedded/TavloSetup.dll; do
    if osslsigncode verify -CAfile "$keys/ca.pem" "$work/$name/$file" >"$work/verify.log" 2>&1; then
      echo "signing-test: $name: $file: signature verified"
    else
      cat "$work/verify.log"
      failed "$name: $file: the signature does not verify"
    fi
    if osslsigncode verify -CAfile "$keys/other-ca.pem" "$work/$name/$file" >/dev/null 2>&1; then
      failed "$name: $file: verifies against an authority that did not issue its certificate"
    fi
  done
  [ "$(package_code "$work/$name/$msi")" = "$(package_code "$work/unsigned/$msi")" ] \
    || failed "$name: signing changed the package code"
  for file in "$msi" Tavlo.exe TavloSetup.dll; do
    "$compare" "$work/$name/$file" "$work/unsigned/$file" || failed "$name: $file is not the unsigned $file with signatures"
  done
done

# Copies of the signed MSI, each made by one change (or by none, to show
# that the way of making it alone makes no difference): name, expected
# outcome, change.
signed="$work/pkcs12/$msi"
unsigned="$work/unsigned/$msi"
flip_byte() { # FILE: the byte in the middle of FILE, one bit changed
  local size offset byte
  size="$(stat -c %s "$1")" offset=$(($(stat -c %s "$1") / 2))
  byte="$(od -An -tu1 -j "$offset" -N1 "$1" | tr -d ' ')"
  printf "$(printf '\\%03o' $((byte ^ 1)))" | dd of="$1" bs=1 seek="$offset" conv=notrunc status=none
}
property() { msibuild "$1" -q "UPDATE Property SET Value='$2' WHERE Property='TAVLO_START'"; }
recab() { # MSI [flip]: its cabinet made again with gcab (every file, in its order and with its date), one byte of Tavlo.exe changed with "flip"
  local dir="$work/recab" name size day time attributes
  local names=()
  rm -rf "$dir" && mkdir -p "$dir/files"
  msiinfo extract "$1" tavlo.cab >"$dir/tavlo.cab"
  gcab -x -C "$dir/files" "$dir/tavlo.cab" >/dev/null
  [ "${2:-}" != flip ] || flip_byte "$dir/files/TavloExe"
  while read -r name size day time attributes; do
    touch -d "@$(date -u -d "$day $time" +%s)" "$dir/files/$name"
    names+=("$name")
  done < <(TZ=UTC gcab -l -v "$dir/tavlo.cab")
  (cd "$dir/files" && gcab -c -z ../new.cab "${names[@]}")
  msibuild "$1" -a tavlo.cab "$dir/new.cab"
}
redll() { # MSI [flip]: its TavloSetup.dll stored again, one byte changed with "flip"
  msiinfo extract "$1" Binary.TavloSetup >"$work/dll"
  [ "${2:-}" != flip ] || flip_byte "$work/dll"
  msibuild "$1" -a Binary.TavloSetup "$work/dll"
}
extra_stream() { echo extra >"$work/extra" && msibuild "$1" -a Extra "$work/extra"; }
changes=(
  "a table rewritten with its own value|match|property COPY 1"
  "a table value (TAVLO_START 1 -> 0)|differ|property COPY 0"
  "the cabinet made again|match|recab COPY"
  "one byte of Tavlo.exe in the cabinet|differ|recab COPY flip"
  "TavloSetup.dll stored again|match|redll COPY"
  "one byte of TavloSetup.dll|differ|redll COPY flip"
  "an extra stream|differ|extra_stream COPY"
)
for change in "${changes[@]}"; do
  IFS='|' read -r what expected command <<<"$change"
  copy="$work/changed.msi"
  cp "$signed" "$copy"
  ${command//COPY/$copy}
  if "$compare" "$copy" "$unsigned" >"$work/compare.log" 2>&1; then outcome=match; else outcome=differ; fi
  if [ "$outcome" = "$expected" ]; then
    echo "signing-test: signed MSI, $what: compare-signed says $outcome$([ "$outcome" = match ] || echo " ($(grep -c 'differs:' "$work/compare.log") difference(s))")"
  else
    cat "$work/compare.log"
    failed "signed MSI, $what: compare-signed says $outcome, expected $expected"
  fi
  if [ "$expected" = differ ] && osslsigncode verify -CAfile "$keys/ca.pem" "$copy" >/dev/null 2>&1; then
    failed "signed MSI, $what: its signature still verifies"
  fi
done

# A user's check of a signed release (as make package publishes it) against
# their own unsigned build.
release="$work/release" own="$work/own-build"
mkdir -p "$release" "$own"
cp "$work/pkcs12/$msi" "$work/pkcs12/Tavlo.exe" "$release/"
cp "$work/unsigned/$msi" "$work/unsigned/Tavlo.exe" "$own/"
mkdir -p "$release/unsigned"
cp "$own/$msi" "$own/Tavlo.exe" "$release/unsigned/"
(cd "$release" && sha256sum "$msi" Tavlo.exe "unsigned/$msi" unsigned/Tavlo.exe >SHA256SUMS && rm -r unsigned)
if "$root/scripts/check-release.sh" "$release" "$own"; then
  echo "signing-test: check-release accepts the signed release"
else
  failed "check-release refuses the signed release made from the same build"
fi
cp "$signed" "$release/$msi"
property "$release/$msi" 0
(cd "$release" && sed -i "s/^[0-9a-f]*  $msi\$/$(sha256sum "$msi" | cut -c1-64)  $msi/" SHA256SUMS)
if "$root/scripts/check-release.sh" "$release" "$own" >"$work/check.log" 2>&1; then
  cat "$work/check.log"
  failed "check-release accepts a release whose signed MSI has another TAVLO_START"
else
  echo "signing-test: check-release refuses a release whose signed MSI was altered"
fi

[ "$fail" -eq 0 ] || exit 1
echo "signing-test: signed with a PKCS#12 file and with PEM files: every signature verifies, and the signed files are the unsigned build"
