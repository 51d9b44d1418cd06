#!/usr/bin/env bash
# make bench: builds the optimised native configuration, runs every benchmark
# with interleaved repetitions (JSON in build/native-release/bench/), measures
# the 32-bit Tavlo.exe and, when the x86_64 Windows build exists, Tavlo.exe's
# idle CPU time under Wine, then prints one table of medians.
#   BENCH_REPETITIONS (default 9), JOBS (default 2), WERROR (default ON)
set -euo pipefail
cd "$(dirname "$0")/.."
jobs="${JOBS:-2}"
reps="${BENCH_REPETITIONS:-9}"
out=build/native-release/bench

cmake --preset native-release -DTAVLO_WERROR="${WERROR:-ON}" >/dev/null
cmake --build build/native-release -j "$jobs" --target tavlo_benchmarks hid_benchmark
mkdir -p "$out"
run() {
  local name="$1"
  echo "bench: $name ($reps interleaved repetitions)"
  "./build/native-release/benchmarks/$name" --benchmark_repetitions="$reps" \
    --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true \
    --benchmark_out="$out/$name.json" --benchmark_out_format=json >"$out/$name.txt"
}
run tavlo_benchmarks
run hid_benchmark

# The shipped 32-bit program, built if the cross compiler is there.
exe32=build/windows-x86/Tavlo.exe
if [ ! -f "$exe32" ] && command -v i686-w64-mingw32-g++ >/dev/null 2>&1; then
  echo "bench: building the 32-bit Tavlo.exe"
  { cmake --preset windows-x86 -DTAVLO_WERROR="${WERROR:-ON}" >/dev/null &&
    cmake --build build/windows-x86 -j "$jobs" --target Tavlo >/dev/null; } || echo "bench: the 32-bit build failed"
fi

wine_line="$(./benchmarks/wine-idle.sh build/windows-x64 10 2>/dev/null || echo "not measured: the Wine run failed")"

python3 benchmarks/bench_table.py --exe32 "$exe32" --wine "$wine_line" \
  "$out/tavlo_benchmarks.json" "$out/hid_benchmark.json"
