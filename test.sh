#!/bin/sh
# Builds and runs every test: the plain build, the same suite under
# AddressSanitizer and UndefinedBehaviorSanitizer, the benchmarks (built, not
# timed here: run them from build/release/bench) and each fuzz target for a
# bounded time.
set -e
cd "$(dirname "$0")"
./tools/setup.sh
JOBS=$(nproc)

echo "== print-format check"
./tools/check_print_formats.sh

echo "== plain build"
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRUNTIME_BENCH=ON >/dev/null
cmake --build build/release
ctest --test-dir build/release -j"$JOBS" --output-on-failure

echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
cmake -S . -B build/sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DRUNTIME_SANITIZE=ON >/dev/null
cmake --build build/sanitize
ctest --test-dir build/sanitize -j"$JOBS" --output-on-failure

echo "== fuzz targets"
cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRUNTIME_FUZZ=ON \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build build/fuzz
for target in build/fuzz/fuzz/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  mkdir -p "build/fuzz/corpus/$name"
  "$target" -max_total_time="${FUZZ_SECONDS:-15}" -rss_limit_mb=2048 "build/fuzz/corpus/$name" "fuzz/corpus/$name" 2>&1 | tail -n 2
done
