#!/usr/bin/python3
"""What a page script (--script) cannot do to the host's run, through the
built program: stall it, hide its batches, make its own runs the outcome, or
outlast a signal.

Usage: host_page_check.py <program> <case>
Exit status 0 when the case holds, else 1 with the reason on standard error.
"""
import json
import os
import signal
import subprocess
import sys
import tempfile

PROGRAM, CASE = sys.argv[1], sys.argv[2]
LOG = "start:\n  type: Log\n  message: %s\n"


def fail(reason):
    sys.stderr.write("%s: %s\n" % (CASE, reason))
    sys.exit(1)


def check(condition, reason):
    if not condition:
        fail(reason)


def write(directory, name, text):
    path = os.path.join(directory, name)
    with open(path, "w") as f:
        f.write(text)
    return path


def summary(out):
    lines = [line for line in out.splitlines() if line.startswith("{")]
    return json.loads(lines[-1]) if lines else None


def run(directory, page, document=LOG % "main", extra=()):
    workflow = write(directory, "w.yaml", document)
    try:
        done = subprocess.run([PROGRAM, "--workflow=" + workflow, "--script=" + write(directory, "p.js", page),
                               "--disablesecurity", "--window"] + list(extra),
                              capture_output=True, text=True, timeout=240, cwd=directory)
    except subprocess.TimeoutExpired:
        fail("the run never ended")
    return done.returncode, summary(done.stdout), done.stdout, done.stderr


# Adds COUNT runs of the document in a.yaml beside the workflow.
ADDS = """
var manager = TQX.create('TQX.WorkflowManager'), taken = 0;
for (var i = 0; i < COUNT; i++)
  taken += TQX.call(manager, 'add', {json: JSON.stringify({url: URL}), callbackId: 'added' + i}) ? 1 : 0;
print('taken=' + taken);
"""

# A page that hears the start of every task of its type and completes it.
HEARS = """
var center = TQX.create('TQX.NotificationCenter');
TQX.call(center, 'addObserver', {type: 'Task', notification: 'Start', callbackId: 'start'});
function onBatch(items) {
  items.forEach(function (item) {
    if (item.callbackId === 'start' && item.info && item.info.type === 'Paged') handle(TQX.create('TQX.Task', item.sender));
  });
}
TQX.call(TQX.create('TQX.ScriptTaskHandler'), 'register', {name: 'Paged'});
"""


def adds(directory, count, document):
    url = "file://" + write(directory, "a.yaml", document)
    return "var COUNT = %d, URL = %s;\n" % (count, json.dumps(url)) + ADDS


def case_added_runs():
    # Every run a page adds runs before the host unloads; what they did is
    # theirs: the summary is the workflow's, a failed one is a warning.
    with tempfile.TemporaryDirectory() as directory:
        for _ in range(3):
            code, value, out, _ = run(directory, adds(directory, 20, LOG % "added-run"))
            check(code == 0 and value == {"successful": True, "exitCode": 0, "progress": value["progress"],
                                          "errors": [], "warnings": []}, "exit %d %s" % (code, value))
            ran = out.count(".start - added-run\n")
            check(ran == 20, "%d of 20 added runs ran" % ran)
        code, value, out, _ = run(directory, adds(directory, 3, "start:\n  type: NoSuchType\n"))
        check(code == 0 and value["successful"] is True and value["errors"] == [], "exit %d %s" % (code, value))
        check(any(each.startswith("a run added beside the workflow failed") for each in value["warnings"]),
              "no warning: %s" % value)


def case_too_many_runs():
    # Past the runs a process may start, the host's own run fails and the
    # program ends once the runs that did start have; a page's add past them
    # answers false when it is made (said once), so nothing of it waits.
    with tempfile.TemporaryDirectory() as directory:
        code, value, out, _ = run(directory, adds(directory, 1200, LOG % "added-run"))
        check(code == 1 and value is not None and "WorkflowRun_Error_TooMany" in value["errors"],
              "exit %d %s" % (code, value))
        check("Script - taken=1000\n" in out and out.count("Add refused") == 1 and
              out.count(".start - added-run\n") == 1000, "%s" % out[-400:])


def case_bridge_out_of_reach():
    # Overwriting the names a bridge might use, and the builtins it calls,
    # does not keep the page's batches from it.
    tamper = """
['__tqxDeliver', '__tqxCall', '__tqxCreate', '__tqxRelease', '__tqxReleaseSender'].forEach(function (name) {
  this[name] = function () {};
}, this);
JSON.parse = function () { return []; };
JSON.stringify = function () { return '{}'; };
String = function () { return 'tampered'; };
"""
    page = HEARS + "function handle(task) { TQX.call(task, 'complete', {json: '{}'}); print('completed'); }\n" + tamper
    with tempfile.TemporaryDirectory() as directory:
        code, value, out, _ = run(directory, page, "start:\n  type: Paged\n")
        check(code == 0 and value["successful"] is True and "Script - completed" in out, "exit %d %s" % (code, value))
        check("Not all memory" not in out, "the page left memory behind")


def case_nothing_left_behind():
    # What a page took (interop references, the builtins it changed) goes with
    # it, and a task that completed is not started again (an event task would
    # make tasks in a workflow that is going): the exit finds nothing left.
    paged = "start:\n  type: Paged\n"
    restart = """
var center = TQX.create('TQX.NotificationCenter'), seen = {};
TQX.call(center, 'addObserver', {type: 'Task', notification: 'Complete', callbackId: 'done'});
function onBatch(items) {
  items.forEach(function (item) {
    if (item.callbackId !== 'done' || seen[item.sender]) return;
    seen[item.sender] = true;
    print('started again ' + TQX.call(TQX.create('TQX.Task', item.sender), 'start', {}));
  });
}
"""
    table = [(HEARS + "function handle(task) {\n"
              "for (var i = 0; i < 1000; i++) TQX.call(center, 'addRefInteropReference', {instanceId: task});\n"
              "TQX.call(center, 'addRefInteropReference', {instanceId: task.toUpperCase()});\n"
              "TQX.call(center, 'releaseInteropReference', {instanceId: task});\n"
              "TQX.call(task, 'complete', {json: '{}'});\n}\n", paged),
             (HEARS + "String = function () { return {}; };\n"
              "function handle(task) { TQX.call(task, 'complete', {json: '{}'}); }\n", paged),
             (restart, "load:\n  type: Log\n  message: l\n" + LOG % "main" + "unload:\n  type: Log\n  message: u\n")]
    with tempfile.TemporaryDirectory() as directory:
        for page, document in table:
            code, value, out, _ = run(directory, page, document)
            check(code == 0 and value["successful"] is True, "%s: exit %d %s" % (page[-60:], code, value))
            check("Not all memory" not in out and "not removed" not in out, "%s: left behind" % page[-60:])
            check("started again true" not in out, "a completed task started again")


def case_flow_control_off():
    # With the manager's flow switched off nothing moves the workflow on:
    # the run ends, failed, saying why.
    page = "TQX.call(TQX.create('TQX.WorkflowManager'), 'setFlowControl', {flowControl: false});\n"
    with tempfile.TemporaryDirectory() as directory:
        code, value, out, _ = run(directory, page)
        check(code == 1 and value is not None and value["errors"] ==
              ["the workflow manager's flow control was switched off and nothing is left to run"],
              "exit %d %s" % (code, value))


# A match that fails slowly at each of many places: the engine matches from
# its own loop (split), where no instruction of the page runs between tries.
SLOW_MATCH = "print('matching'); ('a'.repeat(24) + 'c').repeat(20000).split(/(a+)+b|c/);\n"


def case_signal_while_busy():
    # The first signal stops a page that loads, or matches an expression, at
    # once: exit 130 and the summary of an interrupted run.
    table = [("print('matching'); for (;;) {}\n", LOG % "main", signal.SIGINT),
             ("print('matching'); for (;;) {}\n", LOG % "main", signal.SIGTERM),
             (SLOW_MATCH, LOG % "main", signal.SIGINT),
             (HEARS + "function handle(task) {\n" + SLOW_MATCH + "}\n", "start:\n  type: Paged\n", signal.SIGINT)]
    with tempfile.TemporaryDirectory() as directory:
        for text, document, number in table:
            process = subprocess.Popen([PROGRAM, "--workflow=" + write(directory, "w.yaml", document),
                                        "--script=" + write(directory, "p.js", text), "--disablesecurity", "--window"],
                                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
            seen = ""
            while "Script - matching" not in seen:
                line = process.stdout.readline()
                check(line, "ended before the page was busy: %s" % seen[-1000:])
                seen += line
            process.send_signal(number)
            try:
                out, err = process.communicate(timeout=60)
            except subprocess.TimeoutExpired:
                process.kill()
                process.communicate()
                fail("%s: one signal did not end the page" % text[:40])
            value = summary(out)
            check(process.returncode == 130 and value is not None and "Host_Error_Interrupted" in value["errors"],
                  "%s: exit %d %s %r" % (text[:40], process.returncode, value, err[-500:]))


CASES = {name[5:]: function for name, function in globals().items() if name.startswith("case_")}
if CASE not in CASES:
    fail("unknown case")
CASES[CASE]()
