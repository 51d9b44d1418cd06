#!/usr/bin/env bash
# Tavlo.exe's CPU time while idle under Wine: starts the x86_64 build's
# Tavlo.exe in a virtual X display, lets it settle, reads the process's CPU
# time (user + system, from /proc) before and after SECONDS of idling, ends it
# with "/Kill" (or by its process id) and prints one line for the bench table.
#   benchmarks/wine-idle.sh BUILD_DIR [SECONDS]
set -euo pipefail
build="$1"
seconds="${2:-10}"
exe="$build/Tavlo.exe"
if [ ! -f "$exe" ]; then
  echo "not measured: $exe does not exist (the windows-x64 build is made by make windows-x64)"
  exit 0
fi
build="$(cd "$build" && pwd)"
exe="$build/Tavlo.exe"
. "$(dirname "$0")/../scripts/wine-env.sh"
TAVLO_SCRIPT_ARGS=("$build" "$seconds")
wine_env "$build"
wine_boot wine-idle >/dev/null
trap wine_stop EXIT

ticks() {  # utime + stime of a process, in clock ticks
  awk '{ sub(/^.*\) /, ""); print $12 + $13 }' "/proc/$1/stat"
}
"$WINE64" "$exe" </dev/null >/dev/null 2>&1 &
pid=$!
sleep 5  # start-up, and the driver-missing message box, are over by now
if ! kill -0 "$pid" 2>/dev/null; then
  echo "not measured: Tavlo.exe ended during start-up"
  exit 0
fi
before="$(ticks "$pid")"
sleep "$seconds"
after="$(ticks "$pid")"
hz="$(getconf CLK_TCK)"
"$WINE64" "$exe" /Kill </dev/null >/dev/null 2>&1 || true
for _ in $(seq 1 20); do kill -0 "$pid" 2>/dev/null || break; sleep 0.5; done
kill "$pid" 2>/dev/null || true
wait "$pid" 2>/dev/null || true
# Wine has no filter driver: Tavlo.exe idles with its driver-missing message
# box up and no dispatcher; the readers and the main window's loop are what run.
awk -v b="$before" -v a="$after" -v hz="$hz" -v s="$seconds" \
  'BEGIN { printf "%.3f s CPU over %d s (%d ticks at %d Hz; no driver under Wine: message box up)\n", (a - b) / hz, s, a - b, hz }'
