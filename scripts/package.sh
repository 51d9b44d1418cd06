#!/usr/bin/env bash
# make package: the shipped 32-bit Tavlo.exe (windows-x86 preset) and its MSI
# package in dist/: Tavlo-<version>.msi, Tavlo.exe and SHA256SUMS.
#   scripts/package.sh
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
tree=build/windows-x86
cmake --preset windows-x86 -DTAVLO_WERROR="${WERROR:-ON}" >/dev/null
cmake --build "$tree" -j "${JOBS:-$(nproc)}" --target Tavlo tavlo_msi
./scripts/check-product.sh "$tree"
version="$(cat "$tree/tavlo-version.txt")"
msi="Tavlo-$version.msi"
rm -rf dist
mkdir dist
cp "$tree/$msi" "$tree/Tavlo.exe" dist/
(cd dist && sha256sum "$msi" Tavlo.exe > SHA256SUMS)
echo "package: dist/$msi, dist/Tavlo.exe and dist/SHA256SUMS:"
cat dist/SHA256SUMS
