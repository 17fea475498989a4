#!/usr/bin/python3
"""What a page script (--script) or a document's Notification task may fire,
through the built program: the summary stays what the workflow's run did.

Usage: host_forge_check.py <program> <case>
Exit status 0 when the case holds, else 1 with the reason on standard error.
"""
import json
import os
import signal
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


def events():  # what the engine or the host observes (the robustness cases' list) but what a page may ask for
    text, listed = open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "host_robust_check.py")).read(), {}
    exec(text[text.index("\nEVENTS = "):text.index("\n\n", text.index("\nEVENTS = "))], listed)
    return [event for event in listed["EVENTS"] if event[1] not in ("Shutdown", "Cancel", "Retry", "Deactivate",
                                                                     "TogglePause")]


CLAIMS = {"successful": True, "errors": ["forged"], "warnings": ["forged"], "exitCode": 42, "progress": 100,
          "name": "start", "exists": True, "canRetry": True}
PAGE = """var center = TQX.create('TQX.NotificationCenter'), manager = TQX.create('TQX.WorkflowManager');
TQX.call(center, 'addObserver', {type: 'Global', notification: 'Global', callbackId: 'all'});
function on(item) {}
function onBatch(items) { items.forEach(function (item) { on(item); }); }
function call(name, args) { return TQX.call(manager, name, args); }
function add(id) { return call('add', {json: JSON.stringify({url: FAILS, id: id}), callbackId: 'c' + id}); }
function shut(info) { TQX.call(center, 'fire', {type: 'WorkflowApp', notification: 'Shutdown', sender: '', info: info}); }
"""
FAILS = "start:\n  type: Error\n  message: it fails\n"


def case_record_holds():
    # Every engine notification, from a document's Notification task and from a page, in every stage; the
    # page adds a failing run under every id it learnt. The outcome is the workflow's own.
    forge = "var ids = {}, done = false; function on(item) { ids[item.sender] = 1; if (item.info && item.info.id)" \
        " ids[item.info.id] = 1; if (done || item.type !== 'Task' || item.notification !== 'Start' || item.info.name" \
        " !== STAGE) return; done = true; Object.keys(ids).forEach(function (id) { EVENTS.forEach(function (e) {" \
        " TQX.call(center, 'fire', {type: e[0], notification: e[1], sender: id, info: JSON.stringify(CLAIMS)}); });" \
        " if (add(id) === false) print('refused ' + id); }); }\n"

    def row(args):
        event, stage, earned = args
        directory = tempfile.mkdtemp(dir=top)
        act = dict((each, "fire" if each == stage and event else "hi") for each in ["load", "start", "unload"])
        document = "".join("%s:\n  type: Queue\n  actions: [%s, hi%s]\n" % (each, act[each], "" if earned or
                           each != "start" else ", bad") for each in act) + "hi: {type: Log, message: hi}\n" + \
            "bad: {type: Error, message: it fails}\nfire: {type: Notification, event: %s, content: %s}\n" % (
                event, json.dumps(CLAIMS))
        page = None if event else "var STAGE = %r, EVENTS = %s, CLAIMS = %s, FAILS = %r;\n%s%s" % (
            stage, json.dumps(events()), json.dumps(CLAIMS), "file://" + write(directory, "f.yaml", FAILS), PAGE, forge)
        code, summary, out = run(directory, page, document)
        lost = [each for each in summary["errors"] + summary["warnings"] if "forged" in each] or \
            (page and "Script - refused" not in out) or summary["progress"] == 100 or code == 42
        if lost or summary["successful"] is not earned or summary["errors"] != ([] if earned else ["it fails"]):
            return "%s at %s: %d %s" % (event or "page", stage, code, summary)

    rows = [(event, stage, earned) for event in [None] + ["%s.%s" % each for each in events()]
            for stage in ["load", "start", "unload"] for earned in [True, False]]
    with tempfile.TemporaryDirectory() as top:
        with __import__("concurrent.futures").futures.ThreadPoolExecutor(max_workers=4) as pool:
            wrong = [line for line in pool.map(row, rows) if line]
    check(not wrong, "%d of %d runs:\n%s" % (len(wrong), len(rows), "\n".join(wrong[:20])))


def case_page_asks():
    # What no run could follow is refused; once the workflow unloads (a shutdown, forced or not, a page's or the
    # document's own; an unload) nothing of it starts: the run fails with why, "start" never ran (a shutdown keeps
    # its code). Row: what the page does once "load" starts ("!": as it loads), "start", the exit code, the one
    # error it may end with (or the line it prints).
    shut, unloaded = 'the workflow was shut down before "start" ran', 'the workflow was unloaded before "start" ran'
    table = [("!shut('{}');", FAILS, 1, [shut, shut.replace('start', 'load')]),
             ("shut('{}');", FAILS, 1, [shut]),
             ("shut('{\"force\":true,\"exitCode\":5}');", FAILS, 5, [shut]),
             ("call('unload', {callbackId: 'u'});", FAILS, 1, [unloaded]),
             ("shut('{\"force\":true,\"exitCode\":0}');", "start: {type: Log, message: it fails}\n", 1, [shut]),
             (None, "load: {type: Shutdown}\n" + FAILS, 1, [shut]),
             # Waits nothing left can end: the flow off and on again while "load" ended (nothing queued "start").
             ("call('setFlowControl', {flowControl: false}); on = function (item) { if (item.type === 'WorkflowEvent'"
              " && item.info.name === 'load') call('setFlowControl', {flowControl: true}); };", "", 1,
              ['the run waits on "start", which nothing left will run']),
             # A dependency on itself or closing a cycle, a late add.
             ("print('answers ' + [call('addDependency', {id: RUN, dependencyId: RUN}), call('addDependency', {id: RUN,"
              " dependencyId: 'b'}), call('addDependency', {id: 'b', dependencyId: RUN}), call('setHardDependency',"
              " {hardDependency: true}), call('addDependency', {id: RUN, dependencyId: RUN})]);", "", 0,
              ["answers false,true,false,true,false"]),
             ("!function onUnload() { print('late ' + add('x')); }", "", 0, ["late false"])]
    with tempfile.TemporaryDirectory() as directory:
        for act, start, want, errors in table:
            page = act and "var FAILS = %r, RUN; %sfunction on(item) { if (item.info && item.info.id) RUN = item.info.id;" \
                " if (item.type === 'Task' && item.notification === 'Start' && item.info.name === 'load') { %s } }\n%s" % (
                    "file://" + write(directory, "f.yaml", FAILS), PAGE, "" if act[0] == "!" else act,
                    act[1:] if act[0] == "!" else "")
            start = start or "start: {type: Log, message: hi}\n"
            code, summary, out = run(directory, page, ("load: {type: Sleep, seconds: 0.5}\n" if act else "") + start)
            check(code == want and (summary["successful"] and ("Script - " + errors[0]) in out if want == 0 else
                  summary["successful"] is False and len(summary["errors"]) == 1 and summary["errors"][0] in errors
                  and "- it fails" not in out),
                  "%s: %d %s" % (act, code, summary))
        # Runs a document starts past the process's limit warn as a page's do.
        code, summary, _ = run(directory, None, "start: {type: Queue, actions: [hi%s]}\nhi: {type: Log, message: hi}\n"
                               "n: {type: Notification, event: WorkflowRun.Start, content: {url: 'file://%s'}}\n" % (
                                   ", n" * 1001, write(directory, "f.yaml", FAILS)))
        check(code == 0 and "WorkflowRun_Error_TooMany" in str(summary["warnings"]), "limit: %d %s" % (code, summary))


def case_signals():
    # Each signal that ends the program ends the run in order (the unload, the summary, 130), also one held
    # from before it began; a closed standard output keeps the run's code.
    ending = [signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGQUIT, signal.SIGUSR1]
    def plain(held=False):  # what this test's starter ignored (nohup) the program would keep ignored
        [signal.signal(number, signal.SIG_DFL) for number in ending]
        if held:
            signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGTERM})
            os.kill(os.getpid(), signal.SIGTERM)
    with tempfile.TemporaryDirectory() as directory:
        line = [PROGRAM, "--workflow=" + write(directory, "w.yaml", "start: {type: Sleep, seconds: 30}\n"
                                               "unload: {type: Log, message: unloaded}\n"), "--disablesecurity", "--window"]
        for number in ending + [None]:
            process = subprocess.Popen(line, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, cwd=directory,
                                       preexec_fn=lambda: plain(number is None))
            for text in process.stdout if number else []:
                if "Waiting 30" in text:
                    process.send_signal(number)
                    break
            out, err = process.communicate(timeout=60)
            check(process.returncode == 130 and (".unload - unloaded" in out or number is None) and
                  json.loads(out.splitlines()[-1])["errors"][0] == "Host_Error_Interrupted",
                  "%s: %d %r %r" % (number, process.returncode, out[-300:], err))
        write(directory, "w.yaml", "start: {type: End, exitCode: 7}\n")
        reader, writer = os.pipe()
        os.close(reader)
        done = subprocess.run(line[:-1], stdout=writer, stderr=subprocess.PIPE, timeout=60, cwd=directory)
        check(done.returncode == 7, "closed output: %d %r" % (done.returncode, done.stderr))


if __name__ == "__main__":
    globals()["case_" + CASE]()
