#!/bin/sh
# Builds and runs every test: the plain build, the same suite under
# AddressSanitizer and UndefinedBehaviorSanitizer, the thread-racing tests under
# ThreadSanitizer, the benchmarks (built, not timed here: run them from
# build/release/bench) and each fuzz target for a bounded time.
set -e
cd "$(dirname "$0")"
./tools/setup.sh
JOBS=$(nproc)
LOGS=build/test-logs
mkdir -p "$LOGS"

# Runs ctest on a build directory, keeping its summary for the closing line.
run_ctest() {
  ctest --test-dir "$1" -j"$JOBS" --output-on-failure --timeout 600 >"$LOGS/$2.txt" 2>&1 && status=0 || status=$?
  tail -n 40 "$LOGS/$2.txt"
  [ "$status" -eq 0 ] || { echo "ctest failed in $1 (full output: $LOGS/$2.txt)"; exit "$status"; }
}

echo "== print-format check"
./tools/check_print_formats.sh

echo "== plain build"
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRUNTIME_BENCH=ON >/dev/null
cmake --build build/release
run_ctest build/release release

echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
cmake -S . -B build/sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DRUNTIME_SANITIZE=ON >/dev/null
cmake --build build/sanitize
run_ctest build/sanitize sanitize

echo "== ThreadSanitizer"
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRUNTIME_TSAN=ON >/dev/null
cmake --build build/tsan
run_ctest build/tsan tsan

echo "== fuzz targets"
cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRUNTIME_FUZZ=ON \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build build/fuzz
FUZZED=0
for target in build/fuzz/fuzz/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  mkdir -p "build/fuzz/corpus/$name"
  seeds=""
  [ -d "fuzz/corpus/$name" ] && seeds="fuzz/corpus/$name"
  "$target" -max_total_time="${FUZZ_SECONDS:-15}" -rss_limit_mb=2048 "build/fuzz/corpus/$name" $seeds \
    >"$LOGS/$name.txt" 2>&1 || { tail -n 60 "$LOGS/$name.txt"; echo "fuzz target $name failed"; exit 1; }
  echo "$name: $(grep -E '^#[0-9]+' "$LOGS/$name.txt" | tail -n 1 | cut -c1-60)"
  FUZZED=$((FUZZED + 1))
done

PASSED=0
for stage in release sanitize tsan; do
  n=$(sed -n 's/.*tests passed, 0 tests failed out of \([0-9]*\).*/\1/p' "$LOGS/$stage.txt")
  PASSED=$((PASSED + ${n:-0}))
done
echo "fuzz targets run clean: $FUZZED"
echo "all stages: $PASSED passed, 0 failed"
