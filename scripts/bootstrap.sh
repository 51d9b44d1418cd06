#!/usr/bin/env bash
# Installs the Debian packages the build and the test tiers need, if any is
# missing. Safe to run again; does nothing when all are present.
#   scripts/bootstrap.sh [all]      everything: the native, sanitizer and fuzz
#                                   builds, the mingw cross builds, Wine and
#                                   Xvfb, clang-format (make run, make test,
#                                   make fuzz)
#   scripts/bootstrap.sh native     the native build and its benchmarks only
#                                   (make sim, make bench)
set -euo pipefail

native=(cmake ninja-build g++ make libgtest-dev libbenchmark-dev)
windows=(g++-mingw-w64-i686-win32 g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-i686-dev
         mingw-w64-x86-64-dev binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 googletest wine wine64 xvfb xauth
         wixl msitools clang-14 llvm-14 lld-14 python3)
# The 32-bit Wine beside the 64-bit one: fresh prefixes are WoW64 prefixes, in
# which the shipped 32-bit Tavlo.exe runs as on 64-bit Windows. Only where the
# kernel runs i386 programs; elsewhere the Windows tiers say so and run the
# x86_64 build.
windows32=(wine32:i386)
fuzz=(clang libclang-rt-14-dev)
format=(clang-format)

case "${1:-all}" in
  native) wanted=("${native[@]}") ;;
  *) wanted=("${native[@]}" "${windows[@]}" "${fuzz[@]}" "${format[@]}")
     . "$(dirname "$0")/wine-env.sh"
     if kernel_runs_i386; then wanted+=("${windows32[@]}"); fi ;;
esac

missing=()
for p in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "bootstrap: installing ${missing[*]}"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
if [[ " ${missing[*]}" == *":i386"* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386   # apt may then upgrade amd64 libraries to match the i386 ones
fi
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
