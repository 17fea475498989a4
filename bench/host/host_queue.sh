#!/bin/sh
# The host running a Queue of trivial Log tasks from start to exit, as a user
# runs it: 1,000, 10,000 and 100,000 tasks in one Queue and 1,000 Queues of
# 100. Divide each mean by the number of tasks for the time a task costs
# (start-up, loading the document and the exit included).
#   bench/host/host_queue.sh [path of the built velmarsh] [core to pin to]
set -e
ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
PROGRAM="${1:-$ROOT/build/dev/host/velmarsh}"
CORE="${2:-0}"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
/usr/bin/python3 - "$WORK" <<'EOF'
import json, sys
def leaves(doc, names):
    for name in names: doc[name] = {"type": "Log", "message": ""}
    return names
for count in (1000, 10000, 100000):
    doc = {}
    doc["start"] = {"type": "Queue", "actions": leaves(doc, [f"t{i}" for i in range(count)])}
    json.dump(doc, open(f"{sys.argv[1]}/queue-{count}.json", "w"))
doc = {"start": {"type": "Queue", "actions": [f"q{q}" for q in range(1000)]}}
for q in range(1000):
    doc[f"q{q}"] = {"type": "Queue", "actions": leaves(doc, [f"q{q}t{i}" for i in range(100)])}
json.dump(doc, open(f"{sys.argv[1]}/queues-1000x100.json", "w"))
EOF
for NAME in queue-1000 queue-10000 queue-100000 queues-1000x100; do
  hyperfine --runs 3 -N -n "$NAME" "taskset -c $CORE $PROGRAM --workflow=$WORK/$NAME.json --disablesecurity"
done
