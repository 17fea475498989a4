#!/usr/bin/python3
"""Page scripts (--script) through the built program: what a page cannot do to
the host, and how a page that fails ends the run.

Usage: host_script_check.py <program> <case>
Exit status 0 when the case holds, else 1 with the reason on standard error.
"""
import json
import os
import shutil
import signal
import stat
import subprocess
import sys
import tempfile

from shared_folder import shared_temporary_directory

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


def run(directory, page, document="start:\n  type: Log\n  message: hi\n", prefix=(), program=PROGRAM):
    workflow = write(directory, "w.yaml", document)
    done = subprocess.run(list(prefix) + [program, "--workflow=" + workflow, "--script=" + page,
                                          "--disablesecurity", "--window"],
                          capture_output=True, text=True, timeout=60, cwd=directory)
    lines = [line for line in done.stdout.splitlines() if line.startswith("{")]
    return done.returncode, (json.loads(lines[-1]) if lines else None), done.stdout, done.stderr


# A page that hears the start of every task and hands it to handle(task, id).
HEARS = """
var center = TQX.create('TQX.NotificationCenter');
TQX.call(center, 'addObserver', {type: 'Task', notification: 'Start', callbackId: 'start'});
function onBatch(items) {
  items.forEach(function (item) {
    if (item.callbackId === 'start' && item.info && item.info.type === 'Paged') handle(TQX.create('TQX.Task', item.sender));
  });
}
var handler = TQX.create('TQX.ScriptTaskHandler');
TQX.call(handler, 'register', {name: 'Paged'});
"""
PAGED = "start:\n  type: Paged\n  json: '%s'\n"


def case_double_release():
    # A second release of what the page held once is an error it can catch.
    page = HEARS + """
function twice(id) {
  TQX.release(id);
  try { TQX.release(id); print('released twice'); } catch (e) { print('refused: ' + e.message.split(':')[0]); }
}
['TQX.NotificationCenter', 'TQX.WorkflowApp', 'TQX.Process'].forEach(function (name) { twice(TQX.create(name)); });
function handle(task, id) {
  TQX.call(task, 'complete', {json: '{}'});
  twice(task);
}
"""
    with tempfile.TemporaryDirectory() as directory:
        code, value, out, _ = run(directory, write(directory, "p.js", page), PAGED % "{}")
        check(code == 0 and value["successful"] is True, "exit %d %s" % (code, value))
        check(out.count("Script - refused: TQX.release") == 4 and "released twice" not in out, out[-2000:])


def case_load_failures():
    # Each fails the run with one reason, the same on standard error and in
    # the summary; the workflow does not start.
    table = [("throw new Error('boom');", "failed: Error: boom (line 1)"),
             ("function f() { f(); }\nf();", "failed: RangeError: callstack limit (line 1)"),
             ("var s = 'x'; for (;;) s = s + s;", "failed: it ran out of memory (its heap is limited to 256 MiB)"),
             (HEARS + "throw new Error('after register');", "failed: Error: after register (line 11)")]
    with tempfile.TemporaryDirectory() as directory:
        for text, words in table:
            code, value, out, err = run(directory, write(directory, "p.js", text), PAGED % "{}")
            check(code == 1 and value is not None, "%r: exit %d" % (words, code))
            check(value["successful"] is False and len(value["errors"]) == 1 and words in value["errors"][0],
                  "%r: %s" % (words, value))
            check(err == "velmarsh: %s\n" % value["errors"][0], "%r: stderr %r" % (words, err))
            check("Created - start" not in out, "%r: the workflow ran" % words)


def case_file_checks():
    # Refused before anything starts, as --workflow and --config refuse.
    # User 65534 runs a copy of the program from this folder.
    with shared_temporary_directory() as directory:
        os.mkfifo(os.path.join(directory, "fifo"))
        table = [(write(directory, "empty.js", ""), "the script is empty: "),
                 (directory, "the script is a directory: "),
                 (os.path.join(directory, "fifo"), "the script is not a regular file: "),
                 ("/dev/zero", "the script is not a regular file: "),
                 (os.path.join(directory, "none.js"), "no such script file: ")]
        rows = [(page, words, (), PROGRAM) for page, words in table]
        if os.geteuid() == 0:
            program = shutil.copy(PROGRAM, os.path.join(directory, "velmarsh"))
            os.chmod(program, 0o755)
            secret = write(directory, "secret.js", "print('read');\n")
            os.chmod(secret, 0o600)
            rows.append((secret, "cannot read the script %s: permission denied" % secret,
                         ("setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"), program))
        else:
            print("the permission row needs root to play another user")
        for page, words, prefix, program in rows:
            code, value, out, err = run(directory, page, prefix=prefix, program=program)
            check(code == 2 and out == "" and err.startswith("velmarsh: " + words) and err.count("\n") == 1,
                  "%s: exit %d %r %r" % (page, code, out[-300:], err))


def case_handler_fails():
    # A handler that throws fails the task it handled, with the message in
    # the summary and on standard error.
    page = HEARS + "function handle(task) {\n  null.boom();\n}\n"
    with tempfile.TemporaryDirectory() as directory:
        code, value, _, err = run(directory, write(directory, "p.js", page), PAGED % "{}")
        words = "the page script failed in onBatch: TypeError: cannot read property 'boom' of null (line 12)"
        check(code == 1 and value["successful"] is False and words in value["errors"], "exit %d %s" % (code, value))
        check("velmarsh: " + words + "\n" in err, "stderr %r" % err)


def case_complete_outcomes():
    # What "complete" takes: a JSON object whose flags are true or false.
    page = HEARS + """
function handle(task) {
  var json = TQX.call(task, 'getStringArgument', {name: 'json'});
  var taken = TQX.call(task, 'complete', {json: json});
  print('taken ' + taken);
  if (!taken) TQX.call(task, 'complete', {json: '{"successful": true}'});
}
"""
    table = [("not json", False, True, "complete refused: its json does not parse as JSON"),
             ("42", False, True, "complete refused: its json is not a JSON object"),
             ("null", False, True, "complete refused: its json is not a JSON object"),
             ("{\"successful\":\"false\"}", True, False, "complete: \"successful\" is not true or false"),
             ("{\"successful\":false}", True, False, None),
             ("{\"successful\":true}", True, True, None)]
    with tempfile.TemporaryDirectory() as directory:
        script = write(directory, "p.js", page)
        for json_text, taken, successful, words in table:
            code, value, out, _ = run(directory, script, PAGED % json_text)
            check(("Script - taken %s" % str(taken).lower()) in out, "%s: %s" % (json_text, out[-1500:]))
            check(value["successful"] is successful and (code == 0) == successful, "%s: %d %s" % (json_text, code, value))
            said = value["warnings"] + value["errors"]
            check(words is None or words in said, "%s: %s" % (json_text, value))


def case_maximum_active_tasks():
    # -1 (no limit) and whole numbers from 1 up are taken; the rest refused.
    page = """
var manager = TQX.create('TQX.WorkflowManager');
[0, -2, 2147483648, 4294967296, -1e308, 1.5, 3, -1, 2].forEach(function (value) {
  print('limit ' + value + ' ' + TQX.call(manager, 'setMaximumActiveTasks', {maximumActiveTasks: value}));
});
print('kept ' + TQX.call(manager, 'getMaximumActiveTasks', {}));
"""
    with tempfile.TemporaryDirectory() as directory:
        code, value, out, _ = run(directory, write(directory, "p.js", page))
        said = [line.split("Script - limit ")[1] for line in out.splitlines() if "Script - limit " in line]
        check(said == ["0 false", "-2 false", "2147483648 false", "4294967296 false", "-1e+308 false", "1.5 false",
                       "3 true", "-1 true", "2 true"], said)
        check("Script - kept 2" in out and code == 0 and value["successful"] is True, "%d %s" % (code, value))
        check("use -1 (no limit) or a whole number from 1 up" in out, "no reason logged")


def case_callback_ids():
    # Whatever id the page gives its callback (one the center treats as every
    # sender's included), the answer reaches it once and nothing is released
    # twice.
    page = HEARS + """
var fs = TQX.create('TQX.FileSystem'), paged = null, answers = 0;
function handle(task) {
  paged = task;
  TQX.call(fs, 'directoryGetSize', {path: PATH, callbackId: ID});
}
var heard = onBatch;
onBatch = function (items) {
  heard(items);
  items.forEach(function (item) {
    if (item.callbackId !== ID) return;
    print('answer ' + (++answers) + ' ' + item.info.successful);
    TQX.call(paged, 'complete', {json: '{}'});
  });
};
"""
    with tempfile.TemporaryDirectory() as directory:
        for callback_id in ("Global", "gLoBaL", "Thread", "size"):
            for path, found in ((os.path.join(directory, "none"), "false"), (directory, "true")):
                script = write(directory, "p.js", "var ID = %s, PATH = %s;\n" % (json.dumps(callback_id),
                                                                             json.dumps(path)) + page)
                code, value, out, err = run(directory, script, PAGED % "{}")
                what = "%s %s" % (callback_id, path)
                check(code == 0 and value is not None and value["successful"] is True, "%s: %d %s %r" %
                      (what, code, value, err[-500:]))
                check(("Script - answer 1 " + found) in out and "answer 2" not in out, "%s: %s" % (what, out[-1500:]))


def case_queued_names():
    # A task the page queues under any name leaves the queue in its turn:
    # "unload" after it runs, and the run ends.
    page = HEARS + """
function handle(task) {
  var app = TQX.create('TQX.WorkflowApp');
  var flow = TQX.create('TQX.Workflow', TQX.call(app, 'getWorkflowByTaskId', {task: task, traverse: false}));
  print('queued ' + TQX.call(flow, 'queueTask', {name: NAME}));
  TQX.call(task, 'complete', {json: '{}'});
}
"""
    with tempfile.TemporaryDirectory() as directory:
        for name in (".a", ".", "..", "a.", "none"):
            script = write(directory, "p.js", "var NAME = %s;\n" % json.dumps(name) + page)
            try:
                code, value, out, _ = run(directory, script, PAGED % "{}" + "unload:\n  type: Log\n  message: bye\n")
            except subprocess.TimeoutExpired:
                fail("%r: the run never ended" % name)
            check(code == 0 and "Script - queued true" in out and "bye" in out, "%r: %d %s" % (name, code, value))


SPIN_LATER = HEARS + """
function handle(task) {
  TQX.call(center, 'addObserver', {type: 'Page', notification: 'Spin', callbackId: 'spin'});
  TQX.call(center, 'fire', {type: 'Page', notification: 'Spin', sender: 'Global', info: '{}'});
}
var heard = onBatch;
onBatch = function (items) {
  heard(items);
  if (items.some(function (item) { return item.callbackId === 'spin'; })) { print('spinning'); for (;;) {} }
};
"""


def case_interrupt_busy_page():
    # One signal ends the run while the page spins, in the handler of its
    # task, in a later one (the task waits: it goes with its type) or in its
    # goodbye; the page's task fails with why, and what the page added goes.
    table = [(HEARS + "function handle(task) { print('spinning'); for (;;) {} }\n", PAGED % "{}",
              "the page script was interrupted"),
             (SPIN_LATER, PAGED % "{}", "the page script was interrupted"),
             ("function onUnload() { print('spinning'); for (;;) {} }\n", "start:\n  type: Log\n  message: hi\n",
              "the page script was interrupted")]
    with tempfile.TemporaryDirectory() as directory:
        for text, document, words in table:
            workflow = write(directory, "w.yaml", document)
            process = subprocess.Popen([PROGRAM, "--workflow=" + workflow, "--script=" + write(directory, "p.js", text),
                                        "--disablesecurity", "--window", "--memorytracking"], stdout=subprocess.PIPE,
                                       stderr=subprocess.PIPE, text=True)
            seen = ""
            while "Script - spinning" not in seen:
                line = process.stdout.readline()
                check(line, "ended before the page spun")
                seen += line
            process.send_signal(signal.SIGINT)
            try:
                out, err = process.communicate(timeout=60)
            except subprocess.TimeoutExpired:
                process.kill()
                process.communicate()
                fail("one signal did not end the run")
            check("velmarsh: " + words + "\n" in err, "stderr %r" % err)
            check("not removed" not in out and "Not all memory" not in out, "the page left things behind")
            value = json.loads([line for line in out.splitlines() if line.startswith("{")][-1])
            if "onUnload" not in text:
                check(process.returncode == 130 and words in value["errors"], "%d %s" % (process.returncode, value))


CASES = {name[5:]: function for name, function in globals().items() if name.startswith("case_")}
if CASE not in CASES:
    fail("unknown case")
CASES[CASE]()
