#!/usr/bin/python3
"""End-to-end checks of the host's workflow job through the built program.

Usage: host_workflow_check.py <program> <source dir> <case>
Each case runs the program, parses the JSON summary (the last line on
standard output) and checks the exit code and the log; exit status 0 when
the case holds, else 1 with the reason on standard error.
"""
import base64
import datetime
import json
import os
import pty
import random
import re
import select
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.request

from shared_folder import shared_temporary_directory

PROGRAM, SOURCE, CASE = sys.argv[1], sys.argv[2], sys.argv[3]
EXAMPLES = os.path.join(SOURCE, "examples")
PEER = os.path.join(SOURCE, "tests", "peers", "workflowpeer.py")


def fail(reason):
    sys.stderr.write("%s: %s\n" % (CASE, reason))
    sys.exit(1)


def check(condition, reason):
    if not condition:
        fail(reason)


def run(args, cwd=None, timeout=60, program=None):
    done = subprocess.run([program or PROGRAM] + args, cwd=cwd, capture_output=True, text=True, timeout=timeout)
    return done.returncode, done.stdout, done.stderr


def summary(stdout):
    lines = [line for line in stdout.splitlines() if line.strip()]
    check(lines, "no output")
    try:
        value = json.loads(lines[-1])
    except ValueError:
        fail("last line is no JSON: %r" % lines[-1])
    check(set(value) == {"successful", "exitCode", "progress", "errors", "warnings"}, "keys %s" % sorted(value))
    return value


class Peer:
    def __init__(self, root):
        self.process = subprocess.Popen([sys.executable, "-u", PEER, root], stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, text=True)
        self.port = int(self.process.stdout.readline().split()[1])

    def url(self, path):
        return "http://127.0.0.1:%d/%s" % (self.port, path)

    def get(self, path):
        with urllib.request.urlopen(self.url(path)) as answer:
            return json.loads(answer.read())

    def close(self):
        self.process.stdin.close()
        self.process.wait(10)


def write(directory, name, text):
    path = os.path.join(directory, name)
    with open(path, "w") as f:
        f.write(text)
    return path


LOG_LINES = ["WorkflowManager - Add - ", "Trigger workflow with parameters", "Created workflow - ",
             "Completed from unload event", "Hello from the nested workflow", "Goodbye from Demo",
             "WorkflowManager - Overall Progress - 1.00", "WorkflowManager - Task Queue - "]


def check_demo(code, stdout):
    value = summary(stdout)
    check(code == 0, "exit code %d" % code)
    check(value["successful"] is True and value["exitCode"] == 0, "summary %s" % value)
    check(value["progress"] == 100, "progress %s" % value["progress"])
    for line in LOG_LINES:
        check(line in stdout, "log lacks %r" % line)
    check("Not all memory" not in stdout, "memory left at exit")


def case_demo_path():
    # A path relative to the caller's directory.
    code, out, _ = run(["--workflow=examples/demo.yaml", "--disablesecurity", "--window", "--memorytracking"],
                       cwd=SOURCE)
    check_demo(code, out)
    check("WorkflowManager - Add - file://" + EXAMPLES + "/demo.yaml" in out, "not a file URL")
    check("Hostname not found in whitelist" not in out, "a file URL has no host to look up")


def case_demo_http():
    peer = Peer(EXAMPLES)
    try:
        code, out, _ = run(["--workflow=" + peer.url("demo.yaml"), "--disablesecurity", "--window",
                            "--memorytracking"])
        check_demo(code, out)
        requests = peer.get("requests")
        check("/demo.yaml" in requests and "/demo-nested.yaml" in requests, "peer saw %s" % requests)
    finally:
        peer.close()


def case_exit_code():
    with tempfile.TemporaryDirectory() as directory:
        path = write(directory, "fail.yaml", "start:\n  type: Error\n  message: 'it broke: %n%s'\n"
                                             "  exitCode: 3\n")
        code, out, _ = run(["--workflow=" + path, "--disablesecurity"])
        value = summary(out)
        check(code == 3 and value["exitCode"] == 3, "exit %d, summary %s" % (code, value))
        check(value["successful"] is False and value["errors"], "summary %s" % value)


def case_usage():
    with tempfile.TemporaryDirectory() as directory:
        good = write(directory, "ok.yaml", "start:\n  type: Log\n  message: hi\n")
        for args in (["--workflow=https://127.0.0.1/demo.yaml"], ["--workflow=" + directory + "/none.yaml"],
                     ["--workflow="], ["--workflow=ftp://x/y.yaml"], ["--workflow=" + good, "--task="],
                     ["--workflow=" + good, "--disablesecurity=yes"],
                     ["--workflow=" + good, "--config=" + directory + "/none.json"],
                     ["--config=" + directory + "/none.json"], ["--task=install"], ["--script=page.js"],
                     ["--disablesecurity", "--debug"], ["--workflow=" + good, "--Workflow=" + good],
                     ["--workflow=" + good, "--task=a", "--task=b"], ["--workflow=" + good, "--debug=INFO", "--debug"],
                     ["--workflow=http://[::1"], ["--workflow=http://[zz]/x"], ["--workflow=http://%zz/x"],
                     ["--workflow=http://a b/x"], ["--workflow=http://:80/x"], ["--workflow=" + good, "--task=,"],
                     ["--workflow=" + good, "--task=a,,b"], ["--workflow=" + good, "--task=a,"]):
            code, out, err = run(args)
            check(code == 2, "%s exit %d" % (args, code))
            check(out == "", "%s printed %r" % (args, out))
            check(len(err.splitlines()) == 1 and err.startswith("velmarsh: "), "%s stderr %r" % (args, err))
        code, _, err = run(["--workflow=https://h/x.yaml"])
        check("https is not available in this build" in err, err)
        code, _, err = run(["--workflow=" + good, "--workflow=" + directory + "/other.yaml"])
        check(err == "velmarsh: --workflow is given more than once: it takes one value\n", err)
        code, _, err = run(["--workflow=http://[::1"])
        check(err == "velmarsh: not a usable URL (its IPv6 address is not closed): http://[::1\n", err)
        code, _, err = run(["--workflow=" + good, "--task=,"])
        check(err == "velmarsh: --task holds an empty name: give names separated by single commas\n", err)
        code, _, err = run(["--task=install"])
        check(err == "velmarsh: --task needs --workflow=<path|file:///path|http://url> (see --help)\n", err)
        code, out, err = run([])
        check(code == 2 and out == "" and err.startswith("Usage: velmarsh --workflow=") and "--help" in err,
              "no argument: %d %r %r" % (code, out, err))


def start(args, cwd=None):
    return subprocess.Popen([PROGRAM] + args, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            text=True)


def wait_for(process, path, text, seconds=20):
    deadline = time.time() + seconds
    while time.time() < deadline:
        if os.path.exists(path) and text in open(path, errors="replace").read():
            return
        if process.poll() is not None:
            fail("ended before %r" % text)
        time.sleep(0.02)
    process.kill()  # it must not write on into a folder the test removes
    process.wait()
    fail("never saw %r" % text)


def case_interrupt():
    with tempfile.TemporaryDirectory() as directory:
        path = write(directory, "long.yaml", "start:\n  type: Sleep\n  seconds: 60\n"
                                             "unload:\n  type: Log\n  message: unloaded\n")
        logs = os.path.join(directory, "logs")
        process = start(["--workflow=" + path, "--disablesecurity", "--debug", "--debugdir=" + logs])
        log = os.path.join(logs, "host.developer.log")
        wait_for(process, log, "Waiting 60.00 seconds")
        process.send_signal(signal.SIGINT)
        out, _ = process.communicate(timeout=20)
        value = summary(out)
        check(process.returncode == 130 and value["exitCode"] == 130, "exit %d %s" % (process.returncode, value))
        text = open(log).read()
        check("Wait cancelled" in text and "unloaded" in text, "no clean unload")
        check("Not all memory" not in text, "memory left")


def case_second_signal_at_once():
    # The main thread is busy for good (the page's onBatch never returns):
    # the second signal still ends the process, with the summary.
    with tempfile.TemporaryDirectory() as directory:
        page = write(directory, "spin.js", "var center = TQX.create('TQX.NotificationCenter');\n"
                     "TQX.call(center, 'addObserver', {type: 'Task', notification: 'Start', callbackId: 's'});\n"
                     "function onBatch(items) { print('spinning'); for (;;) {} }\n")
        path = write(directory, "spin.yaml", "start:\n  type: Log\n  message: hi\n")
        process = start(["--workflow=" + path, "--script=" + page, "--disablesecurity", "--window"])
        seen = ""
        while "spinning" not in seen:
            line = process.stdout.readline()
            check(line, "ended before the page spun")
            seen += line
        process.send_signal(signal.SIGINT)
        time.sleep(0.2)
        process.send_signal(signal.SIGTERM)
        try:  # without the second signal it would spin for good: a loaded machine may take its time
            out, _ = process.communicate(timeout=60)
        except subprocess.TimeoutExpired:
            process.kill()
            process.communicate()
            fail("the second signal did not end the process at once")
        value = summary(out)
        check(process.returncode == 130 and value["exitCode"] == 130, "exit %d %s" % (process.returncode, value))
        check(value["errors"] == ["Host_Error_Interrupted"], "summary %s" % value)


def case_interrupt_load_fetch():
    # "load" cannot be cancelled: one signal still ends a run whose "load"
    # fetches from a refused port (a retry waits) or from a peer that drips.
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    refused = listener.getsockname()[1]
    listener.close()
    peer = Peer(EXAMPLES)
    try:
        with tempfile.TemporaryDirectory() as directory:
            for url in ("http://127.0.0.1:%d/m.json" % refused, peer.url("endless/m.json")):
                path = write(directory, "load.yaml", "load:\n  type: Macro\n  url: '%s'\n"
                                                     "start:\n  type: Log\n  message: hi\n" % url)
                logs = os.path.join(directory, "logs")
                process = start(["--workflow=" + path, "--disablesecurity", "--debug", "--debugdir=" + logs])
                wait_for(process, os.path.join(logs, "host.developer.log"),
                         "Waiting for retry" if "endless" not in url else "Created - load")
                time.sleep(0.5)
                process.send_signal(signal.SIGINT)
                try:
                    out, _ = process.communicate(timeout=10)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.communicate()
                    fail("one signal did not end a run whose load fetches %s" % url)
                value = summary(out)
                check(process.returncode == 130 and "Host_Error_Interrupted" in value["errors"],
                      "%s: exit %d %s" % (url, process.returncode, value))
    finally:
        peer.close()


RUNAWAY = os.path.join(SOURCE, "tests", "fixtures", "workflows", "runaway")
# Each document ends by itself within seconds and a few hundred MB, refused
# where it would nest too deep or pass a process's budget, and says why (the
# errors, then the warnings of the summary).
RUNAWAY_ENDS = {
    "queue-self.json": (["Task_Error_TooDeep", 'task "start" not run: tasks nest at most 1000 levels deep'], []),
    "success-self.json": (["Task_Error_TooDeep", 'task "start" not run: tasks nest at most 1000 levels deep'], []),
    "run-self.yaml": (["WorkflowRun_Error_TooDeep", 'workflow run "start" not started: runs nest at most 32 deep'], []),
    "revisit.yaml": ([], []),
    "queue-fan.yaml": (["Task_Error_TooMany", 'task "start" not run: a process runs at most 10000 tasks at once'], []),
    "run-fan.yaml": (["WorkflowRun_Error_TooMany", 'workflow run "again" not started: a process starts at most 1000 runs'],
                     []),
    "run-twice.yaml": (["WorkflowRun_Error_TooDeep", 'workflow run "again" not started: runs nest at most 32 deep'], []),
    "progress-self.yaml": (["Task_Error_InvalidArg", 'task chain deeper than 1000 levels at task "start"'], []),
    "macro-self.yaml": ([], ['macro "loop" left unexpanded: its value leads back to itself or does not fit']),
    "macro-doubles.yaml": ([], ['macro "twice" left unexpanded: its value leads back to itself or does not fit']),
}


def case_runaway():
    # AddressSanitizer's redzones, shadow and quarantine (kept off here) about
    # double a heap; its library is named near the start of the program file.
    with open(PROGRAM, "rb") as f:
        sanitized = b"libasan.so" in f.read(1 << 20)
    cap = (800 if sanitized else 400) * 1024
    env = dict(os.environ, ASAN_OPTIONS=os.environ.get("ASAN_OPTIONS", "") + ":quarantine_size_mb=0")
    for name, (errors, warnings) in sorted(RUNAWAY_ENDS.items()):
        process = subprocess.Popen([PROGRAM, "--workflow=" + os.path.join(RUNAWAY, name), "--disablesecurity"],
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=env)
        deadline, peak = time.time() + 30, 0
        while process.poll() is None and time.time() < deadline:
            try:
                with open("/proc/%d/status" % process.pid) as f:
                    peak = max([peak] + [int(l.split()[1]) for l in f if l.startswith("VmRSS:")])
            except (OSError, ValueError):
                pass
            if peak > cap:
                break
            time.sleep(0.02)
        if process.poll() is None:
            process.kill()
            process.communicate()
            fail("%s did not end by itself (%d MB resident)" % (name, peak // 1024))
        out, _ = process.communicate()
        value = summary(out)
        want = 1 if errors else 0
        check(process.returncode == want and value["successful"] is not bool(errors) and value["errors"] == errors
              and value["warnings"] == warnings, "%s: exit %d %s" % (name, process.returncode, value))
    # Six runs deep, one signal unloads them all at once.
    with tempfile.TemporaryDirectory() as directory:
        logs = os.path.join(directory, "logs")
        process = start(["--workflow=" + os.path.join(RUNAWAY, "run-self-slowly.yaml"), "--disablesecurity",
                         "--debug", "--debugdir=" + logs])
        log = os.path.join(logs, "host.developer.log")
        deadline = time.time() + 30
        while time.time() < deadline and process.poll() is None and (
                not os.path.exists(log) or open(log, errors="replace").read().count("Created workflow - ") < 6):
            time.sleep(0.05)
        process.send_signal(signal.SIGINT)
        try:
            out, _ = process.communicate(timeout=5)
        except subprocess.TimeoutExpired:
            process.kill()
            process.communicate()
            fail("one signal did not end six nested runs at once")
        check(process.returncode == 130, "nested runs: exit %d %s" % (process.returncode, summary(out)))


def case_cancel_during_fetch():
    peer = Peer(EXAMPLES)
    try:
        with tempfile.TemporaryDirectory() as directory:
            logs = os.path.join(directory, "logs")
            process = start(["--workflow=" + peer.url("delay/2000/demo.yaml"), "--disablesecurity", "--debug",
                             "--debugdir=" + logs, "--memorytracking"])
            log = os.path.join(logs, "host.developer.log")
            wait_for(process, log, "Created workflow - ")
            process.send_signal(signal.SIGINT)
            out, _ = process.communicate(timeout=30)
            value = summary(out)
            check(process.returncode == 130, "exit %d %s" % (process.returncode, value))
            text = open(log).read()
            check("Event load" not in text and "Created - load" not in text, "load ran after the cancel")
            check("WorkflowRun_Error_Request" not in text or True, "")
            check("Not all memory" not in text, "memory left")
    finally:
        peer.close()


def case_interrupt_endless_fetch():
    # The peer never ends its answer: one signal still ends the run.
    peer = Peer(EXAMPLES)
    try:
        with tempfile.TemporaryDirectory() as directory:
            logs = os.path.join(directory, "logs")
            path = write(directory, "nested.yaml", "start:\n  type: WorkflowRun\n  url: '%s'\n"
                                                   "unload:\n  type: Log\n  message: unloaded\n"
                                                   % peer.url("endless/demo.yaml"))
            process = start(["--workflow=" + path, "--disablesecurity", "--debug", "--debugdir=" + logs])
            log = os.path.join(logs, "host.developer.log")
            wait_for(process, log, "Created workflow - ")
            time.sleep(1)
            process.send_signal(signal.SIGTERM)
            try:
                out, _ = process.communicate(timeout=20)
            except subprocess.TimeoutExpired:
                process.kill()
                process.communicate()
                fail("one signal did not end a run whose fetch never ends")
            value = summary(out)
            check(process.returncode == 130, "exit %d %s" % (process.returncode, value))
            check("Not all memory" not in open(log).read(), "memory left")
    finally:
        peer.close()


def case_analytics():
    peer = Peer(EXAMPLES)
    try:
        with tempfile.TemporaryDirectory() as directory:
            config = write(directory, "app.json", json.dumps({"analytics": {
                "enabled": True, "key": "k-123", "endPoint": peer.url("analytics"), "sendInterval": 0,
                "maxSendEvents": 100}}))
            code, out, _ = run(["--workflow=" + os.path.join(EXAMPLES, "demo.yaml"), "--disablesecurity",
                                "--config=" + config])
            check(code == 0, "exit %d" % code)
            posted = peer.get("posted")
            check(posted, "nothing posted")
            events = []
            for each in posted:
                check(each["apiKey"] == "k-123", "key %r" % each["apiKey"])
                check(each["contentType"] == "application/json", "type %r" % each["contentType"])
                batch = json.loads(each["body"])
                check(isinstance(batch, list) and batch, "not a JSON array: %r" % each["body"][:80])
                events += batch
            names = {event.get("event") for event in events}
            check({"Log", "Sleep", "Queue", "Progress", "VersionCompare"} <= names, "events %s" % names)
            greet = [e for e in events if e.get("taskName") == "greet"]
            check(greet and greet[0]["successful"] is True and "elapsedTime" in greet[0], "greet %s" % greet)
    finally:
        peer.close()


NO_ENTRY = 'the workflow has neither a "state" nor a "start" task'
NOT_OBJECT = "the workflow document is not an object: it is "


def case_no_entry():
    # Documents after whose "load" nothing would run end at once, failed,
    # with one line on standard error that names the cause; a document that
    # is no object of tasks is said to be so.
    noise = bytes(random.Random(26).getrandbits(8) for _ in range(4096))
    documents = [("e.json", "{}", [], [NO_ENTRY]),
                 ("hello.yaml", "hello\n", [], [NOT_OBJECT + "a text", "WorkflowRun_Error_Request"]),
                 ("list.yaml", "[1,2,3]\n", [], [NOT_OBJECT + "a list", "WorkflowRun_Error_Request"]),
                 ("list.json", "[1, 2]", [], [NOT_OBJECT + "a list", "WorkflowRun_Error_Request"]),
                 ("number.json", "42", [], [NOT_OBJECT + "a single value", "WorkflowRun_Error_Request"]),
                 ("map.yaml", "foo: bar\n", [], [NO_ENTRY]),
                 ("load.yaml", "load:\n  type: Log\n  message: hi\n", [], [NO_ENTRY]),
                 ("install.yaml", "install:\n  type: Log\n  message: hi\n", [], [NO_ENTRY]),
                 ("install.yaml", "install:\n  type: Log\n  message: hi\n", ["--task=install"], [NO_ENTRY]),
                 ("binary.yaml", noise, [], None)]
    with tempfile.TemporaryDirectory() as directory:
        for name, text, extra, errors in documents:
            path = os.path.join(directory, name)
            with open(path, "wb") as f:
                f.write(text if isinstance(text, bytes) else text.encode())
            code, out, err = run(["--workflow=" + path, "--disablesecurity"] + extra, timeout=30)
            value = summary(out)
            check(code == 1 and value["successful"] is False, "%s: exit %d %s" % (name, code, value))
            check(errors is None or value["errors"] == errors, "%s: %s" % (name, value))
            said = "velmarsh: " + (NO_ENTRY if errors == [NO_ENTRY] else "cannot load file://%s: " % path)
            check(len(err.splitlines()) == 1 and err.startswith(said), "%s: stderr %r" % (name, err))
            check(errors is None or errors[0] in err, "%s: stderr %r" % (name, err))


def case_outcomes():
    # The summary reports the outcome of what ran: an entry event that fails
    # without errors is a failure; a failed "state" only chooses the task.
    # A task whose type is not registered, or that lacks a required argument
    # (itself or as a step of another), is named in the errors and on
    # standard error; a "load" whose moved task cannot be made still succeeds.
    state = json.dumps({"state": {"type": "Error", "message": "Application_NotInstalled"},
                        "install": {"type": "Log", "message": "installed"},
                        "unload": {"type": "Log", "message": "bye"}})
    lgo = 'Cannot make task "%s": its task type "Lgo" is not registered'
    log = "start: {type: Log, message: hi}\n"
    missing = ["Task_Error_MissingArg", 'Missing argument "%s" of task "%s" (type %s)']
    fired = '%s: {type: Notification, event: Task.Complete, content: {"successful": false}}\n'
    cases = [("lgo.yaml", "start: {type: Lgo, message: hi}\n", [], 1, [lgo % "start"]),
             ("log.yaml", log, ["--task=bogus"], 1, ["none of the tasks is available: bogus"]),
             ("bare.yaml", "start: {type: Log}\n", [], 1, [missing[0], missing[1] % ("message", "start", "Log")]),
             ("step.yaml", "start: {type: Queue, actions: [nap]}\nnap: {type: Sleep}\n", [], 1,
              [missing[0], missing[1] % ("seconds", "nap", "Sleep")]),
             ("load.yaml", "load: {type: Lgo}\nstart: {type: Log, message: hi}\n", [], 0,
              ["Task_Error_MissingSubTask", lgo % "load"]),
             ("state.json", state, ["--task=install"], 0, []),
             ("state.json", state, [], 1, ["Application_NotInstalled"]),
             ("state.json", state, ["--task=repair"], 1,
              ["Application_NotInstalled", "none of the tasks is available: repair"]),
             # A Notification task's Task.Complete in its own name ends
             # nothing: "state" and the queued task end as they ran.
             ("fired.yaml", "state: {type: Queue, actions: [f]}\n" + fired % "f", [], 0, []),
             ("fired.yaml", "state: {type: Log, message: hi}\n" + fired % "launch", ["--task=launch"], 0, []),
             # Every error of the summary is told on standard error too.
             ("dl.yaml", "start: {type: Download}\n", [], 1, ["Download_Error_NotAvailable"]),
             ("nap.yaml", "start: {type: Sleep, seconds: abc}\n", [], 1,
              ['Task_Error_InvalidArg: "seconds" of task "start" is not a finite number (abc)']),
             ("plain.yaml", "state: {type: Error, message: nope}\n", ["--task=state"], 1,
              ["nope", "none of the tasks is available: state"])]
    with tempfile.TemporaryDirectory() as directory:
        for name, text, extra, want, errors in cases:
            path = write(directory, name, text)
            errors = [each.replace("{url}", "file://" + path) for each in errors]
            code, out, err = run(["--workflow=" + path, "--disablesecurity"] + extra)
            value = summary(out)
            check(code == want and value["exitCode"] == want, "%s %s: exit %d %s" % (name, extra, code, value))
            check(value["successful"] is (want == 0) and value["errors"] == errors,
                  "%s %s: %s" % (name, extra, value))
            lines = ["velmarsh: " + each for each in errors
                     if each.startswith(("Cannot make task", "Missing argument", "failed without naming"))]
            lines += ["velmarsh: %s (offered: %s)" % (each, "install" if name == "state.json" else "none")
                      for each in errors if each.startswith("none of the tasks")]
            check(err.splitlines() == told_lines(lines, errors), "%s %s: stderr %r" % (name, extra, err))


def case_refusals():
    # Inputs that cannot work are usage errors: one line, exit 2, no summary.
    with tempfile.TemporaryDirectory() as directory:
        good = write(directory, "ok.yaml", "start:\n  type: Log\n  message: hi\n")
        write(directory, "truncated.json", '{"analytics": {"enabled": tr')
        write(directory, "empty.json", "")
        with open(os.path.join(directory, "binary.json"), "wb") as f:
            f.write(bytes(random.Random(3).getrandbits(8) for _ in range(512)))
        os.mkdir(os.path.join(directory, "adir"))
        os.mkfifo(os.path.join(directory, "fifo.yaml"))
        long = "x" * 5000
        cases = [(["--config=" + directory + "/truncated.json"], "Unexpected end of input at line 1, column 29"),
                 (["--config=" + directory + "/binary.json"], "cannot read configuration file"),
                 (["--config=" + directory + "/empty.json"], "the configuration file is empty"),
                 (["--config=" + directory + "/adir"], "not a regular file"),
                 ([long, "--config=/nonexistent.json"], 'argument(s) from "xxxxxxxx'),
                 ([long, "--task=nosuch"], "longer than 4095 bytes: 2 argument(s)")]
        for extra, said in cases:
            code, out, err = run(["--workflow=" + good, "--disablesecurity"] + extra)
            check(code == 2 and out == "", "%s: exit %d %r" % (extra[-1], code, out))
            check(len(err.splitlines()) == 1 and said in err, "%s: stderr %r" % (extra[-1], err))
        code, out, err = run([long, "--workflow=" + good, "--disablesecurity"])
        check(code == 2 and out == "" and "longer than 4095 bytes" in err, "cut --workflow: %d %r" % (code, err))
        for value, said in (("adir", "the workflow path is a directory: adir"),
                            ("fifo.yaml", "the workflow path is not a regular file: fifo.yaml"),
                            ("file://otherhost/x.yaml",
                             "only local file URLs (file:///path) are taken: file://otherhost/x.yaml")):
            code, out, err = run(["--workflow=" + value, "--disablesecurity"], cwd=directory, timeout=20)
            check(code == 2 and err == "velmarsh: " + said + "\n", "%s: %d %r" % (value, code, err))


def case_local_failures():
    # A local document that cannot run fails on the first attempt, with why.
    with tempfile.TemporaryDirectory() as directory:
        bad = write(directory, "bad.yaml", "start:\n  type: [Log\n")
        code, out, err = run(["--workflow=" + os.path.join(EXAMPLES, "demo.yaml")], timeout=30)
        value = summary(out)
        check(code == 1 and "Json_Error_Authenticate" in value["errors"], "unsigned: %d %s" % (code, value))
        check("run only with --disablesecurity" in err and "retry" not in err, "unsigned: %r" % err)
        code, out, err = run(["--workflow=" + bad, "--disablesecurity"], timeout=30)
        value = summary(out)
        check(code == 1 and "Yaml_Error_EndOfStream" in value["errors"], "parse: %d %s" % (code, value))
        check("read as YAML (the name ends in .yaml): Unexpected end of stream at line 3, column 1" in value["errors"],
              "parse: %s" % value)
        # Each attempt after the first would say so on standard error.
        check("cannot load file://" + bad + ": " in err and "retry" not in err, "parse: %r" % err)


def case_document_errors():
    # What a document that cannot be read as a workflow says: an empty one
    # that it is empty; one that does not parse which parser read it, why
    # that one, and where it failed, in one form for every parser.
    yaml = "start:\n  type: Log\n  message: hi\n"
    read_json = "read as JSON (the name %s): "
    cases = [("empty.yaml", "", ["Yaml_Error_Empty", "WebGet_Error_YAML", "the document is empty"]),
             ("empty.json", "", ["Json_Error_ZeroLength", "WebGet_Error_JSON", "the document is empty"]),
             ("blank.json", " \n\t\n", ["the document is empty"]),
             ("comment.yaml", "# nothing yet\n", ["the document is empty"]),
             ("yaml.json", yaml, ["Json_Error_FieldType", "WebGet_Error_JSON", read_json % "ends in .json" +
                                  "Unknown field type 's' at line 1, column 1"]),
             ("workflow", yaml, ["Json_Error_FieldType", "WebGet_Error_JSON",
                                 read_json % "does not end in .yaml, .yml or .xml" +
                                 "Unknown field type 's' at line 1, column 1"]),
             ("cut.json", '{"start": {"type": "Log", "message": ', [
                 "Json_Error_UnknownLength", "WebGet_Error_JSON",
                 read_json % "ends in .json" + "Unexpected end of input at line 1, column 38"]),
             ("cut.yml", "start:\n  type: [Log\n", [
                 "Yaml_Error_EndOfStream", "WebGet_Error_YAML",
                 "read as YAML (the name ends in .yml): Unexpected end of stream at line 3, column 1"]),
             ("deep.json", "[" * 40, ["Json_Error_FieldType", "WebGet_Error_JSON", read_json % "ends in .json" +
                                      "Nesting limit exceeded (at most 31 levels) '[' at line 1, column 32"]),
             ("deep.yaml", "a: " + "{b: " * 40, ["Yaml_Error_FieldType", "WebGet_Error_YAML",
                                                 "read as YAML (the name ends in .yaml): Nesting limit exceeded "
                                                 "(at most 31 levels) '{' at line 1, column 124"]),
             ("tab.yaml", "start:\n  type: Log\n\tmessage: hi\n", [
                 "Yaml_Error_FieldType", "WebGet_Error_YAML",
                 "read as YAML (the name ends in .yaml): Tab in indentation (indent with spaces) at line 3, column 1"])]
    with tempfile.TemporaryDirectory() as directory:
        for name, text, errors in cases:
            path = write(directory, name, text)
            code, out, err = run(["--workflow=" + path, "--disablesecurity"], timeout=30)
            value = summary(out)
            errors = errors + ["WorkflowRun_Error_Request"]
            check(code == 1 and value["errors"] == errors, "%s: exit %d %s" % (name, code, value))
            check(err == "velmarsh: cannot load file://%s: %s\n" % (path, ", ".join(errors)),
                  "%s: stderr %r" % (name, err))


def case_fetch_never_works():
    # A fetch that cannot work in this build (https) or at all (a scheme
    # that is not served, no URL, a malformed one) fails at its first
    # attempt, with why in the summary and on standard error, and is never
    # retried: the run ends well before the first retry would come (15 s).
    tls = ["WebGet_Error_Connect", "TLS is not available in this build"]
    run_error = ["WorkflowRun_Error_Request"]
    cases = [("start:\n  type: WorkflowRun\n  url: https://127.0.0.1:9/x.yaml\n", tls + run_error),
             ("start:\n  type: Macro\n  url: https://127.0.0.1:9/m.json\n", tls),
             ("load:\n  type: Macro\n  url: https://127.0.0.1:9/m.json\nstart:\n  type: Log\n  message: hi\n",
              tls),
             ("start:\n  type: Aggregate\n  url: https://127.0.0.1:9/a.json\n", tls),
             ("start:\n  type: WorkflowRun\n  url: ftp://127.0.0.1:9/x.yaml\n",
              ["WebGet_Error_Connect", "unsupported URL scheme (http:// and file:// are taken)"] + run_error),
             ("start:\n  type: WorkflowRun\n  url: nested.yaml\n",
              ["WebGet_Error_Connect", "not a URL (http:// and file:// are taken)"] + run_error),
             ("start:\n  type: Macro\n  url: http://127.0.0.1:99999/m.json\n",
              ["WebGet_Error_Connect", "malformed URL (no usable host, port or path)"])]
    with tempfile.TemporaryDirectory() as directory:
        for text, errors in cases:
            path = write(directory, "fetch.yaml", text)
            url = re.search(r"url: (\S+)", text).group(1)
            try:
                code, out, err = run(["--workflow=" + path, "--disablesecurity"], timeout=60)
            except subprocess.TimeoutExpired:
                fail("%s: still running after 60 s (retried?)" % url)
            value = summary(out)
            check(code == 1 and value["errors"] == errors, "%s: exit %d %s" % (url, code, value))
            # Only this line: a retry would say so on standard error too.
            check(err == "velmarsh: cannot load %s: %s\n" % (url, ", ".join(errors)), "%s: stderr %r" % (url, err))


def case_remote_retry():
    # A remote document is tried again on the schedule, and each retry says so.
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    refused = listener.getsockname()[1]
    listener.close()
    peer = Peer(EXAMPLES)
    try:
        for url, what in (("http://127.0.0.1:%d/x.yaml" % refused, "WebGet_Error_Connect, connection refused"),
                          (peer.url("missing.yaml"), "Http_Error_404, WebGet_Error_Custom")):
            process = start(["--workflow=" + url, "--disablesecurity"])
            ready, _, _ = select.select([process.stderr], [], [], 30)
            line = process.stderr.readline() if ready else ""
            process.send_signal(signal.SIGINT)
            out, _ = process.communicate(timeout=20)
            check(line == "velmarsh: cannot fetch %s (%s); retry 1 of 3 in 15 s\n" % (url, what), "%r" % line)
            check(process.returncode == 130, "exit %d" % process.returncode)
    finally:
        peer.close()


def case_warnings():
    with tempfile.TemporaryDirectory() as directory:
        code, out, err = run(["--frobnicate", "--window=", "--debug=bogus", "--debugdir=" + directory])
    check(code == 0, "exit %d" % code)
    lines = err.splitlines()
    check(lines[:2] == ["velmarsh: warning: unknown switch --frobnicate is ignored (see --help)",
                        "velmarsh: warning: --debug=bogus names no log level (ERROR, WARNING, INFO or DEBUG): "
                        "ERROR is used"], "stderr %r" % err)
    code, out, err = run(["--workflow=" + os.path.join(EXAMPLES, "demo.yaml"), "--disablesecurity"])
    check(code == 0 and err == "", "a clean run warns of nothing: %r" % err)


def case_progress_line():
    # On a terminal the line is drawn in place and cleared before the end.
    leader, follower = pty.openpty()
    process = subprocess.Popen([PROGRAM, "--workflow=" + os.path.join(EXAMPLES, "demo.yaml"), "--disablesecurity"],
                               stdout=subprocess.PIPE, stderr=follower)
    os.close(follower)
    seen = b""
    deadline = time.time() + 60
    while time.time() < deadline:
        ready, _, _ = select.select([leader], [], [], 1)
        if not ready:
            if process.poll() is not None:
                break
            continue
        try:
            chunk = os.read(leader, 4096)
        except OSError:
            break
        if not chunk:
            break
        seen += chunk
    out = process.communicate(timeout=20)[0].decode()
    os.close(leader)
    check(process.returncode == 0 and summary(out)["successful"] is True, "exit %d" % process.returncode)
    text = seen.decode(errors="replace")
    names = re.findall(r"\r\[(?: \.\.\.|\s*\d+%)\] (\w+)\x1b\[K", text)
    check(len(names) >= 3 and {"tooOld", "chores", "nap", "note", "nested"} & set(names), "tasks %s" % names)
    check(re.search(r"\r\[ *[1-9]\d*%\] \w+\x1b\[K", text), "no progress: %r" % text[:400])
    check(text.endswith("\r\x1b[K"), "not cleared at the end: %r" % text[-60:])
    check("\n" not in text, "the line scrolled: %r" % text[:300])


SIGNED = os.path.join(SOURCE, "tests", "host", "signed_demo")


def case_signed_path():
    # The signed demo with security on: the configuration's store trusts
    # its signer.
    code, out, _ = run(["--workflow=examples/demo.jws", "--config=examples/demo-app.json", "--window",
                        "--memorytracking"], cwd=SOURCE)
    check_demo(code, out)


def sign(directory, name, document, key="demo-signer", exp=None, nbf=None):
    source = write(directory, name + ".src", json.dumps(document))
    args = ["node", os.path.join(SIGNED, "sign_workflow.js"), os.path.join(directory, key + ".pem"),
            os.path.join(directory, key + ".der"), source, "-" if exp is None else str(exp),
            "-" if nbf is None else str(nbf)]
    return write(directory, name, subprocess.run(args, capture_output=True, text=True, check=True).stdout)


def b64url(data):
    return base64.urlsafe_b64encode(data).rstrip(b"=").decode()


def utc(seconds):
    return datetime.datetime.fromtimestamp(seconds, datetime.timezone.utc).strftime("%Y-%m-%d %H:%M:%S UTC")


HINT = " (unsigned documents run only with --disablesecurity)"


def case_signed_http():
    # Served by the peer: the signed demo runs; each refused document fails
    # at its first attempt (a retry cannot mend a signature) with one line
    # that says why, and only the unsigned one points at --disablesecurity.
    with tempfile.TemporaryDirectory() as directory:
        for name in ("demo.jws", "demo-nested.jws", "demo-app.json"):
            with open(os.path.join(EXAMPLES, name)) as source:
                write(directory, name, source.read())
        for suffix in ("pem", "der"):
            with open(os.path.join(SIGNED, "demo-signer." + suffix), "rb") as source:
                with open(os.path.join(directory, "demo-signer." + suffix), "wb") as target:
                    target.write(source.read())
        subprocess.run("openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out stranger.pem && "
                       "openssl req -x509 -new -key stranger.pem -subj /CN=stranger -days 2 -outform DER "
                       "-out stranger.der", shell=True, cwd=directory, check=True, capture_output=True)
        with open(os.path.join(directory, "demo.jws")) as f:
            header, payload, signature = f.read().strip().split(".")
        document = json.loads(base64.urlsafe_b64decode(payload + "=" * (-len(payload) % 4)))
        certificate = json.loads(base64.urlsafe_b64decode(header + "=" * (-len(header) % 4)))["x5c"]
        write(directory, "unsigned.jws", json.dumps(document))
        middle = len(payload) // 2
        changed = payload[:middle] + ("A" if payload[middle] != "A" else "B") + payload[middle + 1:]
        write(directory, "changed.jws", ".".join((header, changed, signature)))
        expired, early = 1600000000, 4102444800
        sign(directory, "expired.jws", document, exp=expired)
        sign(directory, "early.jws", document, nbf=early)
        sign(directory, "stranger.jws", document, key="stranger")
        for alg in ("PS384", "EdDSA"):
            head = b64url(json.dumps({"alg": alg, "x5c": certificate}).encode())
            write(directory, alg + ".jws", ".".join((head, payload, b64url(os.urandom(64)))))
        head = b64url(json.dumps({"alg": "ES256", "x5c": certificate, "crit": ["exp"]}).encode())
        write(directory, "crit.jws", ".".join((head, payload, signature)))
        head = b64url(json.dumps({"alg": "ES256", "x5c": certificate * 33}).encode())
        write(directory, "long.jws", ".".join((head, payload, signature)))
        refused = {"unsigned.jws": "Document is not signed",
                   "changed.jws": "Document signature does not verify: the document was changed after it was signed",
                   "stranger.jws": 'Document signer is not trusted by the store "app"',
                   "expired.jws": 'Document expired at %s ("exp")' % utc(expired),
                   "early.jws": 'Document is not valid before %s ("nbf")' % utc(early),
                   "PS384.jws": "Document signature algorithm is not supported: PS384",
                   "EdDSA.jws": "Document signature algorithm is not supported: EdDSA",
                   "crit.jws": 'Document signature header is refused: its extension "crit" is not supported',
                   "long.jws": 'Document signature header is refused: its "x5c" holds more than 32 certificates, '
                               'the most a path may have'}
        config = os.path.join(directory, "demo-app.json")
        peer = Peer(directory)
        try:
            code, out, _ = run(["--workflow=" + peer.url("demo.jws"), "--config=" + config, "--window"])
            check_demo(code, out)
            runs = {name: start(["--workflow=" + peer.url(name), "--config=" + config]) for name in refused}
            for name, process in runs.items():
                try:
                    out, err = process.communicate(timeout=60)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.communicate()
                    fail("%s: still running after 60 s" % name)
                value = summary(out)
                check(process.returncode == 1 and value["successful"] is False, "%s: %s" % (name, value))
                check("Json_Error_Authenticate" in value["errors"] and refused[name] in value["errors"],
                      "%s: errors %s" % (name, value["errors"]))
                lines = err.splitlines()
                check(len(lines) == 1 and lines[0].startswith("velmarsh: cannot load %s: " % peer.url(name)) and
                      lines[0].endswith(refused[name] + ", WorkflowRun_Error_Request" +
                                        (HINT if name == "unsigned.jws" else "")), "%s: stderr %r" % (name, err))
            requests = peer.get("requests")
            check(all(requests.count("/" + name) == 1 for name in refused), "retried: %s" % requests)
        finally:
            peer.close()


def case_signed_children():
    # A signed parent lets its child through unsigned only when its
    # "authenticate" plainly says no, or when the child lies beside it as the
    # server resolves the path (the peer decodes it, then resolves "..").
    with tempfile.TemporaryDirectory() as directory:
        for name in ("demo-signer.pem", "demo-signer.der"):
            with open(os.path.join(SIGNED, name), "rb") as source:
                with open(os.path.join(directory, name), "wb") as target:
                    target.write(source.read())
        config = os.path.join(EXAMPLES, "demo-app.json")
        os.makedirs(os.path.join(directory, "a", "b", "sub"))
        os.makedirs(os.path.join(directory, "etc"))
        child = json.dumps({"start": {"type": "Log", "message": "child ran"}})
        write(directory, "etc/x.json", child)
        write(directory, "a/b/child.json", child)
        away, missing = "{contentUrl}../../etc/x.json", object()
        cases = [(away, value, False) for value in ("", None, [True], {}, "{nope}", True, "true", "yes", "1", 1,
                                                     "maybe", "false\u0000x", missing)]
        cases += [(away, value, True) for value in (False, "false", "no", "0", 0, "OFF")]
        cases += [("{contentUrl}" + tail, missing, runs) for tail, runs in (
            ("child.json", True), ("%63hild.json", True), ("sub/%2e%2e/child.json", False),
            ("%2e%2e/%2e%2e/etc/x.json", False), ("%2E%2E/%2E%2E/etc/x.json", False),
            (".%2e/.%2e/etc/x.json", False), ("sub%2f..%2f..%2f..%2fetc/x.json", False),
            ("../../etc/x.json", False))]
        peer = Peer(directory)
        try:
            runs = {}
            for index, (url, value, allowed) in enumerate(cases):
                task = {"type": "WorkflowRun", "url": url}
                if value is not missing:
                    task["authenticate"] = value
                sign(directory, "a/b/p%d.jws" % index, {"start": task})
                runs[index] = start(["--workflow=" + peer.url("a/b/p%d.jws" % index), "--config=" + config])
            for index, process in runs.items():
                url, value, allowed = cases[index]
                what = "%s authenticate=%r" % (url, "none" if value is missing else value)
                out, err = process.communicate(timeout=60)
                value = summary(out)
                if allowed:
                    check(process.returncode == 0 and value["successful"], "%s: %s %r" % (what, value, err))
                else:
                    # A list, an object or a NUL is refused before anything is fetched.
                    refused = cases[index][1] in ([True], {}, "false\u0000x")
                    check(process.returncode == 1 and ("Document is not signed" in value["errors"]) != refused and
                          any(e.startswith("Task_Error_InvalidArg: ") for e in value["errors"]) == refused,
                          "%s: ran unsigned: %s" % (what, value))
        finally:
            peer.close()


def case_script_task():
    # The example's task type lives in its page script; "done" runs on its success.
    code, out, _ = run(["--workflow=examples/script-task.yaml", "--script=examples/script-task.js",
                        "--disablesecurity", "--window", "--memorytracking"], cwd=SOURCE)
    value = summary(out)
    check(code == 0 and value["successful"] is True, "exit %d %s" % (code, value))
    for line in ["Hello, the script task example, from the page script",
                 "The page script greeted the script task example"]:
        check(line in out, "missing %r" % line)
    check("Not all memory" not in out and "not removed" not in out, "left behind")


REGISTRY_PAGE = """
var registry = TQX.create('TQX.Registry');
function write(key) {
  return TQX.call(registry, 'setString', {view: 'default', security: 'default', type: 'user', key: key,
                                          name: 'probe', value: 'written'});
}
print('inside=' + write('Software/Velmarsh Allowed/Sub') + ' outside=' + write('Software/Elsewhere'));
"""


def case_registry_whitelist():
    # Security stays on (the signed demo runs beside the page): only the
    # configured prefix may be written.
    with tempfile.TemporaryDirectory() as directory:
        page = write(directory, "probe.js", REGISTRY_PAGE)
        with open(os.path.join(EXAMPLES, "demo-app.json")) as f:
            settings = json.load(f)
        settings["registryWhitelist"] = {"readWrite": ["user/Software/Velmarsh Allowed"]}
        config = write(directory, "app.json", json.dumps(settings))
        env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(directory, "config"))
        done = subprocess.run([PROGRAM, "--workflow=examples/demo.jws", "--script=" + page, "--config=" + config,
                               "--window"], capture_output=True, text=True, timeout=60, env=env, cwd=SOURCE)
        check_demo(done.returncode, done.stdout)
        check("Script - inside=true outside=false" in done.stdout, "probe said otherwise")
        check("Registry path not found in whitelist" in done.stdout, "no refusal logged")
        check("Skipping registry authentication" not in done.stdout, "security was off")


POOL_WORKFLOW = """start:
  type: Queue
  concurrentTasks: -1
  actions: [one, two]
one:
  type: Macro
  url: http://127.0.0.1:{port}/delay/800/one.json
two:
  type: Macro
  url: http://localhost:{port}/delay/800/two.json
"""


def pool_timeline(directory, pool):
    peer = Peer(directory)
    try:
        write(directory, "pool.yaml", POOL_WORKFLOW.replace("{port}", str(peer.port)))
        config = write(directory, "app.json", json.dumps({"webGetPool": pool, "hostnameWhitelist": ["localhost"]}))
        code, out, _ = run(["--workflow=" + os.path.join(directory, "pool.yaml"), "--disablesecurity",
                            "--config=" + config, "--window"])
        check(code == 0 and summary(out)["successful"] is True, "pool run failed: %s" % out[-400:])
        spans = peer.get("timeline")
        check(len(spans) == 2 and {s["host"].split(":")[0] for s in spans} == {"127.0.0.1", "localhost"},
              "timeline %s" % spans)
        spans.sort(key=lambda s: s["start"])
        return spans
    finally:
        peer.close()


def case_pool_hosts():
    # One host at a time: the second host's request waits for the first's
    # answer; with the default five hosts the two overlap.
    with tempfile.TemporaryDirectory() as directory:
        write(directory, "one.json", '{"first": "1"}')
        write(directory, "two.json", '{"second": "2"}')
        serial = pool_timeline(directory, {"maxHosts": 1})
        check(serial[1]["start"] >= serial[0]["end"], "overlapped with maxHosts 1: %s" % serial)
        both = pool_timeline(directory, {"maxHosts": 5})
        check(both[1]["start"] < both[0]["end"], "did not overlap with maxHosts 5: %s" % both)


CACHE_WORKFLOW = """start:
  type: Queue
  actions: [first, second]
first:
  type: WorkflowRun
  cache: workflow
  url: http://127.0.0.1:{port}/nested.yaml
second:
  type: WorkflowRun
  cache: workflow
  url: http://127.0.0.1:{port}/nested.yaml
"""


def case_cache_min_age():
    # A minimum age of 0 serves nothing from the "workflow" cache: the
    # nested document is fetched for each run; the default 60 s serves the
    # second run from the cache.
    with tempfile.TemporaryDirectory() as directory:
        write(directory, "nested.yaml", "start:\n  type: Log\n  message: nested\n")
        for age, fetches in ((0, 2), (60, 1)):
            peer = Peer(directory)
            try:
                write(directory, "cache.yaml", CACHE_WORKFLOW.replace("{port}", str(peer.port)))
                config = write(directory, "app.json", json.dumps({"workflow": {"webGetCacheMinAge": age}}))
                code, out, _ = run(["--workflow=" + peer.url("cache.yaml"), "--disablesecurity",
                                    "--config=" + config, "--window"])
                check(code == 0, "exit %d: %s" % (code, out[-400:]))
                seen = peer.get("requests").count("/nested.yaml")
                check(seen == fetches, "age %d: nested fetched %d times" % (age, seen))
            finally:
                peer.close()


def told_lines(said, errors):  # the lines said as the run went, then each error of the summary none named
    return said + ["velmarsh: " + each for each in errors if not any(each in line for line in said)]


def outcome_table(directory, cases, extra=(), program=None):
    # Each case: document text, the exit code (also the summary's), its
    # errors, its warnings and the lines on standard error.
    for text, want, errors, warnings, said in cases:
        path = write(directory, "doc.yaml", text.replace("{dir}", directory))
        code, out, err = run(["--workflow=" + path, "--disablesecurity"] + list(extra), timeout=30, program=program)
        value = summary(out)
        told = (text, code, value, err)
        check(code == want and value["exitCode"] == want and value["successful"] is (not errors),
              "%r: exit %d %s" % told[:3])
        check(code != 0 or not errors, "%r: a failure exits 0" % text)
        warnings = [each.replace("{dir}", directory) for each in warnings]
        check(value["errors"] == errors and value["warnings"] == warnings, "%r: %s" % (text, value))
        check(err.splitlines() == told_lines(["velmarsh: " + each.replace("{dir}", directory) for each in said], errors),
              "%r: stderr %r" % (text, err))


MISSING = "Platform_Error_Missing, WorkflowRun_Error_Request"
IGNORED = ["cannot load file://{dir}/missing.yaml: Platform_Error_Missing"]


def case_self_update():
    # Under --wfselfupdate "apply" stands in for "start": its outcome is the run's.
    missing = "cannot load file://{dir}/missing.yaml: " + MISSING
    cases = [("apply: {type: Error, message: boom}\n", 1, ["boom"], [], []),
             ("apply: {type: Queue, actions: [b]}\nb: {type: Error, message: boom}\n", 1, ["boom"], [], []),
             ("apply: {type: WorkflowRun, url: 'file://{dir}/missing.yaml'}\n", 1,
              ["Platform_Error_Missing", "WorkflowRun_Error_Request"], [], [missing]),
             ("apply: {type: WorkflowRun, url: 'file://{dir}/missing.yaml', ignoreError: true}\n", 0, [], IGNORED, IGNORED),
             ("start: {type: Log, message: hi}\n", 1, ['the workflow has no "apply" task'], [],
              ['the workflow has no "apply" task']),
             ("apply: {type: Log, message: hi}\n", 0, [], [], [])]
    with tempfile.TemporaryDirectory() as directory:
        outcome_table(directory, cases, ["--wfselfupdate"])


def case_exit_codes():
    # The exit status and the summary's exitCode agree; a failed run never exits 0.
    wide = ('Task_Error_InvalidArg: "exitCode" of task "start" is %s: a whole number from -2147483648 to '
            '2147483647 is asked')
    outside = "exit code %d is outside 0-255: the program exits with %d"
    cases = [("start: {type: Error, message: x, exitCode: 4294967296}\n", 1,
              [wide % "4294967296"], [], []),
             ("start: {type: End, exitCode: 9223372036854775808}\n", 1,
              [wide % "9223372036854775808"], [], []),
             ("start: {type: Shutdown, exitCode: -1}\n", 255, [], [outside % (-1, 255)], []),
             # Shutdown checks the code it read as End does: 1e308 is a number, past 32 bits.
             ("start: {type: Shutdown, exitCode: 1e308}\n", 1, [wide % "1e308"], [], []),
             ("load: {type: Macro, key: k, value: '9'}\nstart: {type: Shutdown, exitCode: '{k}'}\n", 9, [], [], []),
             ("start: {type: Error, message: x, exitCode: 256}\n", 1, ["x"], [outside % (256, 1)], []),
             ("start: {type: Error, message: x, exitCode: -256}\n", 1, ["x"], [outside % (-256, 1)], []),
             ("start: {type: End, exitCode: 256}\n", 0, [], [outside % (256, 0)], []),
             ("start: {type: End, exitCode: 7}\n", 7, [], [], [])]
    with tempfile.TemporaryDirectory() as directory:
        outcome_table(directory, cases)
        # A page script's code takes the same way.
        page = write(directory, "page.js", "TQX.call(TQX.create('TQX.WorkflowApp'), 'setExitCode', {exitCode: 256});\n")
        outcome_table(directory, [("start: {type: Error, message: x}\n", 1, ["x"], [outside % (256, 1)], [])],
                      ["--script=" + page])


def case_implode():
    # A path that is not a text is the task's error; one that cannot be
    # removed is said where the user reads it.
    not_text = ['Task_Error_InvalidArg: "path" of task "start" is a list or object, not a text']
    cases = [("start: {type: Implode, path: [a, b]}\n", 1, not_text, [], []),
             ("start: {type: Implode, path: {a: 1}}\n", 1, not_text, [], []),
             ("start: {type: Implode, path: '{dir}'}\n", 1, [], [], ["cannot implode {dir}: is a directory"])]
    with tempfile.TemporaryDirectory() as directory:
        # A copy runs: a program that imploded would delete only that.
        program = os.path.join(directory, "velmarsh")
        for case in cases:
            subprocess.run(["cp", PROGRAM, program], check=True)
            errors = case[2] or [case[4][0].replace("{dir}", directory)]
            outcome_table(directory, [(case[0], case[1], errors, case[3], case[4])], program=program)
            check(os.path.isdir(directory) and os.path.exists(program), "%r imploded something" % case[0])


def case_load_failures():
    # A "load" that fails names why, in the summary and on standard error.
    child = "start: {type: Error, message: childboom}\n"
    start = "start: {type: Log, message: hi}\n"
    cases = [("load: {type: Error, message: boom}\n" + start, 1, ["boom"], [], ['"load" failed: boom']),
             ("load: {type: Queue, actions: [b]}\nb: {type: Error, message: boom}\n" + start, 1, ["boom"], [],
              ['"load" failed: boom']),
             ("load: {type: Progress, actions: [b]}\nb: {type: Error, message: boom}\n" + start, 1, ["boom"], [],
              ['"load" failed: boom']),
             ("load: {type: FileCopy}\n" + start, 1, ["FileCopy_Error_NotAvailable"], [],
              ['"load" failed: FileCopy_Error_NotAvailable']),
             ("load: {type: WorkflowRun, url: 'file://{dir}/child.yaml'}\n" + start, 1, ["childboom"], [],
              ['"load" failed: childboom'])]
    with tempfile.TemporaryDirectory() as directory:
        write(directory, "child.yaml", child)
        outcome_table(directory, cases)
        path = write(directory, "bare.yaml", "load: {type: Log}\n" + start)
        code, out, err = run(["--workflow=" + path, "--disablesecurity"])
        value = summary(out)
        check(code == 1 and "Task_Error_MissingArg" in value["errors"], "bare: %d %s" % (code, value))
        check('Missing argument "message" of task "load" (type Log)' in value["errors"], "bare: %s" % value)
        check(err.count('Missing argument "message" of task "load"') == 1 and
              '"load" failed: Task_Error_MissingArg' in err, err)


def case_nested_outcomes():
    # A nested run's outcome is what ran of the child; a failed fetch adds
    # no cancel that never happened; a failed run in a "success" step
    # leaves the outcome (decided before the step) but is reported.
    missing = "cannot load file://{dir}/missing.yaml: " + MISSING
    run = "start: {type: WorkflowRun, url: 'file://{dir}/%s'}\n"
    no_start = 'the workflow file://{dir}/%s has no "start" task'
    cases = [(run % "neither.yaml", 1, [no_start % "neither.yaml"], [], []),
             (run % "state.yaml", 1, [no_start % "state.yaml"], [], []),
             (run % "missing.yaml", 1, ["Platform_Error_Missing", "WorkflowRun_Error_Request"], [], [missing]),
             (run.replace("start", "state", 1) % "missing.yaml", 1,
              ["Platform_Error_Missing", "WorkflowRun_Error_Request"], [], [missing]),
             (run % "adir", 1, ["Platform_Error_AccessInvalid", "is a directory", "WorkflowRun_Error_Request"], [],
              ["cannot load file://{dir}/adir: Platform_Error_AccessInvalid, is a directory, WorkflowRun_Error_Request"]),
             # Ignored, the failed fetch leaves nothing to cancel either.
             ("start: {type: WorkflowRun, url: 'file://{dir}/missing.yaml', ignoreError: true}\n", 0, [], IGNORED, IGNORED),
             ("state: {type: WorkflowRun, url: 'file://{dir}/missing.yaml', ignoreError: true}\n", 0, [], IGNORED, IGNORED),
             # A "Stop" a task fires reports no run: what follows still runs.
             ("start: {type: Queue, actions: [n, w, e]}\nw: {type: Sleep, seconds: 1}\n"
              "e: {type: Error, message: boom}\n"
              "n: {type: Notification, event: WorkflowRun.Stop, content: {successful: true}}\n", 1, ["boom"], [], []),
             # Further down, the run that failed ends alone and its parent goes on.
             (run % "ignoring.yaml", 0, [], IGNORED, IGNORED),
             ("start: {type: Log, message: hi, success: r}\n" + (run % "missing.yaml").replace("start", "r", 1), 0,
              [], [missing.replace("{dir}", "%s")], [missing])]
    with tempfile.TemporaryDirectory() as directory:
        write(directory, "neither.yaml", "load: {type: Log, message: hi}\n")
        write(directory, "state.yaml", "state: {type: Log, message: hi}\n")
        os.mkdir(os.path.join(directory, "adir"))
        write(directory, "ignoring.yaml", "start: {type: WorkflowRun, url: 'file://%s/missing.yaml', ignoreError: true}\n"
              % directory)
        cases[-1] = cases[-1][:3] + ([cases[-1][3][0] % directory],) + cases[-1][4:]
        cases = [(text, want, [each.replace("{dir}", directory) for each in errors], *rest)
                 for text, want, errors, *rest in cases]
        outcome_table(directory, cases)


def case_unreadable():
    # A workflow file that cannot be read says why in words.
    with shared_temporary_directory() as directory:
        path = write(directory, "noread.yaml", "start: {type: Log, message: hi}\n")
        os.chmod(path, 0)
        program = [PROGRAM]
        if os.geteuid() == 0:
            # As nobody, with the program where nobody reaches it.
            program = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                       os.path.join(directory, "velmarsh")]
            subprocess.run(["cp", PROGRAM, program[-1]], check=True)
        done = subprocess.run(program + ["--workflow=" + path, "--disablesecurity"], capture_output=True, text=True,
                              timeout=30, cwd=directory)
        value = summary(done.stdout)
        errors = ["Platform_Error_AccessDenied", "permission denied", "WorkflowRun_Error_Request"]
        check(done.returncode == 1 and value["errors"] == errors, "exit %d %s" % (done.returncode, value))
        check(done.stderr == "velmarsh: cannot load file://%s: %s\n" % (path, ", ".join(errors)), done.stderr)


CASES = {name[5:]: function for name, function in globals().items() if name.startswith("case_")}
if CASE not in CASES:
    fail("unknown case")
CASES[CASE]()
