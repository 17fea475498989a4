#!/usr/bin/python3
"""Hostile workflow documents through the built program.

Usage: host_docs_check.py <program> <case>
names_whole: a task's "type" or a "template" name that holds a NUL names
nothing, never the type or template its first bytes name: the type fails
the task's creation with the reason, the template leads nowhere.
arguments_bounded: a chain that carries a large argument down its levels
(each task keeps its own copy of its definition) ends with Task_Error_TooMany
naming the process's memory budget, long before the depth limit
would, rather than hold a thousand copies (gigabytes); so does an Aggregate
whose content would queue thousands of copies of a large definition.
Exit status 0 when the case holds.
"""
import json
import os
import subprocess
import sys
import tempfile

PROGRAM, CASE = sys.argv[1], sys.argv[2]


def fail(reason):
    sys.stderr.write("%s: %s\n" % (CASE, reason))
    sys.exit(1)


def run(directory, text, name):
    """Writes the document text and runs it: exit code, summary."""
    path = os.path.join(directory, name)
    with open(path, "w") as handle:
        handle.write(text)
    try:
        done = subprocess.run([PROGRAM, "--workflow=" + path, "--disablesecurity"], capture_output=True, text=True,
                              timeout=120)
    except subprocess.TimeoutExpired:
        fail("%s did not end" % name)
    lines = [line for line in done.stdout.splitlines() if line.strip()]
    try:
        summary = json.loads(lines[-1]) if lines else {}
    except ValueError:
        fail("%s: the last line is no summary: %r" % (name, lines[-1]))
    return done.returncode, summary


def case_names_whole():
    # Each row: the file name, the document, words one of the summary's errors holds.
    rows = [
        ("type.json", '{"start": {"type": "Log\\u0000x", "message": "wrong type ran"}}',
         '"type" holds a NUL byte'),
        ("template.json", '{"start": {"type": "Log", "template": "t\\u0000x"}, "t": {"message": "wrong template"}}',
         'Missing argument "message"'),
        ("templates.json", '{"start": {"type": "Log", "template": ["t\\u0000x"]}, '
                           '"t": {"message": "wrong template"}}', 'Missing argument "message"'),
    ]
    with tempfile.TemporaryDirectory() as directory:
        for name, text, words in rows:
            code, summary = run(directory, text, name)
            errors = summary.get("errors", [])
            if code != 1 or summary.get("successful") is not False or not any(words in e for e in errors):
                fail("%s: exit %d, %s (wanted a failure saying %s)" % (name, code, json.dumps(summary), words))


def case_arguments_bounded():
    # Each row: the file name, the document, how the refusal reads. The chains
    # carry a large argument down their levels; the Aggregate would queue a
    # copy of a large definition per entry of its content before any runs.
    def chain(big):
        return {"start": {"type": "Log", "message": "m", "carried": big, "complete": "start"}}
    run_words, queue_words = 'task "start" not run: its arguments', 'task "b" not queued: its arguments'
    rows = [("list.json", chain(["a"] * 20000), run_words), ("text.json", chain("x" * 300000), run_words),
            ("object.json", chain({"k%d" % i: i for i in range(20000)}), run_words),
            ("aggregate.json", {"start": {"type": "Aggregate", "content": {"b": [{}] * 20000}},
                                "b": {"type": "Log", "message": "m", "carried": "x" * 100000}}, queue_words)]
    with tempfile.TemporaryDirectory() as directory:
        for name, document, words in rows:
            code, summary = run(directory, json.dumps(document), name)
            errors = summary.get("errors", [])
            refused = any(words in e and "memory budget of 256 MiB" in e for e in errors)
            if code != 1 or errors[:1] != ["Task_Error_TooMany"] or not refused:
                fail("%s: exit %d, %s" % (name, code, json.dumps(summary)[:600]))


CASES = {"names_whole": case_names_whole, "arguments_bounded": case_arguments_bounded}

if __name__ == "__main__":
    CASES[CASE]()
    sys.exit(0)
