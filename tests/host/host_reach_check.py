#!/usr/bin/python3
"""What another local user can reach of a run of the built program: the
files it removes at names a user or a document gives.

Usage: host_reach_check.py <program> <case>
The victim is user 65534, the attacker user 65533; the program is a copy
every user may run.
log_expiry: per-day logs that expire (--perday --maxdays) go only from a log
folder the log itself may use: a name in a shared folder that the attacker
made a link to the victim's own log folder, or the attacker's own folder,
loses no file; a --maxdays that is no whole number of days removes nothing.
erase_swap: a root page erases a tree in which the attacker may write; while
it does, the attacker moves a folder of the tree away and puts a link to a
root-only folder at its name: nothing there goes.
log_walk: a root run's log folder is walked from "/": a link another user
put on the way, or a folder of theirs above, is refused with why, and
nothing is made or written past it.
checked_program: a page's program with a SHA-1 runs only when it and every
folder above are root's or the user's and closed to others' writes, and
then through the descriptor that was hashed.
interop_foreign: loadInterop loads only such a library, through the
descriptor that was authenticated; another's never runs its constructor.
mark_planted: whatever another user puts at a Singleton's marker is not a
free mark; a planted mailbox is neither grown nor mapped; the holder leaves
nothing behind, nor does a run that did not get the mark, or one with a full /dev/shm.
Exit status 0 when the case holds, else 1 with the reason on standard error.
"""
import hashlib
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

PROGRAM, CASE = sys.argv[1], sys.argv[2]
VICTIM, ATTACKER = 65534, 65533


def as_user(uid):
    return ["setpriv", "--reuid=%d" % uid, "--regid=%d" % uid, "--clear-groups", "--"] if uid else []


def fail(reason):
    sys.stderr.write("%s: %s\n" % (CASE, reason))
    sys.exit(1)


def check(condition, reason):
    if not condition:
        fail(reason)


def write(path, text, mode=0o644, owner=0):
    with open(path, "w") as handle:
        handle.write(text)
    os.chmod(path, mode)
    os.chown(path, owner, owner)
    return path


def folder(path, mode=0o700, owner=0):
    os.mkdir(path)
    os.chmod(path, mode)
    os.chown(path, owner, owner)
    return path


def run(directory, uid, switches, document="start:\n  type: Log\n  message: ran\n", env=None, timeout=90, prefix=[]):
    workflow = write(os.path.join(directory, "w%d.yaml" % len(os.listdir(directory))), document)
    environment = dict(os.environ, **(env or {}))
    environment.pop("VELMARSH_ELEVATED", None)
    done = subprocess.run(prefix + as_user(uid) + [PROGRAM, "--workflow=" + workflow, "--disablesecurity"] + switches,
                          capture_output=True, text=True, timeout=timeout, cwd=directory, env=environment,
                          stdin=subprocess.DEVNULL)
    return done.returncode, done.stdout, done.stderr


def case_log_expiry(directory):
    shared = folder(os.path.join(directory, "shared"), 0o1777)
    own = folder(os.path.join(directory, "own"), 0o700, VICTIM)
    theirs = folder(os.path.join(shared, "theirs"), 0o777, ATTACKER)
    old = "host.developer.01.01.2020.log"
    kept = {place: write(os.path.join(place, old), "an old log\n", 0o666, owner)
            for place, owner in ((own, VICTIM), (theirs, ATTACKER))}
    linked = os.path.join(shared, "linked")
    subprocess.run(as_user(ATTACKER) + ["/bin/ln", "-s", own, linked], check=True)
    # "--maxdays=0" expires a log made at least a whole second before the
    # run's end: the planted ones are made that old.
    made = time.time()
    while time.time() < made + 2.1:
        time.sleep(0.1)
    # name: (the folder named by --debugdir, the file it must keep)
    for name, (place, file) in {"linked": (linked, kept[own]), "theirs": (theirs, kept[theirs])}.items():
        code, _, err = run(directory, VICTIM, ["--debug", "--perday", "--maxdays=0", "--debugdir=" + place])
        check(code == 0, "%s: the run failed: %d %s" % (name, code, err))
        check(os.path.exists(file), "%s: expiry removed %s through a folder the log refused" % (name, file))
    # A number of days that is none removes nothing, and says so.
    for days in ("-1", "x", "1.5"):
        code, _, err = run(directory, VICTIM, ["--debug", "--perday", "--maxdays=" + days, "--debugdir=" + own])
        check(code == 0 and os.path.exists(kept[own]), "--maxdays=%s removed a log: %d %s" % (days, code, err))
        told = "--maxdays=%s is not a whole number of days: no log is removed" % days
        check(err.count(told) == 1 and len([name for name in os.listdir(own) if name != old]) >= 1,
              "--maxdays=%s: %s %s" % (days, err, os.listdir(own)))
    # The victim's own folder named as it is: the old log there expires.
    code, _, err = run(directory, VICTIM, ["--debug", "--perday", "--maxdays=0", "--debugdir=" + own])
    check(code == 0 and not os.path.exists(kept[own]), "the own folder's old log did not expire: %d %s" % (code, err))


# The attacker's part of erase_swap: once the erase has removed the first
# entry it lists in the folder (the walk lists in the same order), the folder
# is moved away and a link to the target put at its name.
SWAP = """
import os, sys
folder, target, ready = sys.argv[1:]
first = os.path.join(folder, os.listdir(folder)[0])
open(ready, "w").close()
while os.path.lexists(first):
    pass
os.rename(folder, folder + "-moved")
os.symlink(target, folder)
"""


def erase_round(directory, attempt, precious, count):
    """One erase by a root page of a tree the attacker swaps a folder of;
    false when the erase was through before the attacker could swap."""
    shared = folder(os.path.join(directory, "shared%d" % attempt), 0o1777)
    tree = folder(os.path.join(shared, "tree"), 0o777, ATTACKER)
    sub = folder(os.path.join(tree, "sub"), 0o777, ATTACKER)
    for index in range(count):
        write(os.path.join(sub, "f%d" % index), "", 0o666, ATTACKER)
    ready = os.path.join(shared, "ready")
    attacker = subprocess.Popen(as_user(ATTACKER) + ["/usr/bin/python3", "-c", SWAP, sub, precious, ready],
                                stderr=subprocess.DEVNULL)
    try:
        deadline = time.monotonic() + 60
        while not os.path.exists(ready) and attacker.poll() is None and time.monotonic() < deadline:
            time.sleep(0.01)
        check(os.path.exists(ready), "the attacker did not start")
        page = write(os.path.join(directory, "erase.js"),
                     "print('erased ' + TQX.call(TQX.create('TQX.FileSystem'), 'directoryErase', {path: %s}));\n"
                     % json.dumps(tree))
        code, out, err = run(directory, 0, ["--script=" + page, "--window"])
        check(code == 0 and "erased " in out, "the run failed: %d %s" % (code, err))
        attacker.wait(timeout=60)
    finally:
        if attacker.poll() is None:
            attacker.kill()
            attacker.wait()
    return os.path.islink(sub)


def case_erase_swap(directory):
    count = 5000
    precious = folder(os.path.join(directory, "precious"), 0o700)
    for index in range(count):
        write(os.path.join(precious, "f%d" % index), "root's own\n", 0o600)
    # The swap races the erase: a round it came too late for proves nothing.
    swapped = any(erase_round(directory, attempt, precious, count) for attempt in range(5))
    check(swapped, "the attacker never swapped the folder while the erase ran")
    left = len(os.listdir(precious))
    check(left == count, "the erase removed %d files of a root-only folder through the link" % (count - left))


def case_log_walk(directory):
    shared = folder(os.path.join(directory, "shared"), 0o1777)
    logs = folder(folder(os.path.join(directory, "rootonly")) + "/logs")
    kept = write(os.path.join(logs, "host.developer.log"), "root's own\n", 0o600)
    subprocess.run(as_user(ATTACKER) + ["/bin/ln", "-s", os.path.dirname(logs), shared + "/vmlog"], check=True)
    theirs = folder(os.path.join(shared, "theirs"), 0o755, ATTACKER)
    for place, why in ((shared + "/vmlog", "the folder above it %s/vmlog belongs to another user" % shared),
                       (theirs, "the folder above it %s belongs to another user" % theirs)):
        code, _, err = run(directory, 0, ["--debug", "--debugdir=" + place + "/logs"])
        told = [line for line in err.splitlines() if line.startswith("Unable to open log file")]
        check(code == 0 and told == ["Unable to open log file (%s/logs/host.developer.log): %s" % (place, why)],
              "%s: %d %s" % (place, code, err))
    check(open(kept).read() == "root's own\n" and os.listdir(logs) == ["host.developer.log"], "root's log changed")
    check(os.listdir(theirs) == [], "a folder was made in another user's folder: %s" % os.listdir(theirs))


# Launches each row's program with its SHA-1 and completes the Paged task
# once every launch has.
LAUNCHES = """
var rows = ROWS, left = rows.length, task = null;
var center = TQX.create('TQX.NotificationCenter');
TQX.call(center, 'addObserver', {type: 'Process', notification: 'Complete', callbackId: 'done'});
TQX.call(center, 'addObserver', {type: 'Task', notification: 'Start', callbackId: 'start'});
rows.forEach(function (row) {
  var process = TQX.create('TQX.Process');
  TQX.call(process, 'setApplicationName', {applicationName: row[0]});
  TQX.call(process, 'setArguments', {arguments: row[1]});
  TQX.call(process, 'setSHA1', {sHA1: row[2]});
  TQX.call(process, 'launch', {});
});
function onBatch(items) {
  items.forEach(function (item) {
    if (item.callbackId === 'start' && item.info.type === 'Paged') task = TQX.create('TQX.Task', item.sender);
    if (item.callbackId === 'done') left--;
  });
  if (task && left <= 0) { TQX.call(task, 'complete', {json: '{}'}); task = null; }
}
TQX.call(TQX.create('TQX.ScriptTaskHandler'), 'register', {name: 'Paged'});
"""


def case_checked_program(directory):
    out = folder(os.path.join(directory, "out"), 0o755, VICTIM)
    own = folder(os.path.join(directory, "own"), 0o755, VICTIM)
    pub = folder(os.path.join(directory, "pub"), 0o777)
    shared = folder(os.path.join(directory, "shared"), 0o1777)
    tool = "#!/bin/sh\necho \"$0\" > %s/$1\n" % out
    # name: (folder, owner, mode, the reason it is refused, or None: it runs)
    rows = {"own": (own, VICTIM, 0o755, None),
            "open": (pub, VICTIM, 0o755, "other users may write in the folder above it " + pub),
            "theirs": (shared, ATTACKER, 0o755, "it belongs to another user"),
            "writable": (own, VICTIM, 0o777, "other users may write it")}
    table = []
    for name, (place, owner, mode, _) in rows.items():
        path = write(os.path.join(place, name + ".sh"), tool, mode, owner)
        table.append([path, name, hashlib.sha1(tool.encode()).hexdigest()])
    page = write(os.path.join(directory, "launch.js"), LAUNCHES.replace("ROWS", json.dumps(table)))
    code, out_text, err = run(directory, VICTIM, ["--script=" + page, "--window", "--debug", "--debugdir=" + out],
                              document="start:\n  type: Paged\n")
    log = "".join(open(os.path.join(out, name), errors="replace").read() for name in os.listdir(out)
                  if name.endswith(".log"))
    check(code == 0, "the run failed: %d %s" % (code, err))
    for name, (place, _, _, why) in rows.items():
        ran = os.path.join(out, name)
        if why is None:
            check(os.path.exists(ran) and open(ran).read() == "/proc/self/fd/3\n",
                  "%s: not run through its descriptor: %s" % (name, os.path.exists(ran) and open(ran).read()))
        else:
            check(not os.path.exists(ran), "%s: ran though %s" % (name, why))
            check("SHA1 refused (%s/%s.sh): %s" % (place, name, why) in log, "%s: not refused: %s" % (name, log))


INTEROP = """
var left = COUNT, task = null, center = TQX.create('TQX.NotificationCenter');
TQX.call(center, 'addObserver', {type: 'Interop', notification: 'Load', callbackId: 'load'});
TQX.call(center, 'addObserver', {type: 'Task', notification: 'Start', callbackId: 'start'});
PATHS.forEach(function (path) { TQX.call(TQX.create('TQX.WorkflowApp'), 'loadInterop', {name: 'x', path: path}); });
function onBatch(items) {
  items.forEach(function (item) {
    if (item.callbackId === 'start' && item.info.type === 'Paged') task = TQX.create('TQX.Task', item.sender);
    if (item.callbackId === 'load') { print('load ' + item.info.path + ' ' + item.info.successful); left--; }
  });
  if (task && left <= 0) { TQX.call(task, 'complete', {json: '{}'}); task = null; }
}
TQX.call(TQX.create('TQX.ScriptTaskHandler'), 'register', {name: 'Paged'});
"""


def case_interop_foreign(directory):
    out = folder(os.path.join(directory, "out"), 0o777)
    own = folder(os.path.join(directory, "own"), 0o755, VICTIM)
    pub = folder(os.path.join(directory, "pub"), 0o777)
    shared = folder(os.path.join(directory, "shared"), 0o1777)
    # path: (owner, why it is refused, or None: it loads)
    rows = {own + "/own.so": (VICTIM, None),
            pub + "/open.so": (VICTIM, "other users may write in the folder above it " + pub),
            shared + "/theirs.so": (ATTACKER, "it belongs to another user")}
    source = write(os.path.join(directory, "lib.c"),
                   "#include <stdio.h>\n__attribute__((constructor)) static void ran(void) {\n"
                   "  FILE *f = fopen(MARK, \"w\"); if (f) fclose(f);\n}\n")
    for path, (owner, _) in rows.items():
        mark = '"%s/%s"' % (out, os.path.basename(path))
        subprocess.run(["cc", "-shared", "-fPIC", "-DMARK=" + mark, "-o", path, source], check=True)
        os.chown(path, owner, owner)
        os.chmod(path, 0o755)
    page = write(os.path.join(directory, "load.js"), INTEROP.replace("COUNT", str(len(rows)))
                 .replace("PATHS", json.dumps(list(rows))))
    code, text, err = run(directory, VICTIM, ["--script=" + page, "--window"], document="start:\n  type: Paged\n")
    check(code == 0, "the run failed: %d %s" % (code, err))
    for path, (_, why) in rows.items():
        check(os.path.exists(os.path.join(out, os.path.basename(path))) == (why is None),
              "%s: constructor %s" % (path, "ran" if why else "did not run"))
        check(why is None or "Failed to load interop (%s): %s" % (path, why) in text, "%s: not refused" % path)


HOLD = """
import fcntl, os, sys, time
handle = os.open(sys.argv[1], os.O_RDONLY | os.O_CREAT, 0o644)
fcntl.flock(handle, fcntl.LOCK_EX)
open(sys.argv[2], "w").close()
while not os.path.exists(sys.argv[3]):
    time.sleep(0.05)
"""


def case_mark_planted(directory):
    name = "reach-mark-%d" % os.getpid()
    digest = hashlib.md5(name.lower().encode()).hexdigest()
    marker, segment = "/tmp/" + digest, "/dev/shm/" + digest
    document = ("start:\n  type: Singleton\n  name: %s\n  missing: m\n  exists: e\n"
                "m:\n  type: Error\n  message: missing-branch\ne:\n  type: Error\n  message: exists-branch\n" % name)
    shared = folder(os.path.join(directory, "shared"), 0o1777)
    planters = {"file": ["/usr/bin/touch", marker], "fifo": ["/usr/bin/mkfifo", marker],
                "folder": ["/bin/mkdir", marker], "held": None,
                "segment": ["/usr/bin/python3", "-c", "import os; os.open('%s', os.O_CREAT, 0o666)" % segment],
                "none": [], "full": []}
    answers = {"file": "exists", "fifo": "exists", "folder": "exists", "held": "exists", "segment": "missing",
               "none": "missing", "full": "missing"}
    full = ["unshare", "-m", "sh", "-c", "mount -t tmpfs -o size=4k tmpfs /dev/shm && (cat /dev/zero > /dev/shm/f)"
            ' 2>/dev/null; "$@"; code=$?; ls -A /dev/shm; exit $code', "sh"]
    for row, planter in planters.items():
        holder = None
        try:
            if planter is None:
                ready = os.path.join(shared, "ready")
                holder = subprocess.Popen(as_user(ATTACKER) + ["/usr/bin/python3", "-c", HOLD, marker, ready,
                                                               os.path.join(shared, "stop")])
                while not os.path.exists(ready):
                    time.sleep(0.02)
            elif planter:
                subprocess.run(as_user(ATTACKER) + planter, check=True)
            code, out, err = run(directory, VICTIM, ["--window"], document, prefix=full if row == "full" else [])
            check(code == 1, "%s: the run failed: %d %s" % (row, code, err[-400:]))
            check(row != "full" or "Unable to reserve the mailbox" in out and out.endswith("}\nf\n"), out[-400:])
            check(answers[row] + "-branch" in out, "%s: not %s: %s" % (row, answers[row], out[-400:]))
            if row == "segment":
                check(os.stat(segment).st_size == 0, "the planted mailbox was grown")
            else:
                check(not os.path.exists(segment), "%s: the run left its mailbox" % row)
            check(os.path.lexists(marker) == (row not in ("segment", "none", "full")), "%s: marker left or taken" % row)
        finally:
            if holder is not None:
                open(os.path.join(shared, "stop"), "w").close()
                holder.wait()
                os.unlink(os.path.join(shared, "stop"))
                os.unlink(os.path.join(shared, "ready"))
            for path in (marker, segment):
                if os.path.isdir(path) and not os.path.islink(path):
                    os.rmdir(path)
                elif os.path.lexists(path):
                    os.unlink(path)


def main():
    if os.geteuid() != 0:
        fail("playing other users needs root")
    directory = tempfile.mkdtemp(prefix="host_reach_")
    os.chmod(directory, 0o755)
    try:
        globals()["case_" + CASE](directory)
    finally:
        if not os.environ.get("HOST_REACH_KEEP"):
            shutil.rmtree(directory, ignore_errors=True)


main()
