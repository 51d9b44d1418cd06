#!/usr/bin/env bash
# make package: the shipped 32-bit Tavlo.exe (windows-x86 preset) and its MSI
# package in dist/: Tavlo-<version>.msi, Tavlo.exe, the key chart of the layer
# (key-chart.svg and key-chart.png, with its font's licence) and SHA256SUMS. From one
# commit the unsigned files are the same bytes on every machine and at every
# time (packaging/make-msi.sh).
#
# With a certificate (TAVLO_SIGN_PKCS12, or TAVLO_SIGN_CERT and
# TAVLO_SIGN_KEY; README, "Signing a release") Tavlo.exe, TavloSetup.dll and
# the MSI are signed; dist/unsigned/ then holds the unsigned build of the
# same commit, and SHA256SUMS names both:
#   Tavlo-<version>.msi, Tavlo.exe                    what is shipped
#   unsigned/Tavlo-<version>.msi, unsigned/Tavlo.exe  the unsigned build (signed releases only)
#   scripts/package.sh
set -euo pipefail
# The certificate's files as absolute names: the packaging step runs in the
# build folder.
for var in TAVLO_SIGN_PKCS12 TAVLO_SIGN_CERT TAVLO_SIGN_KEY; do
  [ -z "${!var:-}" ] || export "$var=$(realpath -m "${!var}")"
done
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
tree=build/windows-x86
cmake --preset windows-x86 -DTAVLO_WERROR="${WERROR:-ON}" >/dev/null
cmake --build "$tree" -j "${JOBS:-$(nproc)}" --target Tavlo tavlo_msi
./scripts/check-product.sh "$tree"
# The MSI carries docs/key-chart.png: it must be the chart the key map makes
# (the native tree draws it; docs/ is what `make readme` copied there).
cmake --preset native -DTAVLO_WERROR="${WERROR:-ON}" >/dev/null
cmake --build build/native -j "${JOBS:-$(nproc)}" --target tavlo_key_chart
for f in key-chart.svg key-chart.png key-chart.txt; do
  if ! cmp -s "build/native/tools/key-chart/$f" "docs/$f"; then
    echo "package: docs/$f is not the chart of the key map (make readme writes it)"
    exit 1
  fi
done
version="$(cat "$tree/tavlo-version.txt")"
msi="Tavlo-$version.msi"
rm -rf dist
mkdir dist
cp "$tree/$msi" "$tree/packaging/stage/Tavlo.exe" docs/key-chart.svg docs/key-chart.png \
   docs/key-chart-font-licence.txt dist/
sums=("$msi" Tavlo.exe key-chart.svg key-chart.png)
if ! cmp -s "$tree/$msi" "$tree/packaging/unsigned/$msi"; then
  mkdir dist/unsigned
  cp "$tree/packaging/unsigned/$msi" "$tree/packaging/unsigned/Tavlo.exe" dist/unsigned/
  sums+=("unsigned/$msi" unsigned/Tavlo.exe)
fi
(cd dist && sha256sum "${sums[@]}" > SHA256SUMS)
echo "package: dist/: ${sums[*]}, key-chart-font-licence.txt and SHA256SUMS:"
cat dist/SHA256SUMS
