#!/usr/bin/python3
"""Documents whose runs fail where nothing can cancel them, through the
built program.

Usage: host_outcome_check.py <program> <case>
failing_runs_end: a WorkflowRun that cannot load its document, inside
"load" or "unload" (directly, in a Queue, or of a child document wherever
the parent runs that child, or further down), and a child whose "start"
completes through a fired "Task"/"Complete": each run ends by itself with
exit 1, says why on standard error and in the summary.
unload_runs_child_start: a WorkflowRun in "unload" runs its child's "start"
and ends with the child's outcome.
loop_only_page <type.name>...: a page that hears only one of the loop's own notifications, or
answers each with a fire it hears too, ends.
shut_down_runs_nothing: nothing runs after a shutdown or a failed "load"; a delayed shutdown lands.
second_signal_says_it: a second signal while "load" or "unload" sleeps says the interrupt too.
page_shuts_down_loading: a page that shuts down as it loads ends the run before "load", every time.
Exit status 0 when the case holds.
"""
import json
import os
import signal
import subprocess
import sys
import tempfile
import time

PROGRAM, CASE = sys.argv[1], sys.argv[2]
LOG = "start:\n  type: Log\n  message: hi\n"


def fail(reason):
    sys.stderr.write("%s: %s\n" % (CASE, reason))
    sys.exit(1)


def run_of(name, document):
    return "%s:\n  type: WorkflowRun\n  url: '{contentUrl}%s'\n" % (name, document)


def write(directory, name, text):
    with open(os.path.join(directory, name), "w") as handle:
        handle.write(text)
    return os.path.join(directory, name)


def run(directory, document, switches=()):
    # The limit only keeps a hang from holding the test: a run that ends
    # does so at once.
    try:
        done = subprocess.run([PROGRAM, "--workflow=" + os.path.join(directory, document), "--disablesecurity"] +
                              list(switches), capture_output=True, text=True, timeout=60)
    except subprocess.TimeoutExpired:
        fail("%s %s did not end" % (document, " ".join(switches)))
    lines = [line for line in done.stdout.splitlines() if line.strip()]
    return done.returncode, json.loads(lines[-1]) if lines else {}, done.stderr


def case_failing_runs_end():
    with tempfile.TemporaryDirectory() as directory:
        files = {"broken.yaml": "start: [unclosed\n",
                 "child-load.yaml": LOG + run_of("load", "missing.yaml"),
                 "child-unload.yaml": LOG + run_of("unload", "missing.yaml"),
                 "child-start.yaml": run_of("start", "missing.yaml"),
                 "self-child-load.yaml": "apply:\n  type: Log\n  message: hi\n" + run_of("load", "missing.yaml"),
                 "self-child-unload.yaml": "apply:\n  type: Log\n  message: hi\n" + run_of("unload", "missing.yaml")}
        # Each row: the document, its switches, the words stderr must hold.
        rows = [(LOG + run_of("load", "missing.yaml"), [], "cannot load"),
                (LOG + run_of("load", "broken.yaml"), [], "cannot load"),
                (LOG + "load:\n  type: Queue\n  actions: [run]\n" + run_of("run", "missing.yaml"), [], "cannot load"),
                (LOG + run_of("unload", "missing.yaml"), [], "cannot load"),
                # Its own "start", but its workflow's run is in "load".
                (LOG + run_of("load", "child-start.yaml"), [], "cannot load")]
        for where in ["start", "state", "load", "unload"]:
            for child in ["child-load.yaml", "child-unload.yaml"]:
                rows.append(((LOG if where in ["load", "unload"] else "") + run_of(where, child), [], "cannot load"))
        for child in ["self-child-load.yaml", "self-child-unload.yaml"]:
            rows.append((run_of("apply", child), ["--wfselfupdate"], "cannot load"))
        for name, text in files.items():
            with open(os.path.join(directory, name), "w") as handle:
                handle.write(text)
        for document, switches, words in rows:
            with open(os.path.join(directory, "parent.yaml"), "w") as handle:
                handle.write(document)
            code, summary, stderr = run(directory, "parent.yaml", switches)
            if code != 1 or summary.get("successful") is not False or words not in stderr:
                fail("%r %s: exit %d, %s, stderr %r" % (document, switches, code, summary, stderr))
            # The self-update run's own outcome is not this case's.
            if not switches and not summary.get("errors"):
                fail("%r: no reason in the summary %s" % (document, summary))
        # A Notification task that fires a task's completion in its own name
        # completes nothing: only the engine says how a task ended.
        for content in ["{}", '{"cancelled": true}', '{"successful": false}']:
            notify = "  type: Notification\n  event: Task.Complete\n  content: %s\n" % content
            children = {"notify.yaml": "start:\n" + notify,
                        "notify-queue.yaml": "start:\n  type: Queue\n  actions: [fire]\nfire:\n" + notify}
            for name, text in children.items():
                with open(os.path.join(directory, name), "w") as handle:
                    handle.write(text)
                with open(os.path.join(directory, "parent.yaml"), "w") as handle:
                    handle.write(run_of("start", name))
                code, summary, stderr = run(directory, "parent.yaml", [])
                if code != 0 or summary.get("successful") is not True:
                    fail("%s %s: exit %d, %s, stderr %r" % (name, content, code, summary, stderr))

def case_unload_runs_child_start():
    with tempfile.TemporaryDirectory() as directory:
        with open(os.path.join(directory, "child.yaml"), "w") as handle:
            handle.write("start:\n  type: Queue\n  actions: [wait, boom]\nwait:\n  type: Sleep\n  seconds: 0.1\n"
                         "boom:\n  type: Error\n  message: the child's start ran\n")
        with open(os.path.join(directory, "parent.yaml"), "w") as handle:
            handle.write(LOG + run_of("unload", "child.yaml"))
        code, summary, stderr = run(directory, "parent.yaml")
        if code != 1 or "the child's start ran" not in summary.get("errors", []):
            fail("exit %d, %s, stderr %r" % (code, summary, stderr))


def case_loop_only_page():
    with tempfile.TemporaryDirectory() as directory:
        write(directory, "w.yaml", LOG)
        for kind, name in (each.split(".") for each in sys.argv[3:]):
            # Hearing it alone, and answering each item with a fire (now or
            # later) that the page hears too: an echo of the loop is the loop's.
            for answer in ["", "fire", "fireAfterDelay"]:
                page = write(directory, "p.js", "var c = TQX.create('TQX.NotificationCenter'); TQX.call(c, 'addObserver', "
                             "{type: '%s', notification: '%s', callbackId: 'p'}); TQX.call(c, 'addObserver', {type: 'Mine', "
                             "notification: 'Echo', callbackId: 'q'}); function onBatch(items) { if ('%s') items.forEach("
                             "function () { TQX.call(c, '%s', {type: 'Mine', notification: 'Echo', sender: '', delay: 0, "
                             "info: '{}'}); }); }\n" % (kind, name, answer, answer))
                code, summary, stderr = run(directory, "w.yaml", ["--script=" + page])
                if code != 0 or summary.get("successful") is not True:
                    fail("%s.%s %s: exit %d, %s, stderr %r" % (kind, name, answer, code, summary, stderr))


def case_shut_down_runs_nothing():
    shut, late = ['the workflow was shut down before "launch" ran'], "{type: Notification, event: WorkflowApp.Shutdown, "
    with tempfile.TemporaryDirectory() as directory:
        write(directory, "child.yaml", "load: {type: Error, message: boom}\nstart: {type: End, exitCode: 9}\n")
        victim = write(directory, "victim", "")
        rows = [("state: {type: Shutdown, exitCode: 4}\nlaunch: {type: End, exitCode: 9}\n", ["--task=launch"], 4, shut),
                ("state: {type: Shutdown, exitCode: 4}\nlaunch: {type: Implode, path: '%s'}\n" % victim,
                 ["--task=launch"], 4, shut),
                ("load: {type: Error, message: boom}\napply: {type: End, exitCode: 5}\n", ["--wfselfupdate"], 1, ["boom"]),
                (run_of("start", "child.yaml"), [], 1, ["boom"])]
        url = "file://" + write(directory, "late.yaml", "start: {type: Implode, path: '%s'}\n" % victim)
        page = write(directory, "p.js", "var c = TQX.create('TQX.NotificationCenter'); TQX.call(c, 'addObserver', {type: "
                     "'WorkflowApp', notification: 'Shutdown', callbackId: 's'}); function onBatch() { TQX.call(c, "
                     "'fire', {type: 'WorkflowRun', notification: 'Start', sender: '', info: JSON.stringify({url: '%s'})}); }\n" % url)
        rows.append(("state: {type: Shutdown, exitCode: 4}\n", ["--script=" + page], 4, []))  # a page's late start hung
        rows += [("start: " + late + "delay: %d, content: {exitCode: 7}}\n" % delay, [], 7, []) for delay in (1, 2 ** 31 - 1)]
        for document, switches, want, errors in rows:
            write(directory, "w.yaml", document)
            code, summary, stderr = run(directory, "w.yaml", switches)
            if code != want or summary.get("errors") != errors or not os.path.exists(victim):
                fail("%r %s: exit %d, %s, stderr %r" % (document, switches, code, summary, stderr))


def case_second_signal_says_it():
    with tempfile.TemporaryDirectory() as directory:
        # A late one: one signal while the page's onUnload runs, after the summary was kept.
        page = write(directory, "p.js", "function onUnload() { TQX.call('x', 'y', {}); while (true) {} }\n")
        for where, each in [("load", signal.SIGINT), ("unload", signal.SIGINT), ("load", signal.SIGHUP),
                            ("unload", signal.SIGTERM), ("load", signal.SIGQUIT)] + [("late", each) for each in (2, 15)]:
            log = os.path.join(directory, "%s%d" % (where, each), "host.developer.log")
            late = where == "late"
            document = write(directory, "w.yaml", LOG + ("" if late else "%s: {type: Sleep, seconds: 60}\n" % where))
            process = subprocess.Popen([PROGRAM, "--workflow=" + document, "--disablesecurity", "--debug",
                                        "--debugdir=" + os.path.dirname(log)] + ["--script=" + page] * late,
                                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
            # Each signal once the last one was taken.
            for text in ["refused: the run has ended"] if late else ["Waiting 60.00 seconds", "Host - Interrupted"]:
                deadline = time.time() + 30  # bounds only a build that never logs it
                while process.poll() is None and time.time() < deadline and not (os.path.exists(log) and
                                                                                 text in open(log).read()):
                    time.sleep(0.01)
                process.send_signal(each)
            out, err = process.communicate(timeout=60)
            if process.returncode != 130 or "velmarsh: Host_Error_Interrupted\n" not in err:
                fail("%s %d: exit %d, %r, stderr %r" % (where, each, process.returncode, out, err))


def case_page_shuts_down_loading():
    with tempfile.TemporaryDirectory() as directory:
        write(directory, "w.yaml", LOG)
        page = write(directory, "p.js", "TQX.call(TQX.create('TQX.NotificationCenter'), 'fire', {type: 'WorkflowApp', "
                     "notification: 'Shutdown', sender: '', info: '{\"exitCode\": 3}'});\n")
        for _ in range(6):
            code, summary, stderr = run(directory, "w.yaml", ["--script=" + page])
            if code != 3 or summary.get("errors") != ['the workflow was shut down before "load" ran']:
                fail("exit %d, %s, stderr %r" % (code, summary, stderr))


CASES = {name[5:]: function for name, function in globals().items() if name.startswith("case_")}
if CASE not in CASES:
    fail("unknown case")
CASES[CASE]()
