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
declared_table: every argument each task type declares (read from the
declarations themselves) is tried at its limit (taken), one past it, with a
NUL written and through a macro, past its limit through a macro, and as a
value of another kind (each refused with one Task_Error_InvalidArg that
names it, and nothing of the task runs).
refusals_are_errors: a refusal is one error, which "ignoreError" ignores
like any other: the task then completes without acting, and the run goes on.
macro_stores: every caller of a macro's store (read from the sources) refuses a value with a NUL
or past a value's width with its own length: the macro is not set, a log line or its task says why.
Exit status 0 when the case holds.
"""
import concurrent.futures
import json
import os
import re
import shutil
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
        # Kept whole inside another macro: the outer one takes "{this}" as its argument.
        code, summary, stderr = run(directory, {"start": {"type": "Error", "message": "{Base64Encode:{this}}"}})
        if code != 1 or summary.get("errors") != ["e3RoaXN9"]:
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


SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "workflow", "task_arguments.cpp")
# A valid value for each required argument the types declare.
BASE = {"seconds": 0, "message": "m", "event": "X.Y", "stringOne": "a", "stringTwo": "b", "numberOne": 1,
        "numberTwo": 2, "versionOne": "1.2", "versionTwo": "1.3", "name": "host-args-%d" % os.getpid(), "actions": []}
# A value of a kind the argument does not take, by declared kind.
WRONG = {"Number": {"x": 1}, "Whole": {"x": 1}, "Texts": "text", "TextOrTexts": {"x": 1}, "Flags": {"x": 1},
         "Object": [1], "Headers": [1], "Pairs": [1], "Content": 5, "Payload": 5}


def declarations():
    """(type, name, kind, limit, least, as written) for every declared argument."""
    text = open(SOURCE).read()
    tables = {}
    for table, body in re.findall(r"constexpr TaskArgument (\w+)\[\] = \{(.*?)\n\};", text, re.S):
        tables[table] = [(m.group(1), m.group(2), int(m.group(3)), int(m.group(4) or 0), bool(m.group(5)))
                         for m in re.finditer(r'\.Name = "(\w+)", \.Kind = K::(\w+), \.Limit = (\d+)'
                                              r'(?:, \.Least = (-?\d+)(?:LL)?)?[^}]*?(\.AsWritten = true)?\}', body)]
    types = re.findall(r'\{"(\w+)", (\w+Arguments)\}', text)
    rows = [(kind, *each) for kind, table in types for each in tables[table]]
    rows += [("Log", *each) for each in tables["Common"]]
    if len(types) < 20 or len(rows) < 100:
        fail("the declarations were not found in %s" % SOURCE)
    return rows


def filler(length):
    return ("ab." * length)[:length]


def holder(kind, value):
    """The value placed where the kind reads texts: the argument, an element or a member."""
    if kind in ("Texts", "Flags"):
        return [value]
    if kind in ("Object", "Headers", "Pairs"):
        return {"X-A": value}
    return value


def table_rows(directory):
    """Each row: a label, the task's arguments, what the summary must show (None: no refusal naming it)."""
    child = os.path.join(directory, "child.json")
    with open(child, "w") as handle:
        json.dump({"start": {"type": "Log", "message": "c"}}, handle)
    rows = []
    for task, name, kind, limit, least, written in declarations():
        base = dict((key, value) for key, value in BASE.items() if key != name)
        base["type"] = task
        if task == "WorkflowRun" and name != "url":
            base["url"] = "file://" + child
        quoted = '"%s"' % name
        cases = []
        if kind == "Whole":
            cases += [("at limit", limit, None), ("one past", limit + 1, "a whole number from"),
                      ("below least", least - 1, "a whole number from")]
        elif kind in ("Number", "Version"):
            cases += [("at limit", "0" * (limit - 1) + "1", None),
                      ("one past", "0" * limit + "1", "is %d bytes, past its limit of %d" % (limit + 1, limit))]
        elif kind in ("Content", "Payload"):
            cases += [("at limit", "[" + " " * (limit - 2) + "]", None),
                      ("one past", "[" + " " * (limit - 1) + "]", "past its limit of %d" % limit)]
        elif kind != "Boolean":
            cases += [("at limit", holder(kind, filler(limit)), None),
                      ("one past", holder(kind, filler(limit + 1)), "past its limit of %d" % limit)]
        cases += [("NUL written", holder(kind, "1\0.5"), "holds a NUL byte"),
                  ("wrong kind", WRONG.get(kind, [1]), "of task \"start\" is")]
        if not written:
            cases += [("NUL through a macro", holder(kind, "{this.args.nul}"), 'macro "this.args.nul" of task'),
                      ("past through a macro", holder(kind, "{this.args.long}"),
                       "a whole number from" if kind == "Whole" else "past")]
        if kind == "Whole":
            long = str(limit + 1)
        elif kind in ("Number", "Version"):
            long = "0" * limit + "1"
        else:
            long = "[" + " " * (limit - 1) + "]" if kind in ("Content", "Payload") else filler(limit + 1)
        for label, value, words in cases:
            arguments = dict(base, **{name: value, "nul": "1\0.5", "long": long})
            rows.append(("%s %s %s" % (task, name, label), arguments, quoted, words))
    return rows


def table_row(directory, index, row, document=None, task="start"):
    """A row placed directly or in document, where task holds it: refused once, or for a value taken, not."""
    label, arguments, quoted, words = row
    place = os.path.join(directory, "r%d" % index)
    os.mkdir(place)
    path = os.path.join(place, "doc.json")
    with open(path, "w") as handle:
        json.dump(dict(document or {"start": arguments}, after={"type": "Error", "message": "a branch ran"}), handle)
    done = subprocess.run([PROGRAM, "--workflow=" + path, "--disablesecurity"], capture_output=True, text=True,
                          timeout=120, cwd=place)
    lines = [line for line in done.stdout.splitlines() if line.strip()]
    errors = json.loads(lines[-1]).get("errors", []) if lines else ["no summary"]
    refusals = [e for e in errors if e.startswith("Task_Error_InvalidArg: ")]
    if words is None:
        return None if not any(quoted in e for e in refusals) else "%s: refused: %s" % (label, errors)
    if done.returncode == 0 or len(refusals) != 1 or words.replace('"start"', '"%s"' % task) not in refusals[0] \
            or len(errors) != 1:
        return "%s: exit %d, %s" % (label, done.returncode, [e[:200] for e in errors])
    return None


def case_declared_table():
    with tempfile.TemporaryDirectory() as directory:
        rows = table_rows(directory)
        with concurrent.futures.ThreadPoolExecutor(4) as pool:
            faults = [f for f in pool.map(lambda item: table_row(directory, *item), enumerate(rows)) if f]
        if faults:
            fail("%d of %d rows:\n%s" % (len(faults), len(rows), "\n".join(faults[:40])))


def case_refusals_are_errors():
    """Each row: a label, the document (a dict, or raw JSON text), the exit code, a test of the errors."""
    with tempfile.TemporaryDirectory() as directory:
        victim = os.path.join(directory, "victim")
        end3 = {"type": "End", "exitCode": 3}
        one = lambda words: lambda errors: len(errors) == 1 and invalid(errors) and words in errors[0]
        none = lambda errors: errors == []
        ignored = ["Task_Error_InvalidArg"]
        refused_tasks = [{"type": "NumberCompare", "numberOne": "abc", "numberTwo": 1},
                         {"type": "Sleep", "seconds": "x"}, {"type": "End", "exitCode": 1.5},
                         {"type": "Queue", "actions": [], "concurrentTasks": 0.5},
                         {"type": "VersionCompare", "versionOne": "1..2", "versionTwo": "1"},
                         {"type": "Log", "message": "a\0b"}, {"type": "EnvironmentSet", "key": "A=B", "value": "v"},
                         {"type": "Singleton", "name": "s" * 320, "missing": "end"}]
        rows = [("ignored %s" % task["type"], {"start": {"type": "Queue", "actions": ["a", "end"]},
                                               "a": dict(task, ignoreError=flag), "end": end3}, 3, none)
                for task in refused_tasks for flag in (ignored, True)]
        rows += [
            ("compare refused", {"start": {"type": "StringCompare", "stringOne": "a", "stringTwo": "b",
                                           "ignoreCase": "x" * 400, "notEqualTo": "end"}, "end": end3}, 1,
             one('"ignoreCase" of task "start" is 400 bytes')),
            ("shutdown refused", {"start": {"type": "Shutdown", "exitCode": 5, "selfUpdate": "a\0"}}, 1,
             one('"selfUpdate"')),
            ("implode title", {"start": {"type": "Implode", "path": victim, "title": "t" * 2000}}, 1, one('"title"')),
            ("macro NUL", {"load": {"type": "Macro", "keyValuePairs": {"p": victim + "\0.bak"}},
                           "start": {"type": "Implode", "path": "{p}"}}, 1, one("holds a NUL byte")),
            ("document macro NUL", {"start": {"type": "Queue", "actions": ["m", "i"]},
                                    "m": {"type": "Macro", "url": "file://" + os.path.join(directory, "m.json")},
                                    "i": {"type": "Implode", "path": "{p}"}}, 1, one('macro "p"')),
            ("event NUL", {"start": {"type": "Notification", "event": "{this.args.e}",
                                     "e": "WorkflowApp.Shutdown\0.Ignored", "content": {"exitCode": 3}}}, 1,
             one('macro "this.args.e"')),
            ("ignore refused", {"start": {"type": "Log", "message": "m", "ignoreError": "{this.args.i}", "i": "yes\0"}}, 1,
             one('macro "this.args.i"')),
            ("exit code empty", {"start": {"type": "End", "exitCode": ""}}, 1, one("is empty, not a number")),
            ("exit code underflow", '{"start": {"type": "End", "exitCode": 1e-400}}', 1, one("told from 0")),
            # Out of range whatever its length, and on the side its digits put it, not its exponent's sign.
            ("exit code long", '{"start": {"type": "End", "exitCode": 0.%s1e-400}}' % ("0" * 330), 1, one("told from 0")),
            ("exit code fraction", '{"start": {"type": "End", "exitCode": 0.%s1}}' % ("0" * 330), 1, one("told from 0")),
            ("exit code huge", '{"start": {"type": "End", "exitCode": 1%se-10}}' % ("0" * 400), 1, one("infinity")),
            ("count underflow", '{"start": {"type": "Queue", "actions": ["e"], "concurrentTasks": 1e-400}, '
                                '"e": {"type": "Error", "message": "ran"}}', 1, one("told from 0")),
            ("actions not texts", {"start": {"type": "Queue", "actions": [1, "end"]}, "end": end3}, 1,
             one("is not a text")),
            ("aggregate cache", {"start": {"type": "Aggregate", "url": "file:///nowhere.json", "cache": "c" * 60}}, 1,
             one('"cache"')),
            ("run cache", {"start": {"type": "WorkflowRun", "url": "file:///nowhere.json", "authenticate": "a" * 320}},
             1, one('"authenticate"')),
            ("body limit word", {"start": {"type": "Macro", "url": "file:///nowhere.json", "limitBodySize": "abc"}},
             1, one("not a finite number (abc)")),
            ("header name", {"start": {"type": "Macro", "url": "file:///nowhere.json", "headers": {"Bad Name": "x"}}},
             1, one("no header's")),
            ("content cut", {"start": {"type": "Notification", "event": "WorkflowApp.Shutdown",
                                       "content": '{"exitCode": 5'}}, 1, one("does not parse whole")),
            ("content trailing", {"start": {"type": "Notification", "event": "WorkflowApp.Shutdown",
                                            "content": '{"exitCode": 7} trailing'}}, 1, one("does not parse whole")),
            ("singleton empty", {"start": {"type": "Singleton", "name": "{this.args.n}", "n": "", "missing": "end"},
                                 "end": end3}, 1, one("is empty")),
        ]
        rows += [("version %s" % text, {"start": {"type": "VersionCompare", "versionOne": text, "versionTwo": "1.2",
                                                  "equalTo": "end", "notEqualTo": "end"}, "end": end3}, 1,
                  one("is no version")) for text in ("1.2.3.4.5", "1..2", ".", "1.2.")]
        rows += [("target %s" % target, {"start": {"type": "Aggregate", "target": target, "content": [{"type": "End"}]},
                                         "t": {"type": "End", "exitCode": 3, "settings": "text"}}, 1,
                  one("cannot be made an object")) for target in ("t.settings", "t.[0]", "t.[", "t.[]")]
        # A path is read whole, never cut at a width into another place.
        rows.append(("long path", {"load": {"type": "Macro", "keyValuePairs": {"r": "{this.args.List[%s1]}" % ("0" * 1100)},
                                            "list": ["v0", "v1"]},
                                   "start": {"type": "StringCompare", "stringOne": "{r}", "stringTwo": "v1",
                                             "equalTo": "end"}, "end": end3}, 3, none))
        with open(os.path.join(directory, "m.json"), "w") as handle:
            handle.write('{"p": "%s\\u0000.bak"}' % victim)
        for label, document, expected, errors in rows:
            with open(victim, "w") as handle:
                handle.write("keep")
            code, summary, stderr = run(directory, document)
            if code != expected or not errors(summary.get("errors", [])) or not os.path.exists(victim):
                fail("%s: exit %d, %s, stderr %r" % (label, code, summary, stderr[-400:]))


def case_paths_before_check():
    """The table's rows through each path that writes into a definition before its check (a template, "load"
    and a child's, a Notification's start request and its "macros"): refused as placed directly, or no act."""
    with tempfile.TemporaryDirectory() as directory:
        marker, jobs, requests = os.path.join(directory, "marker"), [], []
        for row in table_rows(directory):
            task, arguments = row[1]["type"], dict((k, v) for k, v in row[1].items() if k != "type")
            tag = lambda path: (path + " " + row[0],) + row[1:]
            jobs.append((tag("template"), {"start": {"type": task, "template": "t"}, "t": arguments}, "start"))
            if task == "Macro":  # with a pair's key, which the preparation moves
                document = {"load": dict({"type": task, "key": "k"}, **arguments), "start": {"type": "Log", "message": "s"}}
                child = os.path.join(directory, "c%d.json" % len(jobs))
                with open(child, "w") as handle:
                    json.dump(document, handle)
                jobs += [(tag("load"), document, "load"),
                         (tag("child load"), {"start": {"type": "WorkflowRun", "url": "file://" + child}}, "load")]
            if task == "WorkflowRun" and row[3] is not None:
                requests.append((row[0], {"type": "Notification", "event": "WorkflowRun.Start", "content": arguments}))
        with concurrent.futures.ThreadPoolExecutor(4) as pool:
            faults = list(pool.map(lambda item: table_row(directory, item[0], *item[1]), enumerate(jobs)))
        with open(os.path.join(directory, "child.json"), "w") as handle:
            json.dump({"start": {"type": "Implode", "path": marker}}, handle)
        for label, request in requests:  # refused by the Notification or the run it asks for: no child runs
            open(marker, "w").write("keep")
            run(directory, {"start": request})
            faults.append(None if os.path.exists(marker) else "request %s: the child ran" % label)
        if any(faults):
            fail("%d rows:\n%s" % (len(jobs) + len(requests), "\n".join([f for f in faults if f][:40])))


def case_acts_as_checked():
    """Rows: a label, the document, a page's script (a start request, sent whole), the exit code, whether
    the errors are one refusal, log lines it must and must not hold; the marker stays (nothing else acts)."""
    with tempfile.TemporaryDirectory() as directory:
        marker, logs, page = (os.path.join(directory, name) for name in ("marker", "logs", "p.js"))
        child = "file://" + os.path.join(directory, "child.json")
        with open(child[7:], "w") as handle:
            json.dump({"start": {"type": "Implode", "path": marker}}, handle)
        fire = lambda info, call="TQX.call(TQX.create('TQX.NotificationCenter'), 'fire', {type: 'WorkflowRun', " \
            "notification: 'Start', sender: 'Global', info: %s});": ({"start": {"type": "Sleep", "seconds": 0.2}},
                                                                     call % json.dumps(json.dumps(info)), 0, False)
        add = "TQX.call(TQX.create('TQX.WorkflowManager'), 'add', {json: %s, callbackId: 'a'});"
        note = lambda task, **more: {"start": dict(task, xx="a\0b", **more)}
        shutdown = {"type": "Notification", "event": "WorkflowApp.Shutdown", "content": {"exitCode": 7, "n": "{this.args.xx}"}}
        steps = lambda start, **more: dict({"aFail": {"type": "Log", "message": "failure ran"}, "start": start,
                                            "aOk": {"type": "Log", "message": "success ran"},
                                            "aDone": {"type": "Log", "message": "complete ran"}}, **more)
        compare, macro = {"type": "NumberCompare", "numberOne": "abc", "numberTwo": 1, "complete": "aDone"}, \
            lambda value, key="t": {"type": "Macro", "key": key, "value": value}
        rows = [("load pair", {"load": {"type": "Macro", "key": "p", "value": marker + "\0.bak"},
                               "start": {"type": "Implode", "path": "{p}"}}, "", 1, True, [], []),
                ("shutdown content", note(shutdown), "", 1, True, [], []),
                ("shutdown ignored", note(shutdown, ignoreError=True), "", 0, False, [], []),
                ("shutdown code", note(dict(shutdown, content={"exitCode": "{this.args.xx}"})), "", 1, True, [], []),
                ("shutdown task", note({"type": "Shutdown", "exitCode": 7, "n": "{this.args.xx}"}), "", 1, True, [], []),
                ("request url", *fire({"url": child + "\0/../other.json"}), [], []),
                ("request id", *fire({"url": child, "id": "a\0b"}), [], []),
                ("added url", *fire({"url": child + "\0/../other.json"}, add), [], []),
                ("content tiny", {"start": dict(shutdown, content={"exitCode": "{this.args.t}"}, t="1e-400")}, "", 1,
                 True, [], []),
                ("number expanded", steps({"type": "End", "exitCode": "{x1}"}, load=macro("0", "x1")), "", 0, False, [], []),
                ("number tiny", steps(dict(compare, numberOne="{t}", numberTwo=0, equalTo="aOk"), load=macro("1e-400")),
                 "", 1, True, [], ["success ran"]),
                ("failed steps", steps(dict(compare, failure="aFail")), "", 1, True, ["failure ran", "complete ran"], []),
                ("ignored steps", steps(dict(compare, success="aOk", ignoreError=True)), "", 0, False,
                 ["success ran", "complete ran"], []),
                ("end steps", steps({"type": "End", "exitCode": "abc", "failure": "aFail"}), "", 1, True, ["failure ran"], []),
                ("own step", steps({"type": "End", "exitCode": 3, "failure": "{this.args.f}", "f": "aFail\0",
                                    "complete": "aDone"}), "", 1, True, [], ["failure ran", "complete ran"])]
        for label, document, script, expected, refused, present, absent in rows:
            for path, text in ((marker, "keep"), (page, script)):
                open(path, "w").write(text)
            shutil.rmtree(logs, ignore_errors=True)
            code, summary, stderr = run(directory, document, switches=(["--script=" + page] if script else []) +
                                        ["--debug", "--debugdir=" + logs])
            log, errors = open(os.path.join(logs, "host.developer.log")).read(), summary.get("errors", [])
            if code != expected or errors != errors[:1] or invalid(errors) != refused or not os.path.exists(marker) \
                    or any(line not in log for line in present) or any(line in log for line in absent):
                fail("%s: exit %d, %s, stderr %r" % (label, code, summary, stderr[-400:]))


# The calls that store a macro, and the row of case_macro_stores that tries each file's.
STORES = r"\b(Workflow_AddMacro\w*|WorkflowApp_AddMacro\w*|WorkflowApp_SetContentUrl|Workflow_StoreMacro)\("
STORE_ROWS = {"workflow_app_config.cpp": "config", "workflow_app.cpp": "config", "macro_task.cpp": "document",
              "workflow_app_interop.cpp": "page", "workflow.cpp": "document", "workflow_script.cpp": "page"}


def case_macro_stores():
    root = os.path.join(os.path.dirname(SOURCE), "..")
    callers = {name for folder, _, names in os.walk(os.path.join(root, "workflow")) for name in names
               if name.endswith(".cpp") and re.search(STORES, open(os.path.join(folder, name)).read())}
    if len(callers) < 5 or callers - set(STORE_ROWS):
        fail("stores without a row: %s" % sorted(callers - set(STORE_ROWS)))
    with tempfile.TemporaryDirectory() as directory:
        victim, logs, big = os.path.join(directory, "victim"), os.path.join(directory, "logs"), "x" * 9000
        for name, text in (("m.json", '{"big": "%s"}' % big), ("p.js", "print('added=' + TQX.call(TQX.create("
                           "'TQX.WorkflowApp'), 'addMacro', {key: 'big', value: '%s'}));" % big),
                           ("c.json", '{"macros": {"p": "%s\\u0000.bak", "big": "%s", "contentUrl": "file:///a'
                            '\\u0000b"}}' % (victim, big))):
            with open(os.path.join(directory, name), "w") as handle:
                handle.write(text)
        config, page = "--config=" + os.path.join(directory, "c.json"), "--script=" + os.path.join(directory, "p.js")
        fetch = lambda scope: {"start": {"type": "Queue", "actions": ["m", "e"]},
                               "m": {"type": "Macro", "url": "file://" + directory + "/m.json", "global": scope},
                               "e": {"type": "Error", "message": "{big}"}}
        told = 'Task_Error_InvalidArg: macro "big" of task "m" is 9000 bytes, past the 8139 a macro\'s value may take'
        # Each row: the store, the document, its switches, what the summary's errors and the log hold.
        rows = [("config", {"start": {"type": "Implode", "path": "{p}"}}, [config], lambda e: True,
                 ['Macro "p" not set: its value holds a NUL',
                  'Macro "big" not set: its value is 9000 bytes, past the 8139']),
                ("config", {"start": {"type": "Error", "message": "{contentUrl}"}}, [config],
                 lambda e: len(e) == 1 and e != ["file:///a"], []),
                ("page", {"start": {"type": "Error", "message": "{big}"}}, [page], lambda e: e == ["{big}"],
                 ["added=false"])]
        rows += [("document", fetch(scope), [], lambda e: e == [told], []) for scope in (False, True)]
        for label, document, switches, errors, lines in rows:
            with open(victim, "w") as handle:
                handle.write("keep")
            shutil.rmtree(logs, ignore_errors=True)
            code, summary, stderr = run(directory, document, switches=switches + ["--debug", "--debugdir=" + logs])
            log = open(os.path.join(logs, "host.developer.log")).read() if os.path.isdir(logs) else ""
            if not errors(summary.get("errors", [])) or not all(line in log for line in lines) or \
                    not os.path.exists(victim):
                fail("%s: exit %d, %s, stderr %r" % (label, code, summary, stderr[-400:]))


CASES = {name[5:]: function for name, function in globals().items() if name.startswith("case_")}
if CASE not in CASES:
    fail("unknown case")
CASES[CASE]()
