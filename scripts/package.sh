#!/usr/bin/env bash
# make package: the shipped 32-bit Tavlo.exe (windows-x86 preset) and its MSI
# package in dist/: Tavlo-<version>.msi, Tavlo.exe, the key chart of the layer
# (key-chart.svg and key-chart.png, with its font's licence) and SHA256SUMS.
#   scripts/package.sh
set -euo pipefail
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
cp "$tree/$msi" "$tree/Tavlo.exe" docs/key-chart.svg docs/key-chart.png docs/key-chart-font-licence.txt dist/
(cd dist && sha256sum "$msi" Tavlo.exe key-chart.svg key-chart.png > SHA256SUMS)
echo "package: dist/$msi, dist/Tavlo.exe, the key chart and dist/SHA256SUMS:"
cat dist/SHA256SUMS
