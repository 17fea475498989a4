#!/usr/bin/env python3
"""Instructions (callgrind) of the hot paths whatever is added to them must not show in.

- The JSON load of each compared document into a Dictionary (its own storage),
  beside RapidJSON's DOM parse of the same bytes keeping numbers as text (what
  the Dictionary stores): json_bench's JsonLoad and RapidJsonParse rows, one
  warm load each, the calls alone.
- 200,000 allocations and frees of 16 bytes through the runtime's allocator on
  1 and on 8 threads: memory_bench's rows with those iterations, the
  Memory_AllocInt and Memory_FreeInt calls alone, per pair.

Instruction counts hardly move from run to run, unlike times, so a change of
the hot path shows as a change of these figures. Goal: within 2% of the
figures the README states, kept in hot_path_instructions.json beside this
script (GCC 12, glibc 2.36) and compared with by default. --save writes this
run's figures to a file, --against compares with another one.

    bench/runtime/hot_path_instructions.py [build folder] [--save FILE] [--against FILE]
"""
import argparse
import json
import os
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
# json_bench's shape numbers of the compared documents.
SHAPES = {"mixed": 0, "numbers": 1, "strings": 2, "deep": 3, "twitter": 8, "package-index": 6, "geojson": 7}
ALLOWED = 0.02


def count(program, row, functions, work):
    """Instructions inside the given functions while the one row runs, and its iterations."""
    out = os.path.join(work, "callgrind.out")
    command = ["valgrind", "--tool=callgrind", f"--callgrind-out-file={out}", "--collect-atstart=no"]
    command += [f"--toggle-collect={function}" for function in functions]
    command += [program, f"--benchmark_filter=^{row}$", "--benchmark_min_time=0.000001",
                "--benchmark_format=json"]
    run = subprocess.run(command, capture_output=True, text=True, cwd=work)
    if run.returncode != 0:
        sys.exit(f"{' '.join(command)} failed: {run.stderr.strip()[-600:]}")
    rows = json.loads(run.stdout)["benchmarks"]
    if len(rows) != 1 or "error_occurred" in rows[0]:
        sys.exit(f"{row}: expected one row that ran, got {rows}")
    with open(out) as data:
        totals = [int(line.split()[1]) for line in data if line.startswith(("summary:", "totals:"))]
    if not totals or totals[0] == 0:
        sys.exit(f"{row}: callgrind counted nothing in {functions}")
    return totals[0], rows[0]["iterations"]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build", nargs="?", default=os.path.join(ROOT, "build/release"))
    parser.add_argument("--save")
    parser.add_argument("--against", default=os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                          "hot_path_instructions.json"))
    arguments = parser.parse_args()
    bench = os.path.join(arguments.build, "bench")
    figures = {}
    with tempfile.TemporaryDirectory() as work:
        for shape, number in SHAPES.items():
            ours, loads = count(f"{bench}/json_bench", f"JsonLoad/shape:{number}/pool:0",
                                ["(anonymous namespace)::LoadOnce(*"], work)
            theirs, parses = count(f"{bench}/json_bench", f"RapidJsonParse/shape:{number}/text:1",
                                   ["(anonymous namespace)::RapidJsonParseOnce(*"], work)
            figures[f"json load {shape}"] = ours / loads
            figures[f"rapidjson {shape}"] = theirs / parses
            print(f"JSON load {shape:<14} {ours / loads:>13,.0f} instructions, RapidJSON {theirs / parses:>13,.0f}: "
                  f"{ours / loads / (theirs / parses):.2f} times")
        for threads, row in ((1, "Untracked/16/iterations:200000"),
                             (8, "UntrackedThreaded/16/iterations:25000/real_time/threads:8")):
            total, _ = count(f"{bench}/memory_bench", row, ["Memory_AllocInt*", "Memory_FreeInt*"], work)
            figures[f"alloc free {threads} threads"] = total / 200000
            print(f"Allocation and free, {threads} thread{'s' if threads > 1 else ' '}: "
                  f"{total / 200000:,.1f} instructions a pair (200,000 pairs)")
    if arguments.save:
        with open(arguments.save, "w") as file:
            json.dump(figures, file, indent=1)
    with open(arguments.against) as file:
        before = json.load(file)
    worst = 0.0
    for name, figure in figures.items():
        if name.startswith("rapidjson") or name not in before:
            continue
        change = figure / before[name] - 1
        worst = max(worst, change)
        print(f"{name:<28} {change:+.2%} against {arguments.against}")
    print(f"worst {worst:+.2%}, goal at most {ALLOWED:+.0%}: {'met' if worst <= ALLOWED else 'MISSED'}")
    return 0 if worst <= ALLOWED else 1


sys.exit(main())
