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
parsed_bounded: a document of small items, on every path a document is
fetched by (the command line's file:// and http://, WorkflowRun, the child of
an http:// parent, Macro), runs at 1 MiB and is refused at 16 MiB with the
process's memory budget in the words, each below 512 MiB of peak RSS; a
file:// document obeys limitBodySize; a task holding a million empty objects
is refused before its copy is made.
records_bounded: twenty nested runs in a row, each a task of 16 MiB, succeed below 160 MiB of peak:
a finished task's record, kept 30 s, holds no copy of its definition, and a completed child gives back
its document (held to the parent's end, twelve of them passed the budget).
Exit status 0 when the case holds.
"""
import functools
import http.server
import json
import os
import subprocess
import threading
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


def peak_run(arguments):
    """Runs the program: exit code, summary, peak RSS in MiB (of this child alone)."""
    child = subprocess.Popen([PROGRAM] + arguments + ["--disablesecurity"], stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, text=True)
    output = child.stdout.read()
    _, status, usage = os.wait4(child.pid, 0)
    child.returncode = os.waitstatus_to_exitcode(status)
    lines = [line for line in output.splitlines() if line.strip()]
    return child.returncode, json.loads(lines[-1]) if lines else {}, usage.ru_maxrss // 1024


def case_parsed_bounded():
    budget = "memory budget of 256 MiB"
    with open(PROGRAM, "rb") as program_file:
        sanitized = b"libasan.so" in program_file.read(1 << 20)
    with tempfile.TemporaryDirectory() as directory:
        def save(name, text):
            with open(os.path.join(directory, name), "w") as handle:
                handle.write(text)
        class Quiet(http.server.SimpleHTTPRequestHandler):
            def log_message(self, *_):
                pass
        server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), functools.partial(Quiet, directory=directory))
        threading.Thread(target=server.serve_forever, daemon=True).start()
        web = "http://127.0.0.1:%d/" % server.server_address[1]
        try:
            rows = []
            for mib in (1, 16):
                items = ",".join(["0"] * (mib * 1024 * 512))
                save("d%d.json" % mib, '{"start": {"type": "Log", "message": "ran"}, "z": [%s]}' % items)
                save("m%d.json" % mib, '{"answer": "42", "z": [%s]}' % items)
                for kind, url in (("WorkflowRun", web + "d%d.json" % mib), ("Macro", web + "m%d.json" % mib)):
                    save("%s%d.yaml" % (kind, mib), "start:\n  type: %s\n  url: %s\n" % (kind, url))
                words = None if mib == 1 else budget
                rows += [(["--workflow=" + os.path.join(directory, "d%d.json" % mib)], words),
                         (["--workflow=" + web + "d%d.json" % mib], words),
                         (["--workflow=" + os.path.join(directory, "WorkflowRun%d.yaml" % mib)], words),
                         (["--workflow=" + web + "WorkflowRun%d.yaml" % mib], words),
                         (["--workflow=" + os.path.join(directory, "Macro%d.yaml" % mib)], words)]
            save("limited.yaml", "start:\n  type: WorkflowRun\n  limitBodySize: 1048576\n  url: file://%s/d16.json\n"
                 % directory)
            save("empty.json", json.dumps({"start": {"type": "Log", "message": "m", "carried": [{}] * 1000000}}))
            rows += [(["--workflow=" + os.path.join(directory, "limited.yaml")], "past the body limit of 1048576"),
                     (["--workflow=" + os.path.join(directory, "empty.json")], (budget, "Task_Error_TooMany"))]
            for arguments, words in rows:
                code, summary, peak = peak_run(arguments)
                errors = summary.get("errors", [])
                wanted = (words,) if isinstance(words, str) else words or ()
                held = code == (1 if words else 0) and all(any(w in e for e in errors) for w in wanted)
                # AddressSanitizer's shadow and quarantine are no part of the program's cost.
                if not held or (peak >= 512 and not sanitized):
                    fail("%s: exit %d, %d MiB peak, %s" % (arguments[0], code, peak, json.dumps(summary)[:400]))
        finally:
            server.shutdown()
            server.server_close()


def case_records_bounded():
    with open(PROGRAM, "rb") as program_file, tempfile.TemporaryDirectory() as directory:
        sanitized = b"libasan.so" in program_file.read(1 << 20)
        document = {"start": {"type": "Queue", "actions": ["r%d" % index for index in range(20)]}}
        for name in document["start"]["actions"]:
            with open(os.path.join(directory, name), "w") as handle:
                json.dump({"start": {"type": "Log", "message": name, "carried": name + "x" * (16 << 20)}}, handle)
            document[name] = {"type": "WorkflowRun", "url": "file://" + os.path.join(directory, name)}
        with open(os.path.join(directory, "runs.json"), "w") as handle:
            json.dump(document, handle)
        code, summary, peak = peak_run(["--workflow=" + os.path.join(directory, "runs.json")])
    # Growth with the runs would pass the budget (256 MiB) or the bound: one child's copies at a time are held.
    if code != 0 or summary.get("successful") is not True or (peak >= 160 and not sanitized):
        fail("exit %d, %d MiB peak, %s" % (code, peak, json.dumps(summary)[:400]))


CASES = {"names_whole": case_names_whole, "arguments_bounded": case_arguments_bounded,
         "parsed_bounded": case_parsed_bounded, "records_bounded": case_records_bounded}

if __name__ == "__main__":
    CASES[CASE]()
    sys.exit(0)
