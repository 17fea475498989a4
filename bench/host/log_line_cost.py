#!/usr/bin/env python3
"""What a log line costs the built program, in instructions (callgrind).

A Queue of 1,000 and of 10,000 trivial Log tasks runs once without and once
with --debug; the instructions the --debug run adds, over the lines its log
file holds, are what a line costs: its making, its masking and its write.
Goal: at most 1,780 instructions a line (1.5 times the 1,190 a line cost
before lines were masked).

    bench/host/log_line_cost.py [path of the built velmarsh]
"""
import json
import os
import re
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
PROGRAM = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build/release/host/velmarsh")
GOAL = 1780


def instructions(work, arguments):
    out = os.path.join(work, "callgrind.out")
    run = subprocess.run(["valgrind", "--tool=callgrind", f"--callgrind-out-file={out}", PROGRAM] + arguments,
                         cwd=work, capture_output=True, text=True)
    if run.returncode != 0:
        sys.exit(f"{PROGRAM} {' '.join(arguments)} failed: {run.stderr.strip()[-400:]}")
    with open(out) as data:
        for line in data:
            if line.startswith("summary:") or line.startswith("totals:"):
                return int(line.split()[1])
    sys.exit("callgrind wrote no totals")


def main():
    worst = 0
    with tempfile.TemporaryDirectory() as work:
        for count in (1000, 10000):
            names = [f"t{index}" for index in range(count)]
            document = {name: {"type": "Log", "message": ""} for name in names}
            document["start"] = {"type": "Queue", "actions": names}
            path = os.path.join(work, f"queue-{count}.json")
            with open(path, "w") as file:
                json.dump(document, file)
            base = [f"--workflow={path}", "--disablesecurity"]
            plain = instructions(work, base)
            logs = os.path.join(work, f"logs-{count}")
            os.mkdir(logs)
            debug = instructions(work, base + ["--debug", f"--debugdir={logs}"])
            lines = 0
            for name in os.listdir(logs):
                with open(os.path.join(logs, name), "rb") as file:
                    lines += file.read().count(b"\n")
            cost = (debug - plain) / lines
            worst = max(worst, cost)
            print(f"Queue of {count:>6} Log tasks: {plain:>13,} instructions, with --debug {debug:>13,}; "
                  f"{lines:,} lines, {cost:,.0f} instructions a line")
    print(f"worst {worst:,.0f} instructions a line, goal at most {GOAL:,}: {'met' if worst <= GOAL else 'MISSED'}")
    return 0 if worst <= GOAL else 1


sys.exit(main())
