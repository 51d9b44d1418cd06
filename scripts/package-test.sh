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

# Whether Wine here runs 32-bit programs: a WoW64 Wine, and a small i686
# program that runs under it and says so by its exit code.
can_run_32bit_programs() {
  [ "$(wine_kind)" = wow64 ] || return 1
  command -v i686-w64-mingw32-gcc-win32 >/dev/null || return 1
  printf 'int main(void) { return 32; }\n' > "$work/probe32.c"
  i686-w64-mingw32-gcc-win32 -o "$work/probe32.exe" "$work/probe32.c" || return 1
  local code=0
  "$WINE32" "$work/probe32.exe" </dev/null >/dev/null 2>&1 || code=$?
  [ "$code" -eq 32 ]
}

# Builds the package of one tree: configure_args... ; prints nothing.
build_package() {
  local tree="$1"; shift
  cmake --preset "$preset" -B "$tree" -DTAVLO_WERROR="$werror" "$@" >/dev/null
  cmake --build "$tree" -j "$jobs" --target tavlo_msi
}

wine_boot_fresh package-test
trap wine_stop EXIT

if can_run_32bit_programs; then
  arch=x86
  preset=windows-x86
else
  arch=x64
  preset=windows-x64
  echo "package-test: Wine here cannot run 32-bit programs; testing the x64 package" \
       "(build/windows-x64/Tavlo.exe, Program Files, the plain Run key) instead of the 32-bit one"
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
