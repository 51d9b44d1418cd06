#!/usr/bin/env bash
# Checks a published Tavlo release against your own build of its commit.
#   scripts/check-release.sh RELEASE_DIR [BUILD_DIR]
# RELEASE_DIR holds the release's SHA256SUMS and whichever of its files you
# downloaded (Tavlo-<version>.msi, Tavlo.exe). BUILD_DIR is your own build's
# dist/ folder (default: dist/ of this checkout), made by `make package` from
# the release's commit, with or without a certificate: its unsigned files are
# used (dist/unsigned/ when it was signed).
#
# Every line of SHA256SUMS must be accounted for:
#   unsigned/NAME  the published unsigned build: your NAME has this sum;
#   NAME           your NAME has this sum (an unsigned release), or the
#                  downloaded NAME has it and is your NAME with signatures
#                  (scripts/compare-signed.sh); a signed file that you did
#                  not download is passed over when the release also
#                  publishes its unsigned sum.
# Exit status 0: the release is your build; 1: something differs; 2: a file
# or a tool is missing.
set -euo pipefail
[ $# -ge 1 ] && [ $# -le 2 ] || { echo "usage: $0 RELEASE_DIR [BUILD_DIR]" >&2; exit 2; }
here="$(cd "$(dirname "$0")" && pwd)"
release="$1"
build="${2:-$here/../dist}"
[ -f "$release/SHA256SUMS" ] || { echo "check-release: no $release/SHA256SUMS" >&2; exit 2; }
[ -d "$build" ] || { echo "check-release: no build folder $build: run make package first" >&2; exit 2; }
own="$build"
[ ! -d "$build/unsigned" ] || own="$build/unsigned"

log="$(mktemp)"
trap 'rm -f "$log"' EXIT
sum_of() { sha256sum <"$1" | cut -c1-64; }
published_unsigned() { grep -qE "^[0-9a-f]{64}  unsigned/$1\$" "$release/SHA256SUMS"; }

failed=0 checked=0
while read -r sum name; do
  name="${name%$'\r'}"   # a SHA256SUMS saved on Windows
  [ -n "${name:-}" ] || continue
  name="${name#\*}"
  base="${name#unsigned/}"
  if [ ! -f "$own/$base" ]; then
    echo "check-release: $name: your build has no $base"
    failed=1
    continue
  fi
  if [ "$(sum_of "$own/$base")" = "$sum" ]; then
    echo "check-release: $name: the same bytes as your build"
    checked=$((checked + 1))
  elif [ "$name" != "$base" ]; then
    echo "check-release: $name: differs from your build ($own/$base)"
    failed=1
  elif [ -f "$release/$name" ]; then
    if [ "$(sum_of "$release/$name")" != "$sum" ]; then
      echo "check-release: $name: the download does not have the published sum"
      failed=1
    elif "$here/compare-signed.sh" "$release/$name" "$own/$base" >"$log" 2>&1; then
      echo "check-release: $name: your build with signatures"
      checked=$((checked + 1))
    else
      sed 's/^/  /' "$log"
      echo "check-release: $name: not your build with signatures"
      failed=1
    fi
  elif published_unsigned "$name"; then
    echo "check-release: $name: signed, not downloaded: passed over (its unsigned build is checked)"
  else
    echo "check-release: $name: differs from your build, and is not in $release to compare as a signed file"
    failed=1
  fi
done <"$release/SHA256SUMS"
if [ "$failed" -ne 0 ] || [ "$checked" -eq 0 ]; then
  echo "check-release: the release is NOT your build"
  exit 1
fi
echo "check-release: the release is your build ($checked file(s) checked)"
