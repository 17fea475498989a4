#!/bin/sh
# Builds the host program and runs it with the given arguments.
#   ./run.sh --help
set -e
cd "$(dirname "$0")"
./tools/setup.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRUNTIME_TESTS=OFF >/dev/null
cmake --build build/release --target velmarsh
exec ./build/release/host/velmarsh "$@"
