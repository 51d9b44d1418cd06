#!/usr/bin/env bash
# make bench: builds the optimised native configuration, runs every benchmark
# with interleaved repetitions (JSON in build/native-release/bench/), builds
# both Windows configurations and measures Tavlo.exe on real Win32 under Wine
# (benchmarks/wine-bench.sh: its latency beside a bare client, idle and with
# every core busy, and an idle minute), then prints the two tables.
#   BENCH_REPETITIONS (default 9), JOBS (default 2), WERROR (default ON);
#   the BENCH_WINE_* settings and TAVLO_EXE of benchmarks/wine-bench.sh
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

# The Windows programs: the shipped 32-bit Tavlo.exe with its bare client,
# and the x86_64 build with the test driver, the test keyboard and the
# measuring program. A build that fails leaves its rows "not measured".
exe32=build/windows-x86/Tavlo.exe
wine_out="$out/wine-bench.txt"
: > "$wine_out"
build_windows() {  # build_windows PRESET TARGETS...
  local preset="$1"
  shift
  echo "bench: building $preset"
  cmake --preset "$preset" -DTAVLO_WERROR="${WERROR:-ON}" >/dev/null &&
    cmake --build "build/$preset" -j "$jobs" --target "$@" >"$out/build-$preset.log" 2>&1
}
build_windows windows-x86 Tavlo tavlo_bare_client ||
  echo "not-measured 32-bit build: failed (build/native-release/bench/build-windows-x86.log)" >> "$wine_out"
if build_windows windows-x64 Tavlo tavlo_wine_bench kbdfiltr_test_ctl; then
  echo "bench: Tavlo.exe under Wine (a few minutes)"
  ./benchmarks/wine-bench.sh build/windows-x64 build/windows-x86 >> "$wine_out" 2>"$out/wine-bench.log" ||
    echo "not-measured wine: benchmarks/wine-bench.sh failed (build/native-release/bench/wine-bench.log)" >> "$wine_out"
else
  echo "not-measured wine: the windows-x64 build failed (build/native-release/bench/build-windows-x64.log)" >> "$wine_out"
fi

python3 benchmarks/bench_table.py --exe32 "$exe32" --wine "$wine_out" \
  "$out/tavlo_benchmarks.json" "$out/hid_benchmark.json"
