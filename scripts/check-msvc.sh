#!/usr/bin/env bash
# make test-msvc: the MSVC side of the CMake files, checked with clang-cl in
# MSVC mode (cmake/clang-cl.cmake), for i686 and x86_64. For each:
#  - CMake configures the product (Tavlo.exe and the package's TavloSetup.dll)
#    taking its MSVC branches;
#  - every product translation unit and the resource script compile with
#    /W4 /WX (clang-cl's warnings, not cl.exe's);
#  - every compile carries /utf-8 and the static runtime (-MT), and the links
#    that CMake would run carry /MANIFEST:NO and the XP subsystem version for
#    Tavlo.exe, and no GNU option.
# Nothing is linked: there are no MSVC libraries here.
#   scripts/check-msvc.sh [SOURCE_DIR]    (default: this checkout)
set -euo pipefail
src="$(cd "${1:-$(dirname "$0")/..}" && pwd)"
fail=0

# Product sources: the subsystem folders and the Windows-only code, not the
# simulated machine, the tests or the developer tools.
product_sources() {
  (cd "$src" && find app layer hid devices framework ui packaging platform -name '*.cpp' -not -path 'platform/sim/*' | sort)
}

for arch in i686 x86_64; do
  build="$src/build/msvc-check-$arch"
  cmake -S "$src" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$src/cmake/clang-cl.cmake" \
    -DTAVLO_CLANG_CL_ARCH="$arch" -DTAVLO_PRODUCT_ONLY=ON -DTAVLO_WERROR=ON -DCMAKE_BUILD_TYPE=MinSizeRel \
    -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
  mapfile -t objects < <(cd "$build" && ninja -t targets all | grep -E '\.(obj|res):' | cut -d: -f1)
  if ! ninja -C "$build" "${objects[@]}" >"$build/check.log" 2>&1; then
    grep -v '^\[' "$build/check.log" | head -60
    echo "check-msvc: $arch: compile failed"
    fail=1
    continue
  fi

  # Every product source was compiled, each with the MSVC options it needs.
  compiled="$(python3 - "$build/compile_commands.json" "$src" <<'EOF'
import json, os, sys
commands, src = json.load(open(sys.argv[1])), sys.argv[2]
for c in commands:
    name = os.path.relpath(c["file"], src)
    if not name.endswith(".cpp"):
        continue
    words = c["command"].split()
    missing = [o for o in ("/utf-8", "-MT", "/W4", "/WX") if o not in words]
    print(name, "missing:" + ",".join(missing) if missing else "ok")
EOF
)"
  while read -r name state; do
    [ "$state" = ok ] || { echo "check-msvc: $arch: $name is compiled without ${state#missing:}"; fail=1; }
  done <<<"$compiled"
  while read -r name; do
    grep -q "^$name " <<<"$compiled" || { echo "check-msvc: $arch: $name is not compiled"; fail=1; }
  done < <(product_sources)

  subsystem=5.01
  [ "$arch" = x86_64 ] && subsystem=5.02
  tavlo_link="$(grep -A8 '^build Tavlo.exe' "$build/build.ninja" | grep -m1 'LINK_FLAGS' || true)"
  for option in "/SUBSYSTEM:WINDOWS,$subsystem" /MANIFEST:NO; do
    grep -qF -- "$option" <<<"$tavlo_link" || { echo "check-msvc: $arch: Tavlo.exe is not linked with $option"; fail=1; }
  done
  if grep -E 'LINK_FLAGS|LINK_LIBRARIES' "$build/build.ninja" | grep -qE -- '-municode|-Wl,|-static'; then
    echo "check-msvc: $arch: a GNU linker option reaches the MSVC link:"
    grep -E 'LINK_FLAGS|LINK_LIBRARIES' "$build/build.ninja" | grep -E -- '-municode|-Wl,|-static' | head -5
    fail=1
  fi
  [ "$fail" -eq 0 ] && echo "check-msvc: $arch: ${#objects[@]} objects compiled with clang-cl /W4 /WX (/utf-8, -MT), Tavlo.exe's link options right; nothing linked"
done
exit "$fail"
