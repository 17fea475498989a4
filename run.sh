#!/bin/sh
# Builds the host program and runs it with the given arguments, in the
# caller's working directory (a relative --debugdir is relative to it).
#   ./run.sh --help
# The build has its own folder (build/run) and its output goes to standard
# error, so that standard output carries only what the program prints.
set -e
SOURCE=$(cd "$(dirname "$0")" && pwd)
{
  "$SOURCE/tools/setup.sh" run
  cmake -S "$SOURCE" -B "$SOURCE/build/run" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRUNTIME_TESTS=OFF \
    -DRUNTIME_BENCH=OFF -DRUNTIME_SANITIZE=OFF -DRUNTIME_TSAN=OFF -DRUNTIME_FUZZ=OFF >/dev/null
  cmake --build "$SOURCE/build/run" --target velmarsh
} >&2
exec "$SOURCE/build/run/host/velmarsh" "$@"
