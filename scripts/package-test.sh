#!/usr/bin/env bash
# make test-package: Tavlo's MSI package installed, upgraded and removed by
# Wine's msiexec (tests/package/package_test.cpp), in a prefix of its own
# that is made anew for every run: build/package/wineprefix.
#
# The package under test is the shipped one, the 32-bit Tavlo.exe of the
# windows-x86 preset, in a WoW64 prefix. For the upgrade it is built a second
# time with the next patch version. Where this machine's Wine cannot run
# 32-bit programs, the x64 package of the same code is tested instead.
# Given two packages (an older and a newer version of one architecture), the
# tests run on those instead, as they are.
#   scripts/package-test.sh [OLD_MSI NEW_MSI]
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

# The value of one row of a package's Property table.
msi_property() {
  msiinfo export "$1" Property | tr -d '\r' | awk -F'\t' -v name="$2" 'NR > 3 && $1 == name { print $2 }'
}

if [ $# -eq 2 ]; then
  old_msi="$(realpath "$1")"
  new_msi="$(realpath "$2")"
  old_version="$(msi_property "$old_msi" ProductVersion)"
  new_version="$(msi_property "$new_msi" ProductVersion)"
  case "$(msiinfo suminfo "$old_msi" | sed -n 's/^Template: //p')" in
    Intel*) arch=x86 ;;
    *) arch=x64 ;;
  esac
else
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
  old_msi="$old_tree/Tavlo-$old_version.msi"
  new_msi="$new_tree/Tavlo-$new_version.msi"
fi

# What each package holds, as users get it, for the table tests: every table
# as msiinfo exports it (tables/NAME.idt; the streams of a binary column, such
# as Icon's, beside it in tables/NAME/) and the files (files/).
contents() {
  local msi="$1" dir="$2" table
  rm -rf "$dir" && mkdir -p "$dir/tables" "$dir/files"
  for table in $(msiinfo tables "$msi"); do
    (cd "$dir/tables" && msiinfo export "$msi" "$table" > "$table.idt")
  done
  msiextract -C "$dir/files" "$msi" >/dev/null
}
contents "$old_msi" "$work/contents/old"
contents "$new_msi" "$work/contents/new"

# The test program and the test filter driver are x86_64 programs.
cmake --preset windows-x64 -DTAVLO_WERROR="$werror" >/dev/null
cmake --build "$root/build/windows-x64" -j "$jobs" --target tavlo_package_test kbdfiltr_test

logs="$work/logs"
rm -rf "$logs" && mkdir -p "$logs"
echo "package-test: Tavlo $old_version and $new_version ($arch) in $WINEPREFIX; MSI logs in $logs"
TAVLO_PACKAGE_ARCH="$arch" \
TAVLO_PACKAGE_OLD="$old_msi" TAVLO_PACKAGE_OLD_VERSION="$old_version" \
TAVLO_PACKAGE_OLD_CONTENTS="$work/contents/old" \
TAVLO_PACKAGE_NEW="$new_msi" TAVLO_PACKAGE_NEW_VERSION="$new_version" \
TAVLO_PACKAGE_NEW_CONTENTS="$work/contents/new" \
TAVLO_PACKAGE_LOGS="$logs" \
  "$WINE64" "$root/build/windows-x64/tests/package/tavlo_package_test.exe" </dev/null
