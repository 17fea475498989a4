#!/usr/bin/python3
"""Keys kept whole or refused, through the built program.

Usage: host_keys_check.py <program> <case>
keys_refused_where_read: a document key (a task name, a key of any
dictionary in it) longer than the 119 bytes a Dictionary keeps, or holding
a NUL, fails the document's load with the reader's where-it-failed message
naming the limit; two task names that differ only after the limit never
become one. A key of 119 bytes is taken whole.
names_past_the_limit: a task name longer than any task's (a Queue action,
an Aggregate target) runs no task, least of all the one its first 119 bytes
name (a "complete" step, a Progress chain too): the task fails, an
argument with Task_Error_InvalidArg naming the limit.
texts_read_whole: an element of a Log "message" list and a "status" text
(a String, or either element of a List) are read as arguments are: one that
does not fit, as written or once expanded, or holds a NUL fails its task
with Task_Error_InvalidArg naming the limit, never shown cut.
exit_codes_whole: an exit code is the whole number it is written as: a
fraction is refused rather than cut (1.5 as 1); a shutdown fired by a
Notification reads a text code as the Shutdown task does ("1e2" exits 100,
"4294967296" is refused) and refuses one that is no number, where the
application would skip it and end with 0, a success.
page_keys: a page's call whose arguments carry a key longer than 119 bytes
is refused (it answers nothing, and no observer is added); one of 119 bytes
is taken.
lookups_past_the_limit: a macro name or a path segment longer than a key
({<122 K's>}, {this.args.<122 K's>}) names nothing, never the macro or
argument its first 119 bytes name; a Macro "key" that long is refused.
errors_stay_errors: an Error's "message" or an End's "error" given as a list
or object fails the task (Task_Error_InvalidArg) rather than be passed over
and end as a success; so does a Status "target" that is a list or object,
holds a NUL or does not fit (its status would go to another task).
counts_whole: a Queue's count of concurrent actions that is a fraction (0.5
would run nothing and succeed) or no number fails the task before any action
runs.
Exit status 0 when the case holds.
"""
import json
import os
import subprocess
import sys
import tempfile

PROGRAM, CASE = sys.argv[1], sys.argv[2]
LONG, FITS = "K" * 131, "t" * 119


def invalid(errors):
    """Whether one error is a refusal: the identifier with its words."""
    return any(e.startswith("Task_Error_InvalidArg: ") for e in errors)


is_invalid = invalid


def fail(reason):
    sys.stderr.write("%s: %s\n" % (CASE, reason))
    sys.exit(1)


def run(directory, document, name):
    """Writes the document (a dict as JSON, a str as is) and runs it: exit
    code, summary, stderr."""
    path = os.path.join(directory, name)
    with open(path, "w") as handle:
        handle.write(document if isinstance(document, str) else json.dumps(document))
    try:
        done = subprocess.run([PROGRAM, "--workflow=" + path, "--disablesecurity"], capture_output=True, text=True,
                              timeout=120)
    except subprocess.TimeoutExpired:
        fail("%s did not end" % name)
    lines = [line for line in done.stdout.splitlines() if line.strip()]
    return done.returncode, json.loads(lines[-1]) if lines else {}, done.stderr


def case_keys_refused_where_read():
    wrong = {"type": "Error", "message": "wrong task ran"}
    twins_yaml = "start:\n  type: Queue\n  actions: [%sa]\n%sa:\n  type: Error\n  message: wrong task ran\n" \
                 "%sb:\n  type: Error\n  message: wrong task ran\n" % (LONG, LONG, LONG)
    twins_json = '{"start": {"type": "Queue", "actions": ["%sa"]}, "%sa": %s, "%sb": %s}' % (
        LONG, LONG, json.dumps(wrong), LONG, json.dumps(wrong))
    # Each row: a label, the file name, the document, the words of the load's refusal.
    rows = [
        ("pair key", "pairs.json", {"start": {"type": "EnvironmentSet", "keyValuePairs": {LONG: "v"}}},
         "Key of 131 bytes exceeds the 119-byte key limit at line 1, column"),
        ("pair key yaml", "pairs.yaml", "start:\n  type: EnvironmentSet\n  keyValuePairs:\n    %s: v\n" % LONG,
         "Map key of 131 bytes exceeds the 119-byte key limit at line 4, column 5"),
        ("task names json", "twins.json", twins_json, "Key of 132 bytes exceeds the 119-byte key limit"),
        ("task names yaml", "twins.yaml", twins_yaml,
         "Map key of 132 bytes exceeds the 119-byte key limit at line 4, column 1"),
        ("pair key NUL", "nul.json", {"start": {"type": "EnvironmentSet", "keyValuePairs": {"A\0B": "v"}}},
         "Key holds a NUL at line 1"),
        ("flow key yaml", "flow.yaml", "start: {type: Log, message: x, %s: 1}\n" % LONG,
         "Map key of 131 bytes exceeds the 119-byte key limit at line 1"),
    ]
    with tempfile.TemporaryDirectory() as directory:
        for label, name, document, words in rows:
            code, summary, stderr = run(directory, document, name)
            errors = summary.get("errors", [])
            if code != 1 or not any(words in error for error in errors) or words not in stderr:
                fail("%s: exit %d, %s, stderr %r" % (label, code, summary, stderr[-400:]))
            if "wrong task ran" in errors:
                fail("%s: a task ran under a cut name" % label)
        # The longest key is taken whole, in a name and in a dictionary.
        for name in ("fits.json", "fits.yaml"):
            key = "K" * 119
            document = {"start": {"type": "Queue", "actions": ["set", FITS]},
                        "set": {"type": "EnvironmentSet", "keyValuePairs": {key: "v"}},
                        FITS: {"type": "Error", "message": "whole: {Env:%s}" % key}}
            text = json.dumps(document) if name.endswith(".json") else \
                "start:\n  type: Queue\n  actions: [set, %s]\nset:\n  type: EnvironmentSet\n  keyValuePairs:\n" \
                "    %s: v\n%s:\n  type: Error\n  message: 'whole: {Env:%s}'\n" % (FITS, key, FITS, key)
            code, summary, stderr = run(directory, text, name)
            if code != 1 or summary.get("errors") != ["whole: v"]:
                fail("%s: exit %d, %s, stderr %r" % (name, code, summary, stderr[-400:]))


def case_names_past_the_limit():
    wrong = {"type": "Error", "message": "wrong task ran"}
    rows = [
        ("queue action", {"start": {"type": "Queue", "actions": [FITS + "zzz"]}, FITS: wrong},
         "an element of \"actions\" of task \"start\" is 122 bytes, past its limit of 119"),
        ("queue action macro", {"start": {"type": "Queue", "actions": ["{this.args.n}"], "n": FITS + "zzz"},
                                FITS: wrong}, "past its limit of 119"),
        ("aggregate target", {"start": {"type": "Aggregate", "target": FITS + "zzz", "content": {"k": 1}},
                              FITS: wrong},
         "the task name of \"target\" of task \"start\" is 122 bytes, past its limit of 119"),
        ("complete step", {"start": {"type": "Log", "message": "x", "complete": FITS + "zzz"}, FITS: wrong},
         "the name is 122 bytes, past the 119-byte limit of a task's name"),
        ("progress action", {"start": {"type": "Progress", "actions": [FITS + "zzz"]}, FITS: wrong},
         "an element of \"actions\" of task \"start\" is 122 bytes, past its limit of 119"),
    ]
    with tempfile.TemporaryDirectory() as directory:
        for label, document, words in rows:
            code, summary, stderr = run(directory, document, "doc.json")
            errors = summary.get("errors", [])
            if code != 1 or not any(words in e for e in errors) or "wrong task ran" in errors:
                fail("%s: exit %d, %s, stderr %r" % (label, code, summary, stderr[-400:]))
        # A name of 119 bytes runs its task.
        code, summary, stderr = run(directory, {"start": {"type": "Queue", "actions": [FITS]},
                                                FITS: {"type": "Error", "message": "ran"}}, "doc.json")
        if code != 1 or "ran" not in summary.get("errors", []):
            fail("a name of 119 bytes: exit %d, %s, stderr %r" % (code, summary, stderr[-400:]))


def case_texts_read_whole():
    grow = "{this.args.g}{this.args.g}"
    rows = [
        ("log element", {"start": {"type": "Log", "message": ["ok", "x" * 5000]}},
         "an element of \"message\" of task \"start\" is 5000 bytes, past its limit of 4095"),
        ("log element grown", {"start": {"type": "Log", "message": ["ok", grow], "g": "y" * 3000}},
         "is 6000 bytes once expanded, past its limit of 4095"),
        ("log element NUL", {"start": {"type": "Log", "message": ["a\0b"]}}, "holds a NUL"),
        ("status text", {"start": {"type": "Log", "message": "m", "status": "z" * 2000}},
         "\"status\" of task \"start\" is 2000 bytes, past its limit of 1023"),
        ("status first", {"start": {"type": "Log", "message": "m", "status": [grow, "s"], "g": "y" * 1000}},
         "an element of \"status\" of task \"start\" is 2000 bytes once expanded, past its limit of 1023"),
        ("status second", {"start": {"type": "Log", "message": "m", "status": ["s", grow], "g": "y" * 1000}},
         "an element of \"status\" of task \"start\" is 2000 bytes once expanded, past its limit of 1023"),
    ]
    with tempfile.TemporaryDirectory() as directory:
        for label, document, words in rows:
            code, summary, stderr = run(directory, document, "doc.json")
            errors = summary.get("errors", [])
            if code != 1 or not invalid(errors) or not any(words in e for e in errors):
                fail("%s: exit %d, %s, stderr %r" % (label, code, summary, stderr[-400:]))
        # Texts that fit, numbers among them, are taken as they are.
        code, summary, stderr = run(directory, {"start": {"type": "Log", "message": ["a", "y" * 4095],
                                                          "status": ["s", 5]}}, "doc.json")
        if code != 0:
            fail("texts that fit: exit %d, %s, stderr %r" % (code, summary, stderr[-400:]))


def case_exit_codes_whole():
    fire = lambda code: {"start": {"type": "Notification", "event": "WorkflowApp.Shutdown",
                                   "content": {"exitCode": code}}}
    # Each row: a label, the document, the exit code, words one error holds.
    rows = [
        ("end fraction", {"start": {"type": "End", "exitCode": 1.5}}, 1, "\"exitCode\" of task \"start\" is 1.5"),
        ("end fraction text", {"start": {"type": "End", "exitCode": "2.5"}}, 1, "\"exitCode\" of task \"start\" is 2.5"),
        ("end whole text", {"start": {"type": "End", "exitCode": "2.0"}}, 2, None),
        ("fired fraction", fire(1.5), 1, "of the content of task \"start\" is 1.5"),
        ("fired text past 32 bits", fire("4294967296"), 1, "of the content of task \"start\" is 4294967296"),
        ("fired text exponent", fire("1e2"), 100, None),
        ("fired word", fire("abc"), 1, "\"exitCode\" of the content of task \"start\" is no number"),
        ("fired boolean", fire(True), 1, "is no number"),
        ("fired empty", fire(""), 1, "is no number"),
    ]
    with tempfile.TemporaryDirectory() as directory:
        for label, document, expected, words in rows:
            code, summary, stderr = run(directory, document, "doc.json")
            errors = summary.get("errors", [])
            if code != expected or (words is not None and (not invalid(errors) or
                                                           not any(words in e for e in errors))):
                fail("%s: exit %d, %s, stderr %r" % (label, code, summary, stderr[-400:]))


def case_counts_whole():
    ran = {"type": "Error", "message": "a ran"}
    rows = [(0.5, "is 0.5: a whole number from -1 to 2147483647 is asked"), (-0.5, "is -0.5: a whole number"),
            (1.5, "is 1.5: a whole number"), ("1e400", "is not a finite number (1e400)"),
            ("abc", "is not a finite number (abc)")]
    with tempfile.TemporaryDirectory() as directory:
        for count, words in rows:
            for key in ("concurrentTasks", "concurrentActions"):
                code, summary, stderr = run(directory, {"start": {"type": "Queue", "actions": ["a"], key: count},
                                                        "a": ran}, "doc.json")
                errors = summary.get("errors", [])
                if code != 1 or not invalid(errors) or not any(words in e for e in errors) or \
                        "a ran" in errors:
                    fail("%s %r: exit %d, %s, stderr %r" % (key, count, code, summary, stderr[-400:]))
        code, summary, stderr = run(directory, {"start": {"type": "Queue", "actions": ["a"], "concurrentTasks": "2"},
                                                "a": ran}, "doc.json")
        if code != 1 or summary.get("errors") != ["a ran"]:
            fail("a count of 2: exit %d, %s, stderr %r" % (code, summary, stderr[-400:]))


def case_page_keys():
    page = """
var center = TQX.create('TQX.NotificationCenter');
function ask(label, length) {
  var args = {type: 'Task', notification: 'Start', callbackId: label};
  args[new Array(length + 1).join('K')] = 1;
  print(label + ': ' + JSON.stringify(TQX.call(center, 'addObserver', args)));
}
ask('long', 120);
ask('fits', 119);
function onBatch(items) {
  items.forEach(function (item) { if (item.callbackId) print('heard ' + item.callbackId); });
}
"""
    with tempfile.TemporaryDirectory() as directory:
        script = os.path.join(directory, "p.js")
        with open(script, "w") as handle:
            handle.write(page)
        workflow = os.path.join(directory, "w.yaml")
        with open(workflow, "w") as handle:
            handle.write("start:\n  type: Log\n  message: hi\n")
        try:
            done = subprocess.run([os.path.abspath(PROGRAM), "--workflow=" + workflow, "--script=" + script,
                                   "--disablesecurity", "--window"], capture_output=True, text=True, timeout=60,
                                  cwd=directory)
        except subprocess.TimeoutExpired:
            fail("the page's run did not end")
        out = done.stdout
        if done.returncode != 0 or "long: undefined" not in out or "fits: true" not in out or \
                "heard long" in out or "heard fits" not in out:
            fail("exit %d, %s" % (done.returncode, out[-1500:]))


def case_lookups_past_the_limit():
    key = "K" * 119
    macro = lambda name, wanted: {"start": {"type": "Queue", "actions": ["m", "chk"]},
                                  "m": {"type": "Macro", "key": name, "value": "A", "global": True},
                                  "chk": {"type": "Error", "message": "got {%s}" % wanted}}
    rows = [
        ("macro name", macro(key, key + "bbb"), ["got {%sbbb}" % key]),
        ("macro name fits", macro(key, key), ["got A"]),
        ("argument path", {"start": {"type": "Error", "message": "got {this.args.%szzz}" % key, key: "short"}},
         ["got {this.args.%szzz}" % key]),
        ("argument path fits", {"start": {"type": "Error", "message": "got {this.args.%s.x}" % key,
                                          key: {"x": "deep"}}}, ["got deep"]),
    ]
    with tempfile.TemporaryDirectory() as directory:
        for label, document, errors in rows:
            code, summary, stderr = run(directory, document, "doc.json")
            if code != 1 or summary.get("errors") != errors:
                fail("%s: exit %d, %s, stderr %r" % (label, code, summary, stderr[-400:]))
        code, summary, stderr = run(directory, macro(key + "aaa", key), "doc.json")
        errors = summary.get("errors", [])
        if code != 1 or not invalid(errors) or \
                not any("\"key\" of task \"m\" is 122 bytes, past its limit of 119" in e for e in errors):
            fail("macro key: exit %d, %s, stderr %r" % (code, summary, stderr[-400:]))


def case_errors_stay_errors():
    rows = [("Error", "message", {"x": 1}), ("Error", "message", [1, 2]), ("End", "error", {"x": 1}),
            ("End", "error", [1])]
    with tempfile.TemporaryDirectory() as directory:
        for kind, key, value in rows:
            code, summary, stderr = run(directory, {"start": {"type": kind, key: value}}, "doc.json")
            errors = summary.get("errors", [])
            words = "\"%s\" of task \"start\" is a list or object, not a text" % key
            if code != 1 or not invalid(errors) or not any(words in e for e in errors):
                fail("%s %s %r: exit %d, %s, stderr %r" % (kind, key, value, code, summary, stderr[-400:]))
        targets = [({"x": 1}, "is a list or object, not a text"), ("parent\0x", "holds a NUL"),
                   ("parent:" + "p" * 400, "is 407 bytes, past its limit of 311")]
        for target, words in targets:
            code, summary, stderr = run(directory, {"start": {"type": "Queue", "actions": ["s"]},
                                                    "s": {"type": "Status", "target": target, "title": "x"}},
                                        "doc.json")
            errors = summary.get("errors", [])
            if code != 1 or not invalid(errors) or not any(words in e for e in errors):
                fail("target %r: exit %d, %s, stderr %r" % (target, code, summary, stderr[-400:]))


globals()["case_" + CASE]()
