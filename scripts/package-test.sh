#!/usr/bin/env bash
# make test-package: Tavlo's MSI package installed, upgraded and removed by
# Wine's msiexec (tests/package/package_test.cpp), in a prefix of its own
# that is made anew for every run: build/package/wineprefix.
#
# The package under test is the shipped one, the 32-bit Tavlo.exe of the
# windows-x86 preset, in a WoW64 prefix. For the upgrade it is built a second
# time with the next patch version. Where this machine's Wine cannot run
# 32-bit programs, the x64 package of the same code is tested instead.
#   scripts/package-test.sh
set -euo pipefail
. "$(dirname "$0")/wine-env.sh"
root="$(cd "$(dirname "$0")/.." && pwd)"
jobs="${JOBS:-$(nproc)}"
werror="${WERROR:-ON}"
work="$root/build/package"
mkdir -p "$work"
wine_env "$work"

# Builds the package of one tree: configure_args... ; prints nothing.
build_package() {
  local tree="$1"; shift
  cmake --preset "$preset" -B "$tree" -DTAVLO_WERROR="$werror" "$@" >/dev/null
  cmake --build "$tree" -j "$jobs" --target tavlo_msi
}

wine_boot_fresh package-test
trap wine_stop EXIT

arch="$(tavlo_exe_arch)"
preset="windows-$arch"
if [ "$arch" = x64 ]; then
  echo "package-test: testing the x64 package (build/windows-x64/Tavlo.exe, Program Files, the plain Run key)" \
       "instead of the 32-bit one: ${TAVLO_EXE_ARCH:+TAVLO_EXE_ARCH=x64}$(wine32_why_not)"
fi

old_tree="$root/build/$preset"
build_package "$old_tree"
old_version="$(cat "$old_tree/tavlo-version.txt")"
IFS=. read -r major minor patch <<<"$old_version"
new_version="$major.$minor.$((patch + 1))"
new_tree="$work/$preset-$new_version"
build_package "$new_tree" -DTAVLO_VERSION="$new_version" -DTAVLO_PRODUCT_ONLY=ON

# The test program and the test filter driver are x86_64 programs.
cmake --preset windows-x64 -DTAVLO_WERROR="$werror" >/dev/null
cmake --build "$root/build/windows-x64" -j "$jobs" --target tavlo_package_test kbdfiltr_test

logs="$work/logs"
rm -rf "$logs" && mkdir -p "$logs"
echo "package-test: Tavlo $old_version and $new_version ($arch) in $WINEPREFIX; MSI logs in $logs"
TAVLO_PACKAGE_ARCH="$arch" \
TAVLO_PACKAGE_OLD="$old_tree/Tavlo-$old_version.msi" TAVLO_PACKAGE_OLD_VERSION="$old_version" \
TAVLO_PACKAGE_NEW="$new_tree/Tavlo-$new_version.msi" TAVLO_PACKAGE_NEW_VERSION="$new_version" \
TAVLO_PACKAGE_LOGS="$logs" \
  "$WINE64" "$root/build/windows-x64/tests/package/tavlo_package_test.exe" </dev/null
