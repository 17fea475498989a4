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


def events():
    # Every notification some part of the engine or the host observes: the
    # list the robustness cases fire.
    with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "host_robust_check.py")) as f:
        text = f.read()
    start = text.index("\nEVENTS = ")
    listed = {}
    exec(text[start:text.index("\n\n", start)], listed)
    # What a page or a document may ask for, not claim: a shutdown, a cancel,
    # a retry and a pause act as asked (their rows are in unrun_entry).
    asks = {("WorkflowApp", "Shutdown"), ("Task", "Cancel"), ("Workflow", "Cancel"), ("Task", "Retry"),
            ("Workflow", "Retry"), ("Workflow", "Deactivate"), ("Progress", "TogglePause")}
    return [event for event in listed["EVENTS"] if event not in asks]


# What a forged outcome says, both ways; the run's id and names are filled in
# where the page learnt them.
CLAIMS = {"successful": True, "cancelled": False, "errors": ["forged"], "warnings": ["forged"], "exitCode": 42,
          "progress": 100, "name": "start", "exists": True, "canRetry": True, "isLoading": False}
STAGES = ["load", "start", "unload"]
OUTCOMES = [("", True), ("  - bad\nbad:\n  type: Error\n  message: it fails\n", False)]


def staged(stage, tail):
    # "fire" in the stage named, "hi" elsewhere; "start" goes on to its work.
    act = dict((each, "fire" if each == stage else "hi") for each in STAGES)
    return ("load:\n  type: Queue\n  actions: [%s]\nunload:\n  type: Queue\n  actions: [%s]\n"
            "start:\n  type: Queue\n  actions:\n  - %s\n  - hi\n%shi:\n  type: Log\n  message: hi\n" %
            (act["load"], act["unload"], act["start"], tail))


def holds(what, result, earned):
    code, summary, _ = result
    forged = [each for each in summary["errors"] + summary["warnings"] if "forged" in each]
    if summary["successful"] is not earned or (code == 0) != earned or code == 42 or forged or \
            summary["progress"] == 100 or (not earned and summary["errors"] != ["it fails"]):
        return "%s: %d %s" % (what, code, summary)
    return None


def case_record_holds():
    # Every engine notification, from a document's Notification task and
    # from a page, in every stage; the page also adds a failing run under
    # every id it has learnt. The outcome is the workflow's own.
    page = LEARNS.replace("WHEN", "STAGE") + """
var manager = TQX.create('TQX.WorkflowManager');
function forge(ids) {
  EVENTS.forEach(function (event) {
    Object.keys(ids).forEach(function (key) {
      var info = JSON.parse(JSON.stringify(CLAIMS));
      info.id = ids.run; info.workflow = ids.workflow; info.task = ids[key];
      fire(event[0], event[1], ids[key], info);
    });
  });
  Object.keys(ids).forEach(function (key) {
    var answer = TQX.call(manager, 'add', {json: JSON.stringify({url: FAILS_URL, id: ids[key]}), callbackId: key});
    if (key === 'run') print('add under the run id: ' + answer);
  });
}
"""
    wrong = []
    with tempfile.TemporaryDirectory() as top:
        def row(args):
            index, (source, stage, (tail, earned)) = args
            directory = os.path.join(top, str(index))
            os.mkdir(directory)
            fails = write(directory, "fails.yaml", "start:\n  type: Error\n  message: it fails\n")
            if source == "page":
                script = "var STAGE = %r, EVENTS = %s, CLAIMS = %s, FAILS_URL = %r;\n%s" % (
                    stage, json.dumps(events()), json.dumps(CLAIMS), "file://" + fails, page)
                result = run(directory, script, staged(None, tail))
                if "add under the run id: false" not in result[2]:
                    return "page at %s: the add under the run id was not refused" % stage
                return holds("page at %s" % stage, result, earned)
            document = staged(stage, tail) + "fire:\n  type: Notification\n  event: %s.%s\n  content: %s\n" % (
                source + (json.dumps(CLAIMS),))
            return holds("%s.%s at %s" % (source + (stage,)), run(directory, None, document), earned)

        rows = [("page", stage, outcome) for stage in STAGES for outcome in OUTCOMES] + \
               [(event, stage, outcome) for event in events() for stage in STAGES for outcome in OUTCOMES]
        from concurrent.futures import ThreadPoolExecutor
        with ThreadPoolExecutor(max_workers=4) as pool:
            wrong = [line for line in pool.map(row, enumerate(rows)) if line]
    check(not wrong, "%d of %d runs:\n%s" % (len(wrong), len(rows), "\n".join(wrong[:20])))


def case_unrun_entry():
    # A run whose "start" never ran is no success, whatever ended it; a
    # shutdown keeps the code it asks for. The page acts while "load" (which
    # nothing cancels) sleeps.
    at = """
var center = TQX.create('TQX.NotificationCenter'), manager = TQX.create('TQX.WorkflowManager');
TQX.call(center, 'addObserver', {type: 'Task', notification: 'Start', callbackId: 'start'});
function shut(info) { TQX.call(center, 'fire', {type: 'WorkflowApp', notification: 'Shutdown', sender: '', info: info}); }
function onBatch(items) {
  items.forEach(function (item) { if (item.callbackId === 'start' && item.info.name === 'load') act(); });
}
"""
    shut, unloaded = 'the workflow was shut down before "start" ran', 'the workflow was unloaded before "start" ran'
    fails = "load:\n  type: Sleep\n  seconds: 0.5\nstart:\n  type: Error\n  message: it fails\n"
    # Each row: the page (None: none), the document, the exit code and the
    # errors it may end with.
    table = [("function act() {}\nshut('{}');", fails, 1, ["it fails", shut, "Task_Error_Cancelled"]),
             # It waits until "load" is done; "start" may be queued by then.
             ("function act() { shut('{}'); }", fails, 1, ["it fails", shut]),
             ("function act() { shut('{\"force\":true,\"exitCode\":5}'); }", fails, 5, [shut]),
             ("function act() { TQX.call(manager, 'unload', {}); }", fails, 1, ["it fails", unloaded]),
             ("function act() { shut('{\"force\":true,\"exitCode\":0}'); }", fails.replace("Error", "Log"), 1, [shut]),
             (None, "load:\n  type: Shutdown\nstart:\n  type: Error\n  message: it fails\n", 1, ["it fails"])]
    with tempfile.TemporaryDirectory() as directory:
        for page, document, want, errors in table:
            code, summary, _ = run(directory, page and at + page, document)
            check(code == want and summary["successful"] is False and summary["errors"] and
                  all(each in errors for each in summary["errors"]), "%s: %d %s" % (page, code, summary))


def case_dependencies():
    # A dependency on itself, or one that closes a cycle, is refused: the
    # workflow still runs and ends with its own outcome.
    page = """
var center = TQX.create('TQX.NotificationCenter'), manager = TQX.create('TQX.WorkflowManager');
TQX.call(center, 'addObserver', {type: 'WorkflowRun', notification: 'Start', callbackId: 'start'});
TQX.call(manager, 'setHardDependency', {hardDependency: HARD});
function depend(id, on) { return TQX.call(manager, 'addDependency', {id: id, dependencyId: on}); }
function onBatch(items) {
  items.forEach(function (item) {
    if (item.callbackId !== 'start' || !item.info.id) return;
    var run = item.info.id;
    print('answers ' + [depend(run, run), depend(run, 'other'), depend('other', 'third'), depend('third', run),
                        depend('other', run)].join(','));
  });
}
"""
    with tempfile.TemporaryDirectory() as directory:
        for hard in ["false", "true"]:
            code, summary, out = run(directory, "var HARD = %s;\n%s" % (hard, page),
                                     "start:\n  type: Log\n  message: hi\n")
            check("Script - answers false,true,true,false,false" in out and code == 0 and summary["successful"],
                  "hard %s: %d %s %r" % (hard, code, summary, [l for l in out.splitlines() if "answers" in l]))


def case_late_adds():
    # An add that could no longer run answers false; runs a document starts
    # past the process's limit warn as a page's do.
    page = """
var center = TQX.create('TQX.NotificationCenter'), manager = TQX.create('TQX.WorkflowManager');
TQX.call(center, 'addObserver', {type: 'WorkflowRun', notification: 'Complete', callbackId: 'done'});
function add(when) { print(when + ' ' + TQX.call(manager, 'add', {json: JSON.stringify({url: URL}), callbackId: when})); }
function onBatch(items) { items.forEach(function (item) { if (item.callbackId === 'done') add('complete'); }); }
function onUnload() { add('unload'); }
"""
    with tempfile.TemporaryDirectory() as directory:
        fails = write(directory, "fails.yaml", "start:\n  type: Error\n  message: it fails\n")
        code, summary, out = run(directory, "var URL = %r;\n%s" % ("file://" + fails, page),
                                 "start:\n  type: Log\n  message: hi\n")
        check(code == 0 and summary["successful"] and "Script - complete false" in out and
              "Script - unload false" in out, "%d %s %r" % (code, summary, [l for l in out.splitlines() if "Script" in l]))
        document = "start:\n  type: Queue\n  actions: [%s]\nn:\n  type: Notification\n  event: WorkflowRun.Start\n" \
                   "  content: {url: '%s'}\n" % (", ".join(["n"] * 1001), "file://" + fails)
        code, summary, _ = run(directory, None, document.replace("actions: [n,", "actions: [hi, n,") +
                               "hi:\n  type: Log\n  message: hi\n")
        check(code == 0 and any("WorkflowRun_Error_TooMany" in each for each in summary["warnings"]),
              "past the limit: %d %s" % (code, summary))


def case_signals():
    # Every signal that ends the program ends the run in order: the unload
    # runs, the summary is the last line, the exit code 130.
    document = "start:\n  type: Sleep\n  seconds: 30\nunload:\n  type: Log\n  message: unloaded\n"
    with tempfile.TemporaryDirectory() as directory:
        workflow = write(directory, "w.yaml", document)
        line = [PROGRAM, "--workflow=" + workflow, "--disablesecurity", "--window"]
        ending = [signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGQUIT, signal.SIGUSR1]

        def plain():
            # Whatever this test's own starter ignored (nohup): the program
            # keeps a signal ignored when it starts so.
            for number in ending:
                signal.signal(number, signal.SIG_DFL)
        for number in ending:
            process = subprocess.Popen(line, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, cwd=directory,
                                       preexec_fn=plain)
            for text in process.stdout:
                if "Waiting 30" in text:
                    break
            process.send_signal(number)
            out, err = process.communicate(timeout=60)
            check(process.returncode == 130 and ".unload - unloaded" in out and
                  json.loads(out.splitlines()[-1])["errors"][0] == "Host_Error_Interrupted",
                  "%s: %d %r %r" % (number, process.returncode, out[-300:], err))
        # One that came before the program could take it (here: held from
        # before it began) is taken as soon as it can be.
        def held():
            plain()
            signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGTERM})
            os.kill(os.getpid(), signal.SIGTERM)
        done = subprocess.run(line, capture_output=True, text=True, timeout=60, preexec_fn=held, cwd=directory)
        check(done.returncode == 130 and '"errors":["Host_Error_Interrupted"' in done.stdout.splitlines()[-1],
              "held: %d %r" % (done.returncode, done.stdout[-300:]))
        # A reader of the summary that went away: the exit code stays the run's.
        write(directory, "w.yaml", "start:\n  type: End\n  exitCode: 7\nunload:\n  type: Log\n  message: bye\n")
        reader, writer = os.pipe()
        os.close(reader)
        done = subprocess.run(line[:-1], stdout=writer, stderr=subprocess.PIPE, text=True, timeout=60, cwd=directory)
        os.close(writer)
        check(done.returncode == 7, "closed output: %d %r" % (done.returncode, done.stderr))


if __name__ == "__main__":
    globals()["case_" + CASE]()
