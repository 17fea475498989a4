#!/bin/sh
# Runs every libFuzzer target of a fuzz build for a bounded time, as many at
# once as there are cores, and fails when a target finds a crash, a leak, a
# time-out or a sanitizer report.
#   tools/fuzz.sh build/fuzz
# FUZZ_SECONDS (default 120) is the most one target runs; FUZZ_BUDGET bounds
# the wall time of all of them together, so more targets or fewer cores
# shorten each run instead of lengthening the stage. Its default is 600 s on
# four cores or more and 150 s a core below that: a small machine also spends
# longest on the builds and the sanitizer tests before it, and the whole run
# must stay well inside CI's time limit even when that machine is busy. On 8
# cores each target gets well over a minute, on 2 about 10 s. Seeds
# come from fuzz/corpus/<target>/, a dictionary from fuzz/dict/<target>.dict;
# what a target finds is kept in <build>/corpus/<target>/ for the next run.
set -e
cd "$(dirname "$0")/.."
LOGS=${LOGS:-build/test-logs}

# One target (called back through xargs): its own corpus folder, the shared
# seeds and dictionary; exit 255 makes xargs hand out no further targets.
if [ "$1" = "--one" ]; then
  name=$(basename "$2")
  mkdir -p "$FUZZ_BUILD/corpus/$name"
  set -- "$2" -max_total_time="$FUZZ_EACH" -rss_limit_mb=2048 -timeout=25 \
    -artifact_prefix="$FUZZ_BUILD/artifacts/$name-"
  [ -f "fuzz/dict/$name.dict" ] && set -- "$@" -dict="fuzz/dict/$name.dict"
  set -- "$@" "$FUZZ_BUILD/corpus/$name"
  [ -d "fuzz/corpus/$name" ] && set -- "$@" "fuzz/corpus/$name"
  if "$@" >"$LOGS/$name.txt" 2>&1; then
    echo "$name: $(grep -E '^#[0-9]+' "$LOGS/$name.txt" | tail -n 1 | cut -c1-60)"
    exit 0
  fi
  tail -n 60 "$LOGS/$name.txt"
  echo "fuzz target $name failed (full output: $LOGS/$name.txt)"
  exit 255
fi

FUZZ_BUILD=${1:-build/fuzz}
JOBS=${JOBS:-$(nproc)}
mkdir -p "$LOGS" "$FUZZ_BUILD/artifacts"
COUNT=0
for target in "$FUZZ_BUILD"/fuzz/fuzz_*; do
  [ -x "$target" ] && COUNT=$((COUNT + 1))
done
[ "$COUNT" -gt 0 ] || { echo "no fuzz targets in $FUZZ_BUILD/fuzz" >&2; exit 1; }

FUZZ_EACH=${FUZZ_SECONDS:-120}
ROUNDS=$(( (COUNT + JOBS - 1) / JOBS ))
BUDGET=${FUZZ_BUDGET:-$(( JOBS >= 4 ? 600 : 150 * JOBS ))}
FITTING=$(( BUDGET / ROUNDS ))
[ "$FITTING" -ge 1 ] || FITTING=1
[ "$FUZZ_EACH" -le "$FITTING" ] || FUZZ_EACH=$FITTING
echo "fuzzing $COUNT targets, $JOBS at once, ${FUZZ_EACH}s each (budget ${BUDGET}s)"
export FUZZ_BUILD FUZZ_EACH LOGS
# The targets get a home of their own, removed after: code that falls back
# to the user's cache folder (a {Temp} whose TMPDIR is shared) makes its
# folders there, not in the real home.
HOME=$(mktemp -d "${TMPDIR:-/tmp}/fuzz-home.XXXXXX")
trap 'rm -rf "$HOME"' EXIT INT TERM
unset XDG_CACHE_HOME XDG_CONFIG_HOME XDG_DATA_HOME XDG_STATE_HOME XDG_RUNTIME_DIR
export HOME
for target in "$FUZZ_BUILD"/fuzz/fuzz_*; do
  [ -x "$target" ] && echo "$target"
done | xargs -P "$JOBS" -n 1 "$(pwd)/tools/fuzz.sh" --one
echo "fuzz targets run clean: $COUNT"
