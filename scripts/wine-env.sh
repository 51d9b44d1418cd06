# Sourced by every script that runs Windows programs under Wine (the Windows
# tier, `make run`, the Wine benchmarks, the package tests). It gives them one
# way to set up Wine: the build tree's own prefix, a virtual X display, one
# booted WoW64 prefix and one wineserver for the whole run.
#
#   . scripts/wine-env.sh     # before the script shifts its arguments
#   wine_env BUILD_DIR        # sets WINEPREFIX etc.; re-runs the calling
#                             # script, with its arguments, under xvfb-run
#                             # when it is not already running there
#   wine_boot LABEL           # boots the prefix if needed, starts wineserver
#                             # and Wine's own services
#   wine_boot_fresh LABEL     # the same in a prefix made anew (any old one
#                             # is removed first)
#
# After wine_boot: WINE64 starts a 64-bit program, WINE32 a 32-bit one (the
# plain `wine` launcher; the pid it gives is the program's own), WINESERVER is
# the server. wine_stop ends the server (call it from the script's EXIT trap).
#
# Which Tavlo.exe the Windows tiers launch is chosen here, in one place:
#   tavlo_exe_arch            x86 (the shipped 32-bit program, run in the
#                             WoW64 prefix) when the 32-bit tier is usable,
#                             else x64; TAVLO_EXE_ARCH=x86|x64 overrides it
#   tavlo_test_exe            the path of that Tavlo.exe (build/windows-x86/
#                             or build/windows-x64/ of this checkout)
#   wine32_usable             true when this kernel runs i386 programs and
#                             the 32-bit Wine is installed; wine32_why_not
#                             says why not
#   pe_arch FILE              x86 or x64: the machine a Windows program is for
#   tavlo_exe_under_test BUILD   the Tavlo.exe a Windows test build launches
#                             (its TAVLO_TEST_EXE) and its kind, e.g.
#                             ".../Tavlo.exe (32-bit, WoW64)"; fails, with
#                             the reason, if it was not built or cannot run

WINE64=/usr/lib/wine/wine64
WINE32=/usr/lib/wine/wine
WINESERVER=/usr/lib/wine/wineserver
TAVLO_SCRIPT_ARGS=("$@")
TAVLO_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

wine_env() {
  local build="$1"
  export WINEPREFIX="$build/wineprefix"
  export WINEDEBUG="${WINEDEBUG:--all}"
  # No Mono/Gecko install prompts; no menu entries or file associations of
  # the prefix's programs and shortcuts on the desktop of this machine.
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  if [ -z "${TAVLO_IN_XVFB:-}" ]; then
    export TAVLO_IN_XVFB=1
    exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "${TAVLO_SCRIPT_ARGS[@]}"
  fi
}

# The kind of prefix this machine's Wine makes: "wow64" when the 32-bit Wine
# is installed beside the 64-bit one (32-bit programs run, as on 64-bit
# Windows), "win64" otherwise.
wine_kind() {
  if [ -x "$WINE32" ] && [ -d /usr/lib/i386-linux-gnu/wine/i386-windows ]; then echo wow64; else echo win64; fi
}

wine_boot() {
  local label="${1:-wine}" kind
  kind="$(wine_kind)"
  # A prefix made before the 32-bit Wine was installed cannot run 32-bit
  # programs: make it again. The marker says which kind a prefix is.
  if [ -f "$WINEPREFIX/system.reg" ] && [ "$(cat "$WINEPREFIX/tavlo-prefix-kind" 2>/dev/null)" != "$kind" ]; then
    echo "$label: remaking prefix $WINEPREFIX as $kind"
    "$WINESERVER" -k >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
  fi
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "$label: booting $kind prefix $WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    "$WINE64" wineboot -i >/dev/null 2>&1 || true
    # Without this wait a device or service installed in the same run fails.
    "$WINESERVER" -w
    echo "$kind" > "$WINEPREFIX/tavlo-prefix-kind"
  fi
  "$WINESERVER" -p || true   # already running for this prefix: use it
  # Wine's own services start now, detached from any program's output: a
  # service started by the first test would inherit its pipes and hold the
  # caller waiting for them.
  "$WINE64" cmd /c exit </dev/null >/dev/null 2>&1 || true
}

wine_boot_fresh() {
  "$WINESERVER" -k >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX"
  wine_boot "$@"
}

wine_stop() {
  "$WINESERVER" -k >/dev/null 2>&1 || true
}

# True when this kernel runs i386 programs: a tiny static i386 ELF (one exit
# system call with status 42) must end with 42.
kernel_runs_i386() {
  local probe rc=0
  mkdir -p "$TAVLO_ROOT/build"
  probe="$(mktemp "$TAVLO_ROOT/build/.i386-probe.XXXXXX")"
  # ELF header, one loadable segment at 0x08048000, then the code at
  # 0x08048054: mov eax,1 (exit); mov ebx,42; int 0x80.
  printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00'\
'\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00'\
'\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00'\
'\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08'\
'\x00\x80\x04\x08\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00'\
'\x00\x10\x00\x00\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80' > "$probe"
  chmod +x "$probe"
  "$probe" 2>/dev/null || rc=$?
  rm -f "$probe"
  [ "$rc" -eq 42 ]
}

# Why the 32-bit tier cannot run here (empty when it can).
wine32_why_not() {
  if ! kernel_runs_i386; then
    echo "this kernel runs no i386 programs"
  elif [ "$(wine_kind)" != wow64 ]; then
    echo "the 32-bit Wine (wine32:i386) is not installed"
  fi
}

wine32_usable() {
  [ -z "$(wine32_why_not)" ]
}

tavlo_exe_arch() {
  case "${TAVLO_EXE_ARCH:-}" in
    x86|x64) echo "$TAVLO_EXE_ARCH" ;;
    "") if wine32_usable; then echo x86; else echo x64; fi ;;
    *) echo "TAVLO_EXE_ARCH must be x86 or x64, not '$TAVLO_EXE_ARCH'" >&2; return 1 ;;
  esac
}

tavlo_test_exe() {
  local arch
  arch="$(tavlo_exe_arch)" || return 1
  echo "$TAVLO_ROOT/build/windows-$arch/Tavlo.exe"
}

pe_arch() {
  local pe machine
  pe="$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')"
  machine="$(od -An -tx2 -j$((pe + 4)) -N2 "$1" | tr -d ' ')"
  case "$machine" in
    014c) echo x86 ;;
    8664) echo x64 ;;
    *) echo "unknown" ;;
  esac
}

tavlo_exe_under_test() {
  local exe
  exe="$(sed -n 's/^TAVLO_TEST_EXE:[A-Z]*=//p' "$1/CMakeCache.txt" 2>/dev/null)"
  if [ ! -f "$exe" ]; then
    echo "'$exe', the Tavlo.exe that $1 launches (TAVLO_TEST_EXE), was not built"
    return 1
  fi
  case "$(pe_arch "$exe")" in
    x86)
      if ! wine32_usable; then
        echo "$exe is 32-bit, but $(wine32_why_not)"
        return 1
      fi
      echo "$exe (32-bit, WoW64)" ;;
    x64) echo "$exe (64-bit)" ;;
    *) echo "$exe is not a Windows program for x86 or x64"; return 1 ;;
  esac
}
