#!/usr/bin/env bash
# make test-reproducible: two builds of one commit give the same Tavlo.exe,
# TavloSetup.dll and MSI, byte for byte.
#   1. the checkout's own product tree (build/windows-x86, as make package
#      builds it), dated from the last commit by git;
#   2. a copy of the sources as `git archive` makes one (no .git, every file
#      dated at the last commit), at another path, configured and built in a
#      fresh build folder at yet another path, in another time zone
#      (UTC+13:45) with the clock 9 days ahead (faketime), dated from the
#      newest source file.
# Both unsigned, whatever TAVLO_SIGN_* or SOURCE_DATE_EPOCH say outside. The
# MSIs must also carry the last commit's time as their created time. Then
# the first is packaged with SOURCE_DATE_EPOCH one second later, which must
# date it so and give it another package code.
#   scripts/reproducible-test.sh
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
jobs="${JOBS:-$(nproc)}"
werror="${WERROR:-ON}"
unset SOURCE_DATE_EPOCH TAVLO_SIGN_PKCS12 TAVLO_SIGN_CERT TAVLO_SIGN_KEY TAVLO_SIGN_PASSWORD TAVLO_SIGN_TIMESTAMP_URL
command -v faketime >/dev/null || { echo "reproducible-test: faketime not found (Debian package faketime)"; exit 1; }

one="$root/build/windows-x86"
work="$root/build/reproducible"
copy="$work/elsewhere/tavlo-source"
two="$work/other/path/to/a/build"

cd "$root"
cmake --preset windows-x86 -DTAVLO_WERROR="$werror" >/dev/null
cmake --build "$one" -j "$jobs" --target Tavlo tavlo_msi

rm -rf "$work"
mkdir -p "$copy"
git ls-files -z --cached --others --exclude-standard \
  | tar --null --ignore-failed-read -T - -cf - | tar -xf - -C "$copy"
commit_time="$(git log -1 --format=%ct)"
find "$copy" -exec touch -h -d "@$commit_time" {} +
(cd "$copy" && TZ=XYZ-13:45 faketime -f +9d bash -c '
  cmake --preset windows-x86 -B "$1" -DTAVLO_WERROR="$2" >/dev/null
  cmake --build "$1" -j "$3" --target Tavlo tavlo_msi' - "$two" "$werror" "$jobs")

version="$(cat "$one/tavlo-version.txt")"
fail=0
for file in Tavlo.exe packaging/TavloSetup.dll "Tavlo-$version.msi"; do
  if cmp "$one/$file" "$two/$file"; then
    echo "reproducible-test: $file: the same $(stat -c %s "$one/$file") bytes"
  else
    echo "reproducible-test: $file differs between $one and $two ($(cmp -l "$one/$file" "$two/$file" | wc -l) bytes)"
    fail=1
  fi
done
summary() { msiinfo export "$1" _SummaryInformation | tr -d '\r' | awk -F'\t' -v id="$2" '$1 == id { print $2 }'; }
expected="$(date -u -d "@$commit_time" '+%Y/%m/%d %H:%M:%S')"
for tree in "$one" "$two"; do
  created="$(summary "$tree/Tavlo-$version.msi" 12)"
  if [ "$created" != "$expected" ]; then
    echo "reproducible-test: $tree/Tavlo-$version.msi is dated $created, not the last commit's $expected (UTC)"
    fail=1
  fi
done
# SOURCE_DATE_EPOCH, one second later: that time, and another package code
# (the code follows the package's bytes). The tree is built as before again.
code="$(summary "$one/Tavlo-$version.msi" 9)"
SOURCE_DATE_EPOCH=$((commit_time + 1)) cmake --build "$one" --target tavlo_msi >/dev/null
later="$(date -u -d "@$((commit_time + 1))" '+%Y/%m/%d %H:%M:%S')"
if [ "$(summary "$one/Tavlo-$version.msi" 12)" != "$later" ]; then
  echo "reproducible-test: SOURCE_DATE_EPOCH=$((commit_time + 1)) did not date the package $later"
  fail=1
elif [ "$(summary "$one/Tavlo-$version.msi" 9)" = "$code" ]; then
  echo "reproducible-test: a package dated one second later kept the package code $code"
  fail=1
fi
cmake --build "$one" --target tavlo_msi >/dev/null
[ "$fail" -eq 0 ] || exit 1
echo "reproducible-test: two builds of one commit, at two paths, in two time zones, 9 days apart: the same bytes"
