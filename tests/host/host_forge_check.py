#!/usr/bin/python3
"""What a page script (--script) or a document's Notification task may fire,
through the built program: the summary stays what the workflow's run did.

Usage: host_forge_check.py <program> <case>
Exit status 0 when the case holds, else 1 with the reason on standard error.
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


def check(condition, reason):
    if not condition:
        fail(reason)


def write(directory, name, text):
    path = os.path.join(directory, name)
    with open(path, "w") as f:
        f.write(text)
    return path


def run(directory, page, document):
    workflow = write(directory, "w.yaml", document)
    arguments = [PROGRAM, "--workflow=" + workflow, "--disablesecurity", "--window"]
    if page is not None:
        arguments.append("--script=" + write(directory, "p.js", page))
    done = subprocess.run(arguments, capture_output=True, text=True, timeout=120, cwd=directory)
    lines = done.stdout.splitlines()
    check(lines and lines[-1].startswith("{"), "no summary as the last line: %r %r" % (done.stdout[-1500:],
                                                                                   done.stderr[-500:]))
    return done.returncode, json.loads(lines[-1]), done.stdout


# A page that hears everything, learns the ids the engine uses (the run's
# generated id included, which its start request carries) and, at a chosen
# moment, fires forge(ids) with them: the words the engine would use for an
# outcome, the other way round.
LEARNS = """
var center = TQX.create('TQX.NotificationCenter');
TQX.call(center, 'addObserver', {type: 'Global', notification: 'Global', callbackId: 'all'});
var ids = {}, fired = false;
function fire(type, name, sender, info) {
  TQX.call(center, 'fire', {type: type, notification: name, sender: sender || '', info: JSON.stringify(info)});
}
function onBatch(items) {
  items.forEach(function (item) {
    var info = item.info || {};
    if (item.type === 'WorkflowRun' && item.notification === 'Start' && info.id) ids.run = info.id;
    if (item.type === 'Task' && item.notification === 'Start' && info.name === 'global') ids.global = item.sender;
    if (item.type === 'Task' && item.notification === 'Start' && info.name) ids[info.name] = item.sender;
    if (item.type === 'WorkflowEvent' && info.workflow) { ids.workflow = info.workflow; ids.event = item.sender; }
    if (!fired && item.type === 'Task' && item.notification === 'Start' && info.name === WHEN) {
      fired = true;
      print('forging ' + JSON.stringify(ids));
      forge(ids);
      if (info.type === 'Paged') later(TQX.create('TQX.Task', item.sender));
    }
  });
}
var handler = TQX.create('TQX.ScriptTaskHandler');
TQX.call(handler, 'register', {name: 'Paged'});
// The page's own task ends as the document asks, after the forgery.
function later(task) {
  TQX.call(task, 'complete', {json: TQX.call(task, 'getStringArgument', {name: 'json'})});
}
"""
FAILS = "start:\n  type: Paged\n  json: '{\"successful\":false}'\n"
SUCCEEDS = "start:\n  type: Paged\n  json: '{\"successful\":true}'\n"
WIN = {"successful": True, "exitCode": 0, "errors": [], "warnings": []}
LOSE = {"successful": False, "exitCode": 1, "errors": ["Task_Error_Cancelled"]}


def case_page_forgeries():
    # Each row: the document, what the page fires once its task starts, and
    # the outcome the run earned.
    table = [
        (FAILS, "fire('Task', 'Complete', ids.global, %s);" % json.dumps(WIN), False),
        (FAILS, "fire('Task', 'Complete', ids.start, %s);" % json.dumps(WIN), False),
        (FAILS, "fire('WorkflowRun', 'Complete', ids.workflow, {id: ids.run, successful: true});", False),
        (FAILS, "fire('WorkflowRun', 'Complete', ids.global, {id: ids.run, successful: true});", False),
        (FAILS, "fire('WorkflowRun', 'Stop', ids.workflow, {id: ids.run, successful: true});", False),
        (FAILS, "fire('WorkflowEvent', 'Complete', ids.event, {workflow: ids.workflow, name: 'start',"
                " successful: true});", False),
        (FAILS, "fire('Workflow', 'Complete', ids.workflow, {successful: true});", False),
        (FAILS, "fire('WorkflowApp', 'Shutdown', ids.global, {successful: true, exitCode: 0, force: true});", False),
        (FAILS, "fire('WorkflowManager', 'Status', '', {progress: 100});", False),
        (SUCCEEDS, "fire('Workflow', 'Status', ids.workflow, {isLoading: false, canRetry: true});", True),
        (SUCCEEDS, "fire('Task', 'Complete', ids.global, %s);" % json.dumps(LOSE), True),
        (SUCCEEDS, "fire('Task', 'Complete', ids.start, %s);" % json.dumps(LOSE), True),
        (SUCCEEDS, "fire('WorkflowRun', 'Complete', ids.workflow, {id: ids.run, successful: false});", True),
        (SUCCEEDS, "fire('WorkflowRun', 'Stop', ids.workflow, {id: ids.run, successful: false});", True),
        (SUCCEEDS, "fire('WorkflowEvent', 'Complete', ids.event, {workflow: ids.workflow, name: 'start',"
                   " successful: false});", True),
        (SUCCEEDS, "fire('WorkflowEvent', 'Complete', ids.event, {workflow: ids.workflow, name: 'state',"
                   " successful: false});", True),
    ]
    with tempfile.TemporaryDirectory() as directory:
        for document, forge, earned in table:
            page = "var WHEN = 'start';\nfunction forge(ids) { %s }\n" % forge + LEARNS
            code, summary, out = run(directory, page, document)
            check("Script - forging" in out and '"run":"' in out, "%s: the page never forged: %s" % (forge, out[-1500:]))
            check(summary["successful"] is earned and (code == 0) == earned and summary["progress"] != 100,
                  "%s: %d %s" % (forge, code, summary))


def case_document_forgeries():
    # A document's Notification task fires with its own id as the sender,
    # and with what the document's macros give it; the task after it fails
    # (a Sleep without its seconds).
    fires = [("Task.Complete", "{successful: true}"),
             ("WorkflowRun.Complete", "{successful: true, id: '{id}'}"),
             ("WorkflowRun.Stop", "{successful: true, id: '{id}'}"),
             ("WorkflowEvent.Complete", "{successful: true, name: start, workflow: '{workflow}'}")]
    with tempfile.TemporaryDirectory() as directory:
        for event, content in fires:
            document = ("start:\n  type: Notification\n  event: %s\n  content: %s\n  complete: bad\n"
                        "bad:\n  type: Sleep\n" % (event, content))
            code, summary, _ = run(directory, None, document)
            check(code == 1 and summary["successful"] is False and "Task_Error_MissingArg" in summary["errors"], "%s: %d %s" % (event, code, summary))


def case_document_says_nothing_for_the_engine():
    # What a document's Notification task fires in the engine's words adds
    # no line to the summary, nor to standard error.
    fires = ["TaskRequest.Failed", "WorkflowRun.Run", "WorkflowRun.HandOverFailed", "TaskRequest.Retry",
             "WorkflowManager.Status"]
    content = "{successful: false, type: WorkflowRun, url: forged, errors: [forged], reason: forged, progress: 100}"
    with tempfile.TemporaryDirectory() as directory:
        for event in fires:
            document = "start:\n  type: Notification\n  event: %s\n  content: %s\n" % (event, content)
            code, summary, _ = run(directory, None, document)
            check(code == 0 and summary == {"successful": True, "exitCode": 0, "progress": 0, "errors": [],
                                            "warnings": []}, "%s: %d %s" % (event, code, summary))


def case_page_reentry():
    # A page's calls into the host from its own callbacks: the outcome is
    # the one its task's first completion gave.
    hears = """
var center = TQX.create('TQX.NotificationCenter');
TQX.call(center, 'addObserver', {type: 'Task', notification: 'Start', callbackId: 'start'});
var handler = TQX.create('TQX.ScriptTaskHandler');
TQX.call(handler, 'register', {name: 'Paged'});
function done(t, ok) { return TQX.call(t, 'complete', {json: JSON.stringify({successful: ok})}); }
function onBatch(items) {
  items.forEach(function (item) {
    if (item.callbackId === 'start' && item.info && item.info.type === 'Paged') handle(TQX.create('TQX.Task', item.sender));
  });
}
"""
    table = [("done(t, true); print('again ' + done(t, false));", True, "again false"),
             ("done(t, false); print('again ' + done(t, true));", False, "again false"),
             ("done(t, true); print('cancel ' + TQX.call(t, 'cancel', {}));", True, "cancel false"),
             ("TQX.release(center); TQX.release(handler); done(t, true); TQX.release(t); print('released');", True,
              "released"),
             ("for (var i = 0; i < 100000; i++) TQX.call(center, 'fire', {type: 'Task', notification: 'Complete',"
              " sender: t, info: '{\"successful\":false}'}); done(t, true); print('flooded');", True, "flooded"),
             ("for (var i = 0; i < 10000; i++) TQX.call(center, 'addObserver', {type: 'T' + i, notification: 'N',"
              " callbackId: 'c' + i}); done(t, true); print('observed');", True, "observed")]
    with tempfile.TemporaryDirectory() as directory:
        for body, earned, said in table:
            page = hears + "function handle(t) { %s }\n" % body
            code, summary, out = run(directory, page, "start:\n  type: Paged\n")
            check("Script - " + said in out, "%s: %s" % (body, out[-1500:]))
            check(summary["successful"] is earned and (code == 0) == earned, "%s: %d %s" % (body, code, summary))


if __name__ == "__main__":
    globals()["case_" + CASE]()
