#!/usr/bin/env bash
# Builds the libFuzzer targets and runs each for the given number of seconds.
# Fails on the first crash, sanitizer report or leak; the input that caused
# it is left in build/fuzz/ as crash-* / leak-*, to become a regular test case.
set -euo pipefail
seconds="${1:-60}"
cd "$(dirname "$0")/.."
cmake --preset fuzz >/dev/null
cmake --build build/fuzz -j "$(nproc)"
mkdir -p build/fuzz/corpus
for target in build/fuzz/fuzz/*_fuzz; do
  name="$(basename "$target")"
  mkdir -p "build/fuzz/corpus/$name"
  echo "fuzz: $name for ${seconds}s"
  (cd build/fuzz && "../../$target" -max_total_time="$seconds" -print_final_stats=0 \
      "corpus/$name" 2>"$name.log") || { tail -40 "build/fuzz/$name.log"; echo "fuzz: $name FAILED"; exit 1; }
done
echo "fuzz: every target ran clean"
