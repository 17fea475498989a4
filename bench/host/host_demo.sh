#!/bin/sh
# The host's start-up, run of a trivial workflow (one Log task) and of the
# demo workflow (which sleeps on purpose) and exit, beside
# `/usr/bin/python3 -c pass` as a floor, measured with hyperfine.
#   bench/host/host_demo.sh [path of the built velmarsh]
set -e
ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
PROGRAM="${1:-$ROOT/build/dev/host/velmarsh}"
cd "$ROOT"
hyperfine --warmup 3 --runs 30 -N \
  "/usr/bin/python3 -c pass" \
  "$PROGRAM --help" \
  "$PROGRAM --workflow=bench/host/trivial.yaml --disablesecurity" \
  "$PROGRAM --workflow=examples/demo.yaml --disablesecurity"
