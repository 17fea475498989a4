#!/usr/bin/python3
"""What a document or a page fires, asks for or piles up cannot end the host
by a signal, hold it, or cost more than its size, through the built program.

Usage: host_robust_check.py <program> <case>
forged_references: "NotificationCenter"/"Interop" fired by a document's
Notification task or by a page, with any content and as often as it likes,
for a task or a workflow, changes no reference: the run ends with its own
outcome and the message is refused in the log.
fired_events: every notification the host observes, fired with empty,
mistyped and extreme contents from a Notification task (its own id as
sender) and from a page (every id it has seen as sender): the host always
ends by itself, with a summary as its last line and the exit code the
summary gives.
deep_walks: a Progress task's walk of its task chain, however deep the
document asks it to go (through "complete", "actions" loops or
"taskChainParameter") and however often the chain names a task, ends the run
with its limit named, never by a signal.
fractional_arguments: a page's fraction where a method takes a whole number
(an exit code, a task limit) is refused, never cut: the call does not answer
true, and the program's exit code is the one the page last gave whole.
many_errors: a page's script task adds 100,000 errors (some twice) and a few
warnings: the summary holds each once, in the order added. Adding costs the
same whatever the task holds (bench/workflow/task_errors_bench.cpp), so the
run ends in seconds; an add that grew with the list took most of an hour.
Exit status 0 when the case holds, else 1 with the reason on standard error.
"""
import json
import os
import subprocess
import sys
import tempfile
from concurrent.futures import ThreadPoolExecutor

PROGRAM, CASE = sys.argv[1], sys.argv[2]

# Every (type, notification) some part of the workflow engine or the host
# observes, globally or for one instance.
EVENTS = [("Task", name) for name in ["Start", "Status", "Complete", "Error", "Warning", "Cancel", "Retry"]] + \
    [("Workflow", name) for name in ["Status", "Cancel", "Retry", "Deactivate"]] + \
    [("WorkflowEvent", name) for name in ["Start", "Complete", "Ready", "Wait"]] + \
    [("WorkflowRun", name) for name in ["Start", "Stop", "Run", "RunStart", "Complete", "HandOverFailed"]] + \
    [("WorkflowManager", "Status"), ("WorkflowApp", "Shutdown"), ("TaskRequest", "Retry"),
     ("TaskRequest", "Failed"), ("TaskEvent", "Complete"), ("Queue", "Start"), ("Queue", "NextTask"),
     ("Progress", "TogglePause"), ("NotificationCenter", "Interop"), ("NotificationCenter", "Process"),
     ("Path", "DirectoryGetSizeResponse")] + \
    [("NotificationEndPoint", name) for name in ["Connected", "Running", "Disconnected", "KeepAlive"]]

LONG = "x" * 20000
KEYS = ["successful", "cancelled", "errors", "warnings", "exitCode", "progress", "addRef", "status", "url",
        "task", "workflow", "name", "id", "callbackId", "sender", "message", "arguments", "global", "error"]
# Contents as JSON values: empty, mistyped (every key the observers read with
# a type it does not expect), extreme (huge numbers, long texts, deep nesting).
CONTENTS = [{}, "text", [1, 2], dict((key, [{"a": None}]) for key in KEYS),
            dict((key, "not a %s" % key) for key in KEYS),
            dict((key, value) for key, value in zip(KEYS, [1e308, -1e308, -9223372036854775808, 18446744073709551615,
                                                           0.5, -1, True, False] * 3)),
            dict((key, LONG) for key in KEYS), {"errors": [LONG] * 20, "status": {"a": {"b": {"c": [[[[[]]]]]}}}}]


def fail(reason):
    sys.stderr.write("%s: %s\n" % (CASE, reason))
    sys.exit(1)


def write(directory, name, text):
    path = os.path.join(directory, name)
    with open(path, "w") as f:
        f.write(text)
    return path


def run(directory, document, page=None):
    """The exit code (None for a run that did not end by itself), the summary
    (None without one) and the output of one run."""
    command = [PROGRAM, "--workflow=" + write(directory, "w.yaml", document), "--disablesecurity"]
    if page is not None:
        command += ["--script=" + write(directory, "p.js", page), "--window"]
    try:
        done = subprocess.run(command, capture_output=True, text=True, timeout=120, cwd=directory,
                              errors="replace")
    except subprocess.TimeoutExpired:
        return None, None, "", ""
    lines = [line for line in done.stdout.splitlines() if line.strip()]
    summary = None
    if lines:
        try:
            summary = json.loads(lines[-1])
        except ValueError:
            pass
    return done.returncode, summary, done.stdout, done.stderr


def ends_with_summary(what, result):
    """What is wrong with the run's end, or None."""
    code, summary, out, err = result
    if code is None:
        return "%s: did not end" % what
    if summary is None or not isinstance(summary, dict) or summary.get("exitCode") != code or code not in (0, 1):
        return "%s: exit %d, last lines %r, stderr %r" % (what, code, out[-300:], err[-300:])
    return None


def notification_document(event, content, after="after"):
    # The firing task sits in a Queue so that the queue's observers hear it
    # too; an Error after it shows whether the run went on.
    return ("start:\n  type: Queue\n  actions: [fire, %s]\nfire:\n  type: Notification\n  event: %s\n"
            "  content: %s\n%s:\n  type: Error\n  message: went on\n" % (after, event, json.dumps(content), after))


# A page that, once the workflow's Sleep starts, fires its events at every id
# it has seen and at "Global".
PAGE = """
var center = TQX.create('TQX.NotificationCenter');
TQX.call(center, 'addObserver', {type: 'Global', notification: 'Global', callbackId: 'all'});
var senders = {'Global': true}, fired = false;
function onBatch(items) {
  items.forEach(function (item) {
    senders[item.sender] = true;
    if (fired || item.type !== 'Task' || item.notification !== 'Start' || !item.info || item.info.type !== 'Sleep') return;
    fired = true;
    Object.keys(senders).forEach(function (sender) {
      EVENTS.forEach(function (event) {
        INFOS.forEach(function (info) {
          TQX.call(center, 'fire', {type: event[0], notification: event[1], sender: sender, info: info});
        });
      });
    });
    print('fired at ' + Object.keys(senders).length + ' senders');
  });
}
"""
SLEEP = "start:\n  type: Sleep\n  seconds: 0.2\n"


def page_for(events, infos):
    return "var EVENTS = %s;\nvar INFOS = %s;\n%s" % (json.dumps(events), json.dumps(infos), PAGE)


def case_forged_references():
    forged = [{"addRef": False}, {}, {"addRef": True}, {"addRef": "no"}, [1], "text"]
    with tempfile.TemporaryDirectory() as directory:
        for content in forged[:-1]:  # a text that is no JSON is refused before anything fires
            # The task fires at itself, again and again (each run of it
            # nests one level deeper until the nesting limit ends the run).
            document = ("start: {type: Notification, event: NotificationCenter.Interop, content: %s, success: start}\n"
                        % json.dumps(content))
            code, summary, out, err = run(directory, document)
            if code != 1 or summary is None or "tasks nest at most" not in " ".join(summary.get("errors", [])):
                fail("%s: exit %d %s, stderr %r" % (content, code, summary, err[-400:]))
            code, summary, out, err = run(directory, notification_document("NotificationCenter.Interop", content))
            if code != 1 or summary is None or "went on" not in summary.get("errors", []):
                fail("%s: exit %d %s, stderr %r" % (content, code, summary, err[-400:]))
        # A page releases three times what it never took, for the running
        # task and for its workflow.
        infos = [json.dumps(content) for content in forged for _ in range(3)]
        code, summary, out, err = run(directory, SLEEP, page_for([["NotificationCenter", "Interop"]], infos))
        if code != 0 or summary is None or summary.get("successful") is not True or "fired at" not in out:
            fail("page: exit %d %s, stderr %r" % (code, summary, err[-400:]))
        if "Reference message refused" not in out:
            fail("page: no refusal in the log")


def case_fired_events():
    with tempfile.TemporaryDirectory() as top:
        def document_row(row):
            (kind, name), index = row
            directory = os.path.join(top, "d%s.%s.%d" % (kind, name, index))
            os.mkdir(directory)
            event = "%s.%s" % (kind, name)
            return ends_with_summary("%s %s" % (event, json.dumps(CONTENTS[index])[:100]),
                                     run(directory, notification_document(event, CONTENTS[index])))

        def page_row(event):
            directory = os.path.join(top, "p%s.%s" % tuple(event))
            os.mkdir(directory)
            infos = [json.dumps(content) for content in CONTENTS] + ["", "not json", "[", "null"]
            result = run(directory, SLEEP, page_for([list(event)], infos))
            if "fired at" not in result[2] and result[0] is not None:
                return "page %s.%s: never fired" % tuple(event)
            return ends_with_summary("page %s.%s" % tuple(event), result)

        rows = [(event, index) for event in EVENTS for index in range(len(CONTENTS))]
        with ThreadPoolExecutor(max_workers=4) as pool:
            wrong = [line for line in list(pool.map(document_row, rows)) + list(pool.map(page_row, EVENTS)) if line]
        if wrong:
            fail("%d of %d runs:\n%s" % (len(wrong), len(rows) + len(EVENTS), "\n".join(wrong)))


def case_deep_walks():
    progress = "start: {type: Progress, actions: [a], maxChainDepth: %s%s}\n"
    doubling = "".join("a%s: {type: Log, message: x, actions: [a%d, a%d]}\n" % (index or "", index + 1, index + 1)
                       for index in range(40)) + "a40: {type: Log, message: x}\n"
    # Each row: the document, the words its one error must hold.
    rows = [(progress % (10000, "") + "a: {type: Log, message: a, complete: a}\n", "deeper than 10000 levels"),
            (progress % (10000, "") + "a: {type: Queue, actions: [a]}\n", "deeper than 10000 levels"),
            (progress % (10000, ", taskChainParameter: [next]") + "a: {type: Log, message: a, next: a}\n",
             "deeper than 10000 levels"),
            (progress % ("1000000000", "") + "a: {type: Log, message: a, complete: a}\n", "visits more than 100000 tasks"),
            (progress % (100, "") + doubling, "visits more than 100000 tasks")]
    with tempfile.TemporaryDirectory() as directory:
        for document, words in rows:
            code, summary, out, err = run(directory, document)
            if code != 1 or summary is None or not any(words in error for error in summary.get("errors", [])):
                fail("%s: exit %s %s, stderr %r" % (document[:120], code, summary, err[-300:]))


def case_fractional_arguments():
    page = """
var app = TQX.create('TQX.WorkflowApp'), manager = TQX.create('TQX.WorkflowManager');
print('answers ' + [TQX.call(app, 'setExitCode', {exitCode: 4}), TQX.call(app, 'setExitCode', {exitCode: 3.5}),
                    TQX.call(app, 'setExitCode', {exitCode: -0.25}),
                    TQX.call(manager, 'setMaximumActiveTasks', {maximumActiveTasks: 0.5})].join(','));
"""
    with tempfile.TemporaryDirectory() as directory:
        code, summary, out, err = run(directory, "start:\n  type: Log\n  message: hi\n", page)
        # A refused argument leaves the call without an answer (or false).
        answers = [line.split("answers ", 1)[1].split(",") for line in out.splitlines() if "Script - answers" in line]
        if code != 4 or answers != [["true", "", "", "false"]] and answers != [["true", "false", "false", "false"]]:
            fail("exit %s %s, stderr %r, answers %r" % (code, summary, err[-300:],
                                                        [line for line in out.splitlines() if "answers" in line]))


def case_many_errors():
    count = 100000
    page = """
var center = TQX.create('TQX.NotificationCenter');
TQX.call(center, 'addObserver', {type: 'Task', notification: 'Start', callbackId: 'start'});
function onBatch(items) {
  items.forEach(function (item) {
    if (item.callbackId !== 'start' || !item.info || item.info.type !== 'Paged') return;
    var task = TQX.create('TQX.Task', item.sender);
    for (var i = 0; i < COUNT; i++) {
      TQX.call(task, 'addError', {message: 'e' + i});
      if (i % 10000 == 0) TQX.call(task, 'addError', {message: 'e' + i / 2});
      if (i % 10000 == 0) TQX.call(task, 'addWarning', {message: 'w' + i});
    }
    TQX.call(task, 'complete', {json: '{}'});
  });
}
TQX.call(TQX.create('TQX.ScriptTaskHandler'), 'register', {name: 'Paged'});
""".replace("COUNT", str(count))
    with tempfile.TemporaryDirectory() as directory:
        code, summary, out, err = run(directory, "start:\n  type: Paged\n", page)
        if code != 1 or summary is None:
            fail("exit %s, stderr %r" % (code, err[-300:]))
        if summary["errors"] != ["e%d" % index for index in range(count)]:
            fail("%d errors, first %s" % (len(summary["errors"]), summary["errors"][:5]))
        if summary["warnings"] != ["w%d" % index for index in range(0, count, 10000)]:
            fail("warnings %s" % summary["warnings"])


CASES = {name[5:]: function for name, function in globals().items() if name.startswith("case_")}
if CASE not in CASES:
    fail("unknown case")
CASES[CASE]()
