#!/usr/bin/python3
"""Task arguments read as written, through the built program.

Usage: host_args_check.py <program> <case>
text_limits: a text argument that names a file, a URL, a key or a task and
does not fit its limit (stored or once expanded), or holds a NUL, fails its
task with Task_Error_InvalidArg naming the argument and the limit; nothing
acts on a shortened value (an Implode deletes no other file).
this_as_written: {this} (any case, with an argument too) in a task's text
stays as written, never a copy of the text in front of it.
numbers_as_written: a number is read as the number it is (stored as a
number, or a text with an exponent); a value that is no finite number, or
does not fit where it goes, fails its task with Task_Error_InvalidArg.
failing_branches_fail: a Singleton whose "missing" branch fails, and a
comparison whose "notEqualTo" branch fails before a "lessThan" or
"greaterThan" that succeeds, end unsuccessful with the branch's error.
documents_said_where: a self-update's child without "apply" is named by its
URL; a YAML file with a second document says where; a doc.yaml that links
to real.txt is read as YAML (the name given decides the reader).
Exit status 0 when the case holds.
"""
import json
import os
import subprocess
import sys
import tempfile

PROGRAM, CASE = sys.argv[1], sys.argv[2]


def invalid(errors):
    """Whether one error is a refusal: the identifier with its words."""
    return any(e.startswith("Task_Error_InvalidArg: ") for e in errors)


is_invalid = invalid


def fail(reason):
    sys.stderr.write("%s: %s\n" % (CASE, reason))
    sys.exit(1)


def run(directory, document, name="doc.json", switches=()):
    """Writes the document (a dict as JSON, a str as is) and runs it: exit
    code, summary, stderr."""
    path = os.path.join(directory, name)
    with open(path, "w") as handle:
        handle.write(document if isinstance(document, str) else json.dumps(document))
    try:
        done = subprocess.run([PROGRAM, "--workflow=" + path, "--disablesecurity"] + list(switches),
                              capture_output=True, text=True, timeout=120)
    except subprocess.TimeoutExpired:
        fail("%s did not end" % name)
    lines = [line for line in done.stdout.splitlines() if line.strip()]
    return done.returncode, json.loads(lines[-1]) if lines else {}, done.stderr


def refused(directory, document, words, label):
    """The run fails, its summary holding Task_Error_InvalidArg and the words."""
    code, summary, stderr = run(directory, document)
    errors = summary.get("errors", [])
    if code != 1 or not invalid(errors) or not any(words in e for e in errors):
        fail("%s: exit %d, %s, stderr %r" % (label, code, summary, stderr[-400:]))
    return summary


def long_path(directory, length):
    """A path of exactly length characters inside directory, its folders made."""
    parts, total = [directory], len(directory)
    while length - total > 101:
        parts.append("d" * 100)
        total += 101
    parts.append("f" * (length - total - 1))
    path = "/".join(parts)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    assert len(path) == length
    return path


def case_text_limits():
    with tempfile.TemporaryDirectory() as directory:
        victim = long_path(directory, 319)
        small = os.path.join(directory, "victim.txt")
        url = "file://" + directory + "/" + "./" * 2100 + "m.json"
        name = "n" * 330
        child = os.path.join(directory, "child.yaml")
        with open(child, "w") as handle:
            handle.write("start:\n  type: Error\n  message: a ran\n")
        # Each row: a label, the document, the words the summary must hold.
        rows = [
            ("implode cut path", {"start": {"type": "Implode", "path": victim + ".bak"}}, "limit of 319"),
            ("implode expanded path", {"start": {"type": "Implode", "path": "{this.args.p}.bak", "p": victim}},
             "once expanded, past its limit of 319"),
            ("implode NUL", {"start": {"type": "Implode", "path": small + "\0.bak"}}, "NUL"),
            ("macro url", {"start": {"type": "Macro", "url": url}}, "limit of 4095"),
            ("aggregate url", {"start": {"type": "Aggregate", "url": url}}, "limit of 4095"),
            ("aggregate target", {"start": {"type": "Aggregate", "target": "t" * 400, "content": {"a": {}}}},
             "limit of 319"),
            ("singleton name", {"start": {"type": "Singleton", "name": name + "a", "missing": "ok"},
                                "ok": {"type": "Log", "message": "ok"}}, "limit of 119"),
            ("environment key", {"start": {"type": "EnvironmentSet", "key": "K" * 131, "value": "x"}},
             "limit of 119"),
            ("environment pair key", {"start": {"type": "EnvironmentSet", "keyValuePairs": {"{this.args.k}": "x"},
                                                "k": "K" * 131}}, "limit of 119"),
            ("environment key =", {"start": {"type": "EnvironmentSet", "key": "A=B", "value": "x"}},
             "names no environment variable"),
            ("environment key empty", {"start": {"type": "EnvironmentSet", "key": "", "value": "x"}},
             "names no environment variable"),
            ("environment pair empty", {"start": {"type": "EnvironmentSet", "keyValuePairs": {"": "x"}}},
             "names no environment variable"),
            ("environment value NUL", {"start": {"type": "EnvironmentSet", "key": "K", "value": "a\0b"}}, "NUL"),
            ("queue action NUL", {"start": {"type": "Queue", "actions": ["a\0b"]},
                                  "a": {"type": "Error", "message": "a ran"}}, "NUL"),
            ("queue action long", {"start": {"type": "Queue", "actions": ["a" * 320]}}, "limit of 119"),
            ("branch NUL", {"start": {"type": "NumberCompare", "numberOne": 1, "numberTwo": 1,
                                      "equalTo": "a\0b"}, "a": {"type": "Error", "message": "a ran"}}, "NUL"),
            ("notification event", {"start": {"type": "Notification", "event": "E." + "e" * 400}}, "limit of 319"),
            ("macro key NUL", {"start": {"type": "Macro", "key": "a\0b", "value": "x"}}, "NUL"),
            ("run entry", {"start": {"type": "WorkflowRun", "url": "file://" + child, "start": "s" * 400}},
             "limit of 319"),
            ("run url", {"start": {"type": "WorkflowRun", "url": url}}, "limit of 4095"),
            ("run url NUL", {"start": {"type": "WorkflowRun", "url": "file://" + child + "\0.bak"}}, "NUL"),
        ]
        for label, document, words in rows:
            for path in (victim, small):
                with open(path, "w") as handle:
                    handle.write("keep")
            summary = refused(directory, document, words, label)
            if "a ran" in summary.get("errors", []):
                fail("%s: ran the task a cut name names" % label)
            if not os.path.exists(victim) or not os.path.exists(small):
                fail("%s: a file the cut path names was deleted" % label)
        # A name that fits is still taken whole: the limit itself is no fault.
        code, summary, stderr = run(directory, {"start": {"type": "Implode", "path": victim}})
        if code != 0 or os.path.exists(victim):
            fail("a path of 319 characters: exit %d, %s, stderr %r" % (code, summary, stderr[-400:]))
        # An "ignoreError" that cannot be read ignores nothing: it is refused
        # before the task acts, once (the error check that reads it does not
        # refuse it again, which would add an error, which reads it again).
        for flag in ("x\0y", "t" * 400):
            code, summary, stderr = run(directory, {"start": {"type": "Error", "message": "boom",
                                                              "ignoreError": flag}})
            if code != 1 or len(summary.get("errors", [])) != 1 or not invalid(summary["errors"]):
                fail("ignoreError %r: exit %d, %s, stderr %r" % (flag[:8], code, summary, stderr[-400:]))


def case_this_as_written():
    with tempfile.TemporaryDirectory() as directory:
        message = "XYZ{this}|abc{this}{THIS}{this:x}"
        code, summary, stderr = run(directory, {"start": {"type": "Error", "message": message}})
        if code != 1 or summary.get("errors") != [message]:
            fail("Error message: exit %d, %s, stderr %r" % (code, summary, stderr[-400:]))
        # The path in "unload", as written, is the file deleted.
        for name in ("keep{this}", "keepkeep"):
            with open(os.path.join(directory, name), "w") as handle:
                handle.write("keep")
        code, summary, stderr = run(directory, {"start": {"type": "Log", "message": "hi"},
                                                "unload": {"type": "Implode",
                                                           "path": os.path.join(directory, "keep{this}")}})
        if code != 0 or os.path.exists(os.path.join(directory, "keep{this}")) or \
                not os.path.exists(os.path.join(directory, "keepkeep")):
            fail("Implode of keep{this}: exit %d, %s, stderr %r, left %s" % (code, summary, stderr[-400:],
                                                                           sorted(os.listdir(directory))))


def case_numbers_as_written():
    end = lambda code: {"start": {"type": "End", "exitCode": code}}
    branch = {"eq": {"type": "End", "exitCode": 10}, "lt": {"type": "End", "exitCode": 11},
              "gt": {"type": "End", "exitCode": 12}}
    compare = lambda kind, one, two: dict({"start": {"type": kind + "Compare", kind.lower() + "One": one,
                                                     kind.lower() + "Two": two, "equalTo": "eq", "lessThan": "lt",
                                                     "greaterThan": "gt"}}, **branch)
    shutdown = lambda code: {"start": {"type": "Notification", "event": "WorkflowApp.Shutdown",
                                       "content": {"exitCode": code}}}
    # Each row: the document (a dict or "{..." as JSON, another str as YAML) and the exit code
    # it ends with; 1 with Task_Error_InvalidArg in its summary.
    raw = '{"start": {"type": "End", "exitCode": %s}}'
    rows = [(raw % "2.5e2", 250), (raw % "1e10", 1), (raw % "1e308", 1), (raw % "-1e400", 1),
            (end(2.5e2), 250), (end("2.5e2"), 250), (end("-1.5E1"), -15 & 255),
            ("start:\n  type: End\n  exitCode: 1e2\n", 100),
            (compare("Number", 1e3, "1000"), 10), (compare("Number", "1e3", 999), 12),
            (compare("Number", 1e308, 1), 12),
            (end(1e10), 1), (end("1e10"), 1), (end(1e308), 1), (end("abc"), 1), (end("nan"), 1),
            (end("inf"), 1), (end("1.2.3"), 1), (end([1]), 1),
            ("start:\n  type: End\n  exitCode: .inf\n", 1), ("start:\n  type: End\n  exitCode: .nan\n", 1),
            ({"start": {"type": "Sleep", "seconds": "soon"}}, 1), ("start:\n  type: Sleep\n  seconds: 1e999\n", 1),
            (compare("Number", "many", 1), 1), (compare("Number", 1, "-inf"), 1),
            ({"start": {"type": "Queue", "actions": ["eq"], "concurrentTasks": 4294967297}, "eq": branch["eq"]}, 1),
            ({"start": {"type": "Progress", "actions": ["eq"], "maxPercentage": "most"}, "eq": branch["eq"]}, 1),
            (compare("Version", "4294967296", "1.2"), 1), (compare("Version", "1.2.3.4294967296", "1.2.3"), 1),
            (compare("Version", "2147483647", "1.2"), 12),
            (shutdown(4294967296), 1), (shutdown(2147483648), 1), (shutdown(3), 3)]
    with tempfile.TemporaryDirectory() as directory:
        for document, expected in rows:
            name = "doc.yaml" if isinstance(document, str) and not document.startswith("{") else "doc.json"
            code, summary, stderr = run(directory, document, name)
            invalid = is_invalid(summary.get("errors", []))
            if code != expected or (expected == 1) != invalid:
                fail("%r: exit %d, not %d; %s, stderr %r" % (document, code, expected, summary, stderr[-400:]))


def case_failing_branches_fail():
    tasks = {"bad": {"type": "Error", "message": "bad ran"}, "fine": {"type": "Log", "message": "fine"}}
    rows = [{"start": {"type": "Singleton", "name": "host-args-%d" % os.getpid(), "missing": "bad"}},
            {"start": {"type": "NumberCompare", "numberOne": 1, "numberTwo": 2, "notEqualTo": "bad",
                       "lessThan": "fine"}},
            {"start": {"type": "StringCompare", "stringOne": "b", "stringTwo": "a", "notEqualTo": "bad",
                       "greaterThan": "fine"}},
            {"start": {"type": "VersionCompare", "versionOne": "1.2", "versionTwo": "1.10", "notEqualTo": "bad",
                       "lessThan": "fine"}}]
    with tempfile.TemporaryDirectory() as directory:
        for document in rows:
            document.update(tasks)
            code, summary, stderr = run(directory, document)
            if code != 1 or summary.get("successful") is not False or "bad ran" not in summary.get("errors", []):
                fail("%r: exit %d, %s, stderr %r" % (document["start"], code, summary, stderr[-400:]))


def case_documents_said_where():
    with tempfile.TemporaryDirectory() as directory:
        child = os.path.join(directory, "child.yaml")
        with open(child, "w") as handle:
            handle.write("start:\n  type: Log\n  message: hi\n")
        parent = "apply:\n  type: WorkflowRun\n  url: 'file://%s'\n" % child
        code, summary, stderr = run(directory, parent, "parent.yaml", ["--wfselfupdate"])
        if code != 1 or 'the workflow file://%s has no "apply" task' % child not in summary.get("errors", []):
            fail("self-update child: exit %d, %s, stderr %r" % (code, summary, stderr[-400:]))
        code, summary, stderr = run(directory, "start:\n  type: End\n  exitCode: 3\n---\nother: 1\n", "two.yaml")
        if code != 1 or not any("Second document" in e and "at line 4, column 1" in e for e in summary.get("errors", [])):
            fail("second document: exit %d, %s, stderr %r" % (code, summary, stderr[-400:]))
        with open(os.path.join(directory, "real.txt"), "w") as handle:
            handle.write("start:\n  type: End\n  exitCode: 3\n")
        os.symlink("real.txt", os.path.join(directory, "link.yaml"))
        done = subprocess.run([PROGRAM, "--workflow=" + os.path.join(directory, "link.yaml"), "--disablesecurity"],
                              capture_output=True, text=True, timeout=120)
        if done.returncode != 3:
            fail("link.yaml to real.txt: exit %d, %r %r" % (done.returncode, done.stdout[-400:], done.stderr[-400:]))


CASES = {name[5:]: function for name, function in globals().items() if name.startswith("case_")}
if CASE not in CASES:
    fail("unknown case")
CASES[CASE]()
