#!/bin/sh
# Builds and runs every test: the plain build, the same suite under
# AddressSanitizer and UndefinedBehaviorSanitizer, the thread-racing tests under
# ThreadSanitizer, the benchmarks (built, not timed here: run them from
# build/release/bench) and each fuzz target for a bounded time.
#
# Each stage has its own build folder and sets every option it relies on, so
# that an earlier configure (run.sh, a hand-made build) cannot change what it
# builds, and builds only what it runs. Every ctest call fails when it finds
# no tests. Each stage's tests run with TMPDIR set to a fresh folder of its
# own, and the stage fails, naming them, when files are left in it. JOBS
# (default: the cores this process may use) sets the parallelism; FUZZ_SECONDS
# and FUZZ_BUDGET the fuzz time (tools/fuzz.sh). The logs go to
# build/test-logs/.
set -e
cd "$(dirname "$0")"
./tools/setup.sh test
# The set-up above installs every tool the tests use, so here a test that
# finds a tool or a vector file missing fails instead of skipping
# (tests/support/requirement.h), whatever CI the caller had set; a ctest run
# by hand only skips it. A test that needs what the run is not (root) skips
# either way, and counts as skipped on the last line.
CI=true
JOBS=${JOBS:-$(nproc)}
LOGS=build/test-logs
export CI JOBS LOGS
mkdir -p "$LOGS"
STARTED=$(date +%s)
STAGE_STARTED=$STARTED

# Configures a stage's folder with every option set: the defaults first, the
# stage's own after them (a later -D wins).
configure() {
  dir=$1
  shift
  cmake -S . -B "$dir" -G Ninja -DRUNTIME_TESTS=ON -DRUNTIME_BENCH=OFF -DRUNTIME_SANITIZE=OFF \
    -DRUNTIME_TSAN=OFF -DRUNTIME_FUZZ=OFF "$@" >"$LOGS/configure-$(basename "$dir").txt" ||
    { cat "$LOGS/configure-$(basename "$dir").txt"; exit 1; }
}

# Each skipped test with the reason it gave (GoogleTest's "file:line: Skipped"
# and the message after it, or a line "SKIPPED: why"), from ctest's record of
# the last run.
skip_reasons() {
  awk '
    /^[0-9]+\/[0-9]+ Test: / { name = $3; reason = ""; grab = 0; next }
    /^\[  SKIPPED \]/ { grab = 0 }
    / Skipped$/ { grab = 1 }
    /^SKIPPED: / { reason = reason "    " substr($0, 10) "\n" }
    grab { reason = reason "    " $0 "\n" }
    /^Skip regular expression found in output/ { printf "  %s\n%s", name, reason }
  ' "$1/Testing/Temporary/LastTest.log"
}

# Runs ctest on a build directory, its TMPDIR a fresh folder that must be
# empty after (tools/fresh-tmp.sh); keeps the output, with the reason of each
# skip, in the stage's log.
run_ctest() {
  ./tools/fresh-tmp.sh ctest --test-dir "$1" -j"$JOBS" --no-tests=error --output-on-failure --timeout 600 \
    >"$LOGS/$2.txt" 2>&1 && status=0 || status=$?
  reasons=$(skip_reasons "$1")
  if [ -n "$reasons" ]; then
    { echo; echo "Skipped, and why:"; echo "$reasons"; } >>"$LOGS/$2.txt"
  fi
  tail -n 40 "$LOGS/$2.txt"
  [ "$status" -eq 0 ] || { echo "the tests in $1 failed (full output: $LOGS/$2.txt)"; exit "$status"; }
}

# Ends a stage with the time it took.
stage_done() {
  now=$(date +%s)
  echo "-- $1: $((now - STAGE_STARTED)) s"
  STAGE_STARTED=$now
}

echo "== layer check"
./tools/check-layers.py
./tools/check_layers_test.py # the layer and link checks themselves, on planted faults

echo "== print-format check"
./tools/check_print_formats.sh

# Optimised stages keep line tables only (-g1): enough for every backtrace a
# failure prints, and a fifth less compile time than full debug information.
LINES_ONLY="-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG"

echo "== plain build"
configure build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo "$LINES_ONLY" -DRUNTIME_BENCH=ON
cmake --build build/release -j"$JOBS"
run_ctest build/release release
stage_done "plain build and tests"

echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
configure build/sanitize -DCMAKE_BUILD_TYPE=Debug -DRUNTIME_SANITIZE=ON
cmake --build build/sanitize -j"$JOBS"
run_ctest build/sanitize sanitize
stage_done "sanitizer build and tests"

# Only the test programs that race threads are built here (tests/CMakeLists.txt).
echo "== ThreadSanitizer"
configure build/tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo "$LINES_ONLY" -DRUNTIME_TSAN=ON
cmake --build build/tsan -j"$JOBS"
run_ctest build/tsan tsan
stage_done "thread-sanitizer build and tests"

echo "== fuzz targets"
configure build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRUNTIME_FUZZ=ON -DRUNTIME_TESTS=OFF \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
cmake --build build/fuzz -j"$JOBS" --target fuzz_targets
./tools/fresh-tmp.sh ./tools/fuzz.sh build/fuzz
stage_done "fuzz build and runs"

# ctest counts a skipped test as passed: the closing line tells them apart
# (each skip says why at the end of its stage's log).
PASSED=0
SKIPPED=0
for stage in release sanitize tsan; do
  n=$(sed -n 's/.*tests passed, 0 tests failed out of \([0-9]*\).*/\1/p' "$LOGS/$stage.txt")
  s=$(grep -c '^[[:space:]]*[0-9]* - .* (Skipped)$' "$LOGS/$stage.txt" || true)
  PASSED=$((PASSED + ${n:-0} - ${s:-0}))
  SKIPPED=$((SKIPPED + ${s:-0}))
done
echo "time: $(( $(date +%s) - STARTED )) s"
echo "tests: $PASSED passed, 0 failed, $SKIPPED skipped"
