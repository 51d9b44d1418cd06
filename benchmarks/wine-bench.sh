#!/usr/bin/env bash
# Tavlo.exe on real Win32, under Wine, with the test filter driver and the
# test keyboard: the latency of its three paths beside a bare client of the
# same width (benchmarks/wine/), idle and with every core kept busy, then its
# CPU time and context switches over an idle minute. Prints the lines that
# benchmarks/bench_table.py turns into rows:
#   wine-exe PATH 32|64                       the Tavlo.exe measured
#   wine-result idle|loaded PATH NAME tavlo|bare|bare-key-state n=N p50_us=X p99_us=Y max_us=Z
#   wine-load idle|loaded L1 L5 L15 L1 L5 L15  load averages as the run began and ended
#   wine-cost idle|loaded 32|64 WHAT us=X     a call of the key path (mean)
#   wine-sched idle|loaded NAME CONTENDER GROUP run_us=X wait_us=Y
#                                             Linux run and run-queue wait per event
#   wine-idle seconds=S cpu_ticks=T hz=H voluntary=V involuntary=I threads=N
#   wine-idle-thread TID COMM cpu_ticks=T voluntary=V involuntary=I
#   not-measured WHAT: WHY                    a row that could not be measured
# Never fails the caller: what cannot be measured says so.
#   benchmarks/wine-bench.sh X64_BUILD_DIR X86_BUILD_DIR
# Environment: BENCH_WINE_KEYS (per round, default 50), BENCH_WINE_ROUNDS
# (default 10), BENCH_WINE_IDLE_SECONDS (default 60), BENCH_WINE_BOTH=1 also
# measures the x86_64 Tavlo.exe beside the 32-bit one, TAVLO_EXE the exe to
# measure (see bench_tavlo_exe; TAVLO_EXE_ARCH as in scripts/wine-env.sh), BENCH_WINE_SAMPLES a CSV file for every sample,
# BENCH_WINE_KEY_STATE=0 leaves out the bare client that also reads the key
# state (on the key path, to tell Tavlo's own time from that of the calls).
set -uo pipefail
. "$(dirname "$0")/../scripts/wine-env.sh"
x64="$(cd "$1" 2>/dev/null && pwd)" || { echo "not-measured wine: $1 does not exist"; exit 0; }
x86="$(cd "$2" 2>/dev/null && pwd)" || x86="$2"
keys="${BENCH_WINE_KEYS:-50}"
rounds="${BENCH_WINE_ROUNDS:-10}"
idle_seconds="${BENCH_WINE_IDLE_SECONDS:-60}"
bench="$x64/benchmarks/wine/tavlo_wine_bench.exe"
for f in "$bench" "$x64/Tavlo.exe" "$x64/tests/driver/kbdfiltr_test.sys"; do
  [ -f "$f" ] || { echo "not-measured wine: $f was not built"; exit 0; }
done
wine_env "$x64"
wine_boot wine-bench >&2

hogs=()
stop_hogs() {
  local pid
  for pid in "${hogs[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${hogs[@]}"; do wait "$pid" 2>/dev/null; done
  hogs=()
}
cleanup() {
  stop_hogs
  "$WINE64" "$x64/tests/driver/kbdfiltr_test_ctl.exe" remove </dev/null >/dev/null 2>&1 || true
  wine_stop
}
trap cleanup EXIT
trap "exit 130" INT TERM

# 32 or 64: the width of a PE executable (its machine field).
pe_bits() {
  case "$(pe_arch "$1" 2>/dev/null)" in x86) echo 32 ;; x64) echo 64 ;; *) return 1 ;; esac
}

# The Tavlo.exe to measure and its width: TAVLO_EXE when set; else the one
# the Windows tiers run (tavlo_exe_arch: the shipped 32-bit build where Wine
# runs 32-bit programs, TAVLO_EXE_ARCH=x64 for the x86_64 build).
bench_tavlo_exe() {
  local arch
  if [ -n "${TAVLO_EXE:-}" ]; then
    echo "$TAVLO_EXE $(pe_bits "$TAVLO_EXE")"
    return
  fi
  arch="$(tavlo_exe_arch)" || return 1
  if [ "$arch" = x86 ]; then echo "$x86/Tavlo.exe 32"; else echo "$x64/Tavlo.exe 64"; fi
}

# The bare client of a width.
bare_client() {
  if [ "$1" = 32 ]; then echo "$x86/benchmarks/wine/tavlo_bare_client.exe"; else echo "$x64/benchmarks/wine/tavlo_bare_client.exe"; fi
}

read -r exe bits < <(bench_tavlo_exe)
if [ -z "${bits:-}" ]; then echo "not-measured wine: $exe is no Windows executable"; exit 0; fi
echo "wine-exe $exe $bits"
pairs=(--pair "tavlo$bits" "$exe" "$(bare_client "$bits")")
if [ "${BENCH_WINE_BOTH:-0}" = 1 ] && [ "$bits" = 32 ]; then
  pairs+=(--pair tavlo64 "$x64/Tavlo.exe" "$(bare_client 64)")
fi
for ((i = 3; i < ${#pairs[@]}; i += 4)); do
  [ -f "${pairs[i]}" ] || { echo "not-measured wine: ${pairs[i]} was not built"; exit 0; }
done

# What the calls of the key path cost, for each width that runs here.
costs() {  # costs idle|loaded
  local w loader
  for w in 32 64; do
    [ "$w" = 64 ] || [ "$bits" = 32 ] || continue
    [ -f "$(bare_client "$w")" ] || continue
    if [ "$w" = 32 ]; then loader="$WINE32"; else loader="$WINE64"; fi
    "$loader" "$(bare_client "$w")" --costs </dev/null 2>/dev/null | sed -n "s/^cost /wine-cost $1 $w /p"
  done
}

latency() {  # latency idle|loaded
  local out status start
  start="$(cut -d' ' -f1-3 /proc/loadavg)"
  costs "$1"
  out="$("$WINE64" "$bench" latency --keys "$keys" --rounds "$rounds" \
    $([ "${BENCH_WINE_KEY_STATE:-1}" = 0 ] || echo --key-state) \
    ${BENCH_WINE_SAMPLES:+--samples "$(winepath_of "${BENCH_WINE_SAMPLES}.$1")"} "${pairs[@]}" </dev/null 2>&1)"
  status=$?
  echo "wine-load $1 $start $(cut -d' ' -f1-3 /proc/loadavg)"
  if [ $status -ne 0 ] || ! grep -q '^result ' <<<"$out"; then
    echo "not-measured wine latency $1: $(grep -m1 '^error' <<<"$out" | cut -c7- || true) (exit $status)"
    return
  fi
  sed -n "s/^result /wine-result $1 /p; s/^sched /wine-sched $1 /p" <<<"$out"
}
winepath_of() { local p="Z:$1"; echo "${p//\//\\}"; }

latency idle
# Every core busy with a CPU-bound process at normal priority, for at most
# ten minutes whatever happens to this script.
for _ in $(seq "$(nproc)"); do
  timeout 600 bash -c 'while :; do :; done' &
  hogs+=($!)
done
sleep 1
latency loaded
stop_hogs

# The idle minute: Tavlo.exe's Linux process is the one of this prefix whose
# first argument is the exe's Windows path (Wine's way).
unix_pid_of() {  # unix_pid_of EXE_BASENAME
  local p
  for p in /proc/[0-9]*; do
    { tr '\0' '\n' < "$p/cmdline"; } 2>/dev/null | head -n1 | grep -qi "[\\/]$1\$" || continue
    { tr '\0' '\n' < "$p/environ"; } 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX" || continue
    echo "${p#/proc/}"
    return 0
  done
  return 1
}
# One line per thread: TID COMM TICKS VOLUNTARY INVOLUNTARY.
threads_of() {
  local t
  for t in /proc/"$1"/task/*; do
    awk -v tid="${t##*/}" -v comm="$(tr ' ' '_' < "$t/comm")" \
      'FNR == NR { sub(/^.*\) /, ""); ticks = $12 + $13; next }
       /^voluntary_ctxt_switches/ { v = $2 } /^nonvoluntary_ctxt_switches/ { n = $2 }
       END { print tid, comm, ticks, v, n }' "$t/stat" "$t/status" 2>/dev/null
  done
}
idle_row() {
  local line upid before after
  coproc IDLE { "$WINE64" "$bench" idle "$exe" 2>&1; }
  while read -r -t 120 line <&"${IDLE[0]}"; do
    case "$line" in ready*) break ;; error*) echo "not-measured wine idle: ${line#error }"; return ;; esac
  done
  if [ "${line%% *}" != ready ]; then echo "not-measured wine idle: Tavlo.exe did not start"; return; fi
  if ! upid="$(unix_pid_of "$(basename "$exe")")"; then
    echo "not-measured wine idle: no Linux process of $(basename "$exe") in $WINEPREFIX"
    echo go >&"${IDLE[1]}"
    return
  fi
  before="$(threads_of "$upid")"
  sleep "$idle_seconds"
  after="$(threads_of "$upid")"
  echo go >&"${IDLE[1]}"
  while read -r -t 60 line <&"${IDLE[0]}"; do [ "$line" = done ] && break; done
  # Threads present at the end; one that started meanwhile counts from zero.
  awk -v s="$idle_seconds" -v hz="$(getconf CLK_TCK)" '
    FNR == NR { t[$1] = $3; v[$1] = $4; n[$1] = $5; next }
    { dt = $3 - t[$1]; dv = $4 - v[$1]; dn = $5 - n[$1]
      T += dt; V += dv; N += dn; k++
      printf "wine-idle-thread %s %s cpu_ticks=%d voluntary=%d involuntary=%d\n", $1, $2, dt, dv, dn }
    END { printf "wine-idle seconds=%d cpu_ticks=%d hz=%d voluntary=%d involuntary=%d threads=%d\n", s, T, hz, V, N, k }
  ' <(echo "$before") <(echo "$after")
}
idle_row
